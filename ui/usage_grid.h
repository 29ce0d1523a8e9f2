#pragma once
#include <QSet>
#include <QTableWidget>
#include <array>
#include <string>

// The usage table: a 6 x 4 grid whose first row and column are fixed headers.
// The data cells are edited in place; the grid takes over the editor's text at
// every change, so a half-typed number is what the grid holds. Every key
// release, in the grid or in its editor, is reported, if the key's press came
// to the grid or its editor too: a key pressed elsewhere (Enter or Esc closing a
// message box, say) and released here is not the user's typing in the table.
class UsageGrid : public QTableWidget {
    Q_OBJECT
public:
    static constexpr int kColumns = 6;
    static constexpr int kRows = 4;

    explicit UsageGrid(QWidget* parent = nullptr);

    // Writes all texts, [column][row], without reporting them as edits.
    void SetTexts(const std::array<std::array<std::string, kRows>, kColumns>& texts);
    QString Text(int column, int row) const;

signals:
    // A data cell's text changed by editing (column, row as in the table: column first).
    void cellTextEdited(int column, int row, const QString& text);
    void keyReleased();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void ReportEdit(QTableWidgetItem* item);
    // Key events of the grid and of its editor.
    void NotePress(const QKeyEvent* event);
    void ReportRelease(const QKeyEvent* event);
    // Forgets the pressed keys once the focus is neither on the grid nor in it:
    // their releases will not come here.
    void ForgetPressesIfFocusLeft();

    bool filling_ = false;
    QSet<int> pressedKeys_;
};
