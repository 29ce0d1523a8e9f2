// The control state and the table of controls give every control the same
// default, so the one the panel shows is the one the model starts with.
#include <gtest/gtest.h>

#include "sim/controls/control_table.h"
#include "sim/controls/conversion.h"
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

// Every range holds as the table says it does: a range refused when set refuses
// the values just outside it, an integer edit's range is refused when the model
// reads it, the cell size is brought back within its range, and a typical range
// is never enforced.
TEST(ControlTable, RangesHoldAsTheTableSays)
{
    const auto ends = [](const char* range) {
        const std::string text = range;
        const auto dots = text.find("..");
        return std::pair{std::stoll(text.substr(0, dots)), std::stoll(text.substr(dots + 2))};
    };
    for (const ControlDefinition& control : ControlTable()) {
        SCOPED_TRACE(control.name);
        Simulation sim;
        StartProgram(sim, {});
        switch (control.rangeRule) {
        case RangeRule::Refused:
            if (control.kind == ControlKind::CheckBox) {
                EXPECT_THROW(CheckControlValue(control.name, "2"), ControlValueError);
            } else if (control.kind == ControlKind::RadioButton) {
                EXPECT_THROW(CheckControlValue(control.name, "0"), ControlValueError);
            } else {
                const auto [low, high] = ends(control.range);
                EXPECT_NO_THROW(CheckControlValue(control.name, std::to_string(low)));
                EXPECT_NO_THROW(CheckControlValue(control.name, std::to_string(high)));
                EXPECT_THROW(CheckControlValue(control.name, std::to_string(low - 1)), ControlValueError);
                EXPECT_THROW(CheckControlValue(control.name, std::to_string(high + 1)), ControlValueError);
            }
            break;
        case RangeRule::Converted: {
            const auto [low, high] = ends(control.range);
            for (const long long inside : {low, high}) {
                WriteControl(sim.controls, control, std::to_string(inside));
                EXPECT_EQ(ReadInteger(sim.controls, control.text), inside);
            }
            for (const long long outside : {low - 1, high + 1}) {
                WriteControl(sim.controls, control, std::to_string(outside));
                EXPECT_THROW(ReadInteger(sim.controls, control.text), ConversionError);
            }
            break;
        }
        case RangeRule::KeptWithin: {
            const auto [low, high] = ends(control.range);
            SetControl(sim, control, std::to_string(low - 1));
            EXPECT_EQ(ControlValue(sim.controls, control), std::to_string(low));
            SetControl(sim, control, std::to_string(high + 1));
            EXPECT_EQ(ControlValue(sim.controls, control), std::to_string(high));
            break;
        }
        case RangeRule::None:
            // Reals and usage cells: any text is held as typed, whatever their typical range.
            for (const char* value : {"-1", "5", "1e6"}) {
                SetControl(sim, control, value);
                EXPECT_EQ(ControlValue(sim.controls, control), value);
            }
            break;
        }
        // A typical range is only ever said to be so.
        if (*control.typical) EXPECT_NE(RangeText(control).find("(not enforced)"), std::string::npos);
    }
}

// A misspelt name is refused with the nearest names of the table, and only those.
TEST(ControlTable, AnUnknownNameIsRefusedWithTheNearestNames)
{
    const struct {
        const char* name;
        const char* message;
    } cases[] = {
        {"Edit_sise", "unknown control 'Edit_sise'; did you mean 'Edit_size'?"},
        {"e_cprobab", "unknown control 'e_cprobab'; did you mean 'E_CProbab'?"},
        {"E_crAg", "unknown control 'E_crAg'; did you mean 'E_crAgs' or 'E_grav'?"},
        {"speed", "unknown control 'speed'"},
        {"", "unknown control ''"},
    };
    for (const auto& c : cases) {
        try {
            CheckControlValue(c.name, "1");
            ADD_FAILURE() << c.name << " was taken";
        } catch (const ControlValueError& e) {
            EXPECT_STREQ(e.what(), c.message) << c.name;
        }
    }
}
