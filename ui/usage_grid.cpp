#include "ui/usage_grid.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <functional>

namespace {

// An in-place editor that writes every change straight into the grid and
// hands its key presses, key releases and loss of focus to the grid.
class LiveEditDelegate : public QStyledItemDelegate {
public:
    LiveEditDelegate(UsageGrid* grid, std::function<void(QEvent*)> onEditorEvent)
        : QStyledItemDelegate(grid), onEditorEvent_(std::move(onEditorEvent))
    {
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        auto* editor = new QLineEdit(parent);
        editor->setFrame(false);
        QPersistentModelIndex cell(index);
        QAbstractItemModel* model = const_cast<QAbstractItemModel*>(index.model());
        connect(editor, &QLineEdit::textEdited, editor, [model, cell](const QString& text) {
            if (cell.isValid()) model->setData(cell, text, Qt::EditRole);
        });
        return editor;
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyRelease:
            onEditorEvent_(event);
            return true;
        case QEvent::KeyPress:
        case QEvent::FocusOut:
            onEditorEvent_(event);
            break;
        default:
            break;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    std::function<void(QEvent*)> onEditorEvent_;
};

}  // namespace

UsageGrid::UsageGrid(QWidget* parent) : QTableWidget(kRows, kColumns, parent)
{
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setDefaultSectionSize(45);
    verticalHeader()->setDefaultSectionSize(20);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setShowGrid(true);
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                    QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setItemDelegate(new LiveEditDelegate(this, [this](QEvent* event) {
        if (event->type() == QEvent::KeyPress) NotePress(static_cast<QKeyEvent*>(event));
        else if (event->type() == QEvent::KeyRelease) ReportRelease(static_cast<QKeyEvent*>(event));
        else ForgetPressesIfFocusLeft();
    }));

    const QBrush fixedBackground = palette().button();
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            auto* item = new QTableWidgetItem();
            if (row == 0 || column == 0) {
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(fixedBackground);
            }
            setItem(row, column, item);
        }
    }
    setCurrentCell(1, 1);
    connect(this, &QTableWidget::itemChanged, this, &UsageGrid::ReportEdit);
}

void UsageGrid::SetTexts(const std::array<std::array<std::string, kRows>, kColumns>& texts)
{
    // An editor left open would write its old text back when it closes.
    if (state() == QAbstractItemView::EditingState)
        if (QWidget* editor = indexWidget(currentIndex())) closeEditor(editor, QAbstractItemDelegate::NoHint);
    filling_ = true;
    for (int column = 0; column < kColumns; ++column)
        for (int row = 0; row < kRows; ++row)
            item(row, column)->setText(QString::fromStdString(texts[column][row]));
    filling_ = false;
}

QString UsageGrid::Text(int column, int row) const
{
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

void UsageGrid::ReportEdit(QTableWidgetItem* item)
{
    if (filling_ || item->row() == 0 || item->column() == 0) return;
    emit cellTextEdited(item->column(), item->row(), item->text());
}

void UsageGrid::keyPressEvent(QKeyEvent* event)
{
    // Noted first: the press may open the editor, which then gets it too.
    NotePress(event);
    QTableWidget::keyPressEvent(event);
}

void UsageGrid::keyReleaseEvent(QKeyEvent* event)
{
    QTableWidget::keyReleaseEvent(event);
    ReportRelease(event);
}

void UsageGrid::focusOutEvent(QFocusEvent* event)
{
    QTableWidget::focusOutEvent(event);
    ForgetPressesIfFocusLeft();
}

void UsageGrid::NotePress(const QKeyEvent* event)
{
    pressedKeys_.insert(event->key());
}

void UsageGrid::ReportRelease(const QKeyEvent* event)
{
    if (!pressedKeys_.contains(event->key())) return;
    // A held key repeats as release and press pairs; it stays pressed until its last release.
    if (!event->isAutoRepeat()) pressedKeys_.remove(event->key());
    emit keyReleased();
}

void UsageGrid::ForgetPressesIfFocusLeft()
{
    // The focus has already moved on when the old holder hears that it lost it.
    QWidget* focus = QApplication::focusWidget();
    if (focus != this && !isAncestorOf(focus)) pressedKeys_.clear();
}
