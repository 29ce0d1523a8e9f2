#pragma once
#include <QTableWidget>
#include <array>
#include <string>

// The usage table: a 6 x 4 grid whose first row and column are fixed headers.
// The data cells are edited in place; the grid takes over the editor's text at
// every change, so a half-typed number is what the grid holds. Every key
// release, in the grid or in its editor, is reported.
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
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void ReportEdit(QTableWidgetItem* item);
    bool filling_ = false;
};
