// The control state and the table of controls give every control the same
// default, so the one the panel shows is the one the model starts with.
#include <gtest/gtest.h>

#include "sim/controls/control_table.h"
#include "sim/core/program_start.h"
#include "sim/core/simulation.h"

TEST(ControlTable, TheControlStateStartsWithEveryDefaultOfTheTable)
{
    const ControlState fresh;
    Simulation started;
    StartProgram(started, {});
    for (const ControlDefinition& control : ControlTable()) {
        SCOPED_TRACE(control.name);
        EXPECT_EQ(ControlValue(started.controls, control), control.defaultValue);
        // The program's start writes the usage table and fills the field chooser
        // (which holds no selection before); every other control opens as it starts.
        if (control.kind == ControlKind::UsageCell) EXPECT_EQ(ControlValue(fresh, control), "");
        else if (control.kind == ControlKind::FieldChooser) EXPECT_EQ(ControlValue(fresh, control), "-1");
        else EXPECT_EQ(ControlValue(fresh, control), control.defaultValue);
    }
}
