#pragma once
#include <QObject>
#include <functional>

#include "sim/controls/control_table.h"

struct Simulation;
class QWidget;
class UsageGrid;
class QString;

// What a control's tooltip says: its meaning, unit and range, from the table.
QString ControlToolTip(const ControlDefinition& control);

// Wires every control of the table to the simulation, finding each widget by its
// object name: a change of the widget sets the control through the table, so its
// change handler runs as it does for every other front end. A handler that fails
// is reported through `guard`; a text a handler rewrote (the cell size kept within
// 2..10, an empty return noise) is shown in its edit at once. Every control, and
// every cell of the usage table, explains itself in its tooltip.
class ControlBinder : public QObject {
    Q_OBJECT
public:
    using Guard = std::function<void(const std::function<void()>& action)>;

    ControlBinder(Simulation& sim, QWidget* panelRoot, UsageGrid* usageGrid, Guard guard);

    // Shows every control's value as the control state holds it (a loaded run's),
    // without raising the widgets' changes: no change handler runs.
    void ShowValues();

private:
    void BindEdit(const ControlDefinition& control, QWidget* widget);
    void BindCheckable(const ControlDefinition& control, QWidget* widget);
    void BindNumber(const ControlDefinition& control, QWidget* widget);
    void BindFieldChooser(const ControlDefinition& control, QWidget* widget);
    // Shows the control state's texts in their edits where a handler changed them.
    void SyncEdits();

    Simulation& sim_;
    QWidget* panelRoot_;
    UsageGrid* usageGrid_;
    Guard guard_;
};
