#include "ui/control_binder.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <vector>

#include "sim/core/simulation.h"
#include "ui/usage_grid.h"

QString ControlToolTip(const ControlDefinition& control)
{
    QString tip = QString::fromUtf8(control.meaning);
    if (*control.unit) tip += QStringLiteral("\nunit: ") + QString::fromUtf8(control.unit);
    const std::string range = RangeText(control);
    if (!range.empty()) tip += QStringLiteral("\n") + QString::fromStdString(range);
    return tip;
}

ControlBinder::ControlBinder(Simulation& sim, QWidget* panelRoot, UsageGrid* usageGrid, Guard guard)
    : QObject(panelRoot), sim_(sim), panelRoot_(panelRoot), usageGrid_(usageGrid), guard_(std::move(guard))
{
    for (const ControlDefinition& control : ControlTable()) {
        if (control.kind == ControlKind::UsageCell) {
            // A cell's tooltip is no edit of its text: the grid stays quiet.
            const QSignalBlocker quiet(usageGrid);
            if (QTableWidgetItem* cell = usageGrid->item(control.usageRow, control.usageColumn))
                cell->setToolTip(ControlToolTip(control));
            continue;  // the grid is one widget, below
        }
        QWidget* widget = panelRoot->findChild<QWidget*>(control.name);
        if (!widget) continue;
        widget->setToolTip(ControlToolTip(control));
        switch (control.kind) {
        case ControlKind::IntegerEdit:
        case ControlKind::RealEdit:
            BindEdit(control, widget);
            break;
        case ControlKind::CheckBox:
        case ControlKind::RadioButton:
            BindCheckable(control, widget);
            break;
        case ControlKind::ScrollBar:
            BindNumber(control, widget);
            break;
        case ControlKind::FieldChooser:
            BindFieldChooser(control, widget);
            break;
        case ControlKind::UsageCell:
            break;
        }
    }
    // The grid takes over an editor's text at every change; the table is read
    // again when a key is released in it, not at every change.
    connect(usageGrid, &UsageGrid::cellTextEdited, this, [this](int column, int row, const QString& text) {
        if (const ControlDefinition* control = FindUsageCell(column, row))
            WriteControl(sim_.controls, *control, text.toStdString());
    });
}

void ControlBinder::BindEdit(const ControlDefinition& control, QWidget* widget)
{
    auto* edit = qobject_cast<QLineEdit*>(widget);
    connect(edit, &QLineEdit::textChanged, this, [this, &control](const QString& text) {
        guard_([this, &control, &text] { SetControlText(sim_, control, text.toStdString()); });
        SyncEdits();
    });
}

void ControlBinder::BindCheckable(const ControlDefinition& control, QWidget* widget)
{
    auto* button = qobject_cast<QAbstractButton*>(widget);
    connect(button, &QAbstractButton::toggled, this, [this, &control](bool checked) {
        guard_([this, &control, checked] { SetControlChecked(sim_, control, checked); });
    });
}

void ControlBinder::BindNumber(const ControlDefinition& control, QWidget* widget)
{
    auto* bar = qobject_cast<QScrollBar*>(widget);
    connect(bar, &QScrollBar::valueChanged, this, [this, &control](int position) {
        guard_([this, &control, position] { SetControlNumber(sim_, control, position); });
    });
}

void ControlBinder::BindFieldChooser(const ControlDefinition& control, QWidget* widget)
{
    auto* chooser = qobject_cast<QComboBox*>(widget);
    // The chooser's selection is the shown field; text typed into it selects
    // nothing, and the field of the last valid selection stays shown.
    connect(chooser, &QComboBox::currentIndexChanged, this, [this, &control](int index) {
        guard_([this, &control, index] { SetControlNumber(sim_, control, index); });
    });
    connect(chooser, &QComboBox::editTextChanged, this, [this, &control, chooser](const QString& text) {
        const int index = chooser->currentIndex();
        const bool selected = index >= 0 && chooser->itemText(index) == text;
        guard_([this, &control, selected, index] { SetControlNumber(sim_, control, selected ? index : -1); });
    });
}

void ControlBinder::SyncEdits()
{
    for (const ControlDefinition& control : ControlTable()) {
        if (control.kind != ControlKind::IntegerEdit && control.kind != ControlKind::RealEdit) continue;
        auto* edit = panelRoot_->findChild<QLineEdit*>(control.name);
        const QString wanted = QString::fromStdString(sim_.controls.*control.text);
        if (edit && edit->text() != wanted) edit->setText(wanted);  // raises the change again, as typing would
    }
}

void ControlBinder::ShowValues()
{
    const ControlState& controls = sim_.controls;
    // Every widget stays quiet until all show their values: a radio button switched
    // on switches its partner off, which would otherwise raise the partner's change.
    std::vector<QSignalBlocker> quiet;
    quiet.emplace_back(usageGrid_);
    for (const ControlDefinition& control : ControlTable())
        if (control.kind != ControlKind::UsageCell)
            if (QWidget* widget = panelRoot_->findChild<QWidget*>(control.name)) quiet.emplace_back(widget);
    for (const ControlDefinition& control : ControlTable()) {
        QWidget* widget = control.kind == ControlKind::UsageCell ? nullptr : panelRoot_->findChild<QWidget*>(control.name);
        if (!widget) continue;
        switch (control.kind) {
        case ControlKind::IntegerEdit:
        case ControlKind::RealEdit:
            qobject_cast<QLineEdit*>(widget)->setText(QString::fromStdString(controls.*control.text));
            break;
        case ControlKind::CheckBox:
        case ControlKind::RadioButton:
            qobject_cast<QAbstractButton*>(widget)->setChecked(controls.*control.checked);
            break;
        case ControlKind::ScrollBar:
            qobject_cast<QScrollBar*>(widget)->setValue(controls.*control.number);
            break;
        case ControlKind::FieldChooser:
            qobject_cast<QComboBox*>(widget)->setCurrentIndex(controls.*control.number);
            break;
        case ControlKind::UsageCell:
            break;
        }
    }
    usageGrid_->SetTexts(controls.StringGrid1);
}
