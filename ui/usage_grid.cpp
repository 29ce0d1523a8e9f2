#include "usage_grid.h"

#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <functional>

namespace {

// An in-place editor that writes every change straight into the grid and
// reports its key releases as the grid's own.
class LiveEditDelegate : public QStyledItemDelegate {
public:
    LiveEditDelegate(UsageGrid* grid, std::function<void()> onKeyRelease)
        : QStyledItemDelegate(grid), onKeyRelease_(std::move(onKeyRelease))
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
        if (event->type() == QEvent::KeyRelease) {
            onKeyRelease_();
            return true;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    std::function<void()> onKeyRelease_;
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
    setItemDelegate(new LiveEditDelegate(this, [this] { emit keyReleased(); }));

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

void UsageGrid::keyReleaseEvent(QKeyEvent* event)
{
    QTableWidget::keyReleaseEvent(event);
    emit keyReleased();
}
