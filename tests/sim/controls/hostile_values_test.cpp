// Texts and settings a user can type or pick that the defaults never reach: each
// either gives the system's conversion message where the field is read, or a run
// that carries on with sound values.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "sim/controls/control_handlers.h"
#include "sim/controls/control_table.h"
#include "sim/controls/conversion.h"
#include "sim/core/setup.h"
#include "sim/core/time_step.h"

namespace {

// Every edit field of the control table, whether it holds an integer.
struct EditField {
    const char* name;
    std::string ControlState::*text;
    bool integer;
    const ControlDefinition* control;
};

std::vector<EditField> EditFields()
{
    std::vector<EditField> fields;
    for (const ControlDefinition& control : ControlTable())
        if (control.kind == ControlKind::IntegerEdit || control.kind == ControlKind::RealEdit)
            fields.push_back({control.name, control.text, control.kind == ControlKind::IntegerEdit, &control});
    return fields;
}

const std::vector<EditField> kEditFields = EditFields();

// Types the text into the field, running its change handler as every front end does.
void Type(Simulation& sim, const EditField& field, const std::string& text)
{
    SetControlText(sim, *field.control, text);
}

// A small run that reads every field at every step: decay, migration and gravity lines on.
void StartSmallRun(Simulation& sim)
{
    sim.controls.Edit_size = "10";
    sim.controls.CB_decay = true;
    sim.controls.CB_migrate = true;
    sim.controls.CB_gravity = true;
    sim.controls.E_migTh = "0";  // every returning agent takes its migration test
    FormCreate(sim);
}

// Cells and agents hold values a later step can work with. Where the usage table
// holds huge values the potential fields may overflow, which nothing guards; all
// else must stay sound even then.
void ExpectSoundRun(const Run& run, bool fieldsMayOverflow = false)
{
    ASSERT_TRUE(run.ready);
    ASSERT_EQ(run.cells.InPassOrder().size(), std::size_t(run.columns) * std::size_t(run.rows));
    std::int64_t agentsOnCells = 0;
    for (const TCell& cell : run.cells.InPassOrder()) {
        if (!fieldsMayOverflow) {
            for (const double value : run.cells.PotentialsAt(run.cells.IndexOf(cell))) ASSERT_TRUE(std::isfinite(value));
        }
        ASSERT_TRUE(std::isfinite(cell.allTracks));
        ASSERT_TRUE(std::isfinite(cell.returnTracks));
        ASSERT_GE(cell.kind, 0);
        ASSERT_LE(cell.kind, 5);
        ASSERT_GE(cell.agentCount, 0);
        agentsOnCells += cell.agentCount;
    }
    EXPECT_EQ(agentsOnCells, std::int64_t(run.agents.size()));
    for (const TAgent& agent : run.agents) {
        ASSERT_TRUE(agent.column >= 0 && agent.column < run.columns);
        ASSERT_TRUE(agent.row >= 0 && agent.row < run.rows);
        // 0..360 after a turn, plus the half turn of a found destination or an arrival,
        // which the next turn normalises; a returning agent's direct way home is -180..180.
        ASSERT_TRUE(agent.heading >= -180 && agent.heading <= 540) << agent.heading;
    }
}

std::string MessageFor(const std::string& text, bool integer)
{
    return "'" + text + "' is not a valid " + (integer ? "integer" : "floating point") + " value";
}

// Runs steps until one fails; returns the failure's message, or "" when all ran.
std::string StepsUntilFailure(Simulation& sim, int steps)
{
    try {
        for (int i = 0; i < steps; ++i) TimeStep(sim);
    } catch (const ConversionError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(HostileValues, EveryEditFieldGivesItsMessageOrARunThatCarriesOn)
{
    struct Case {
        std::string text;
        bool integerConverts;
        bool realConverts;
    };
    const Case cases[] = {
        {"", false, false},          {"abc", false, false},       {"-", false, false},
        {"1e400", false, false},     {"-1e400", false, false},    {"2147483648", false, true},
        {" 12", true, true},         {"12 ", true, true},         {"nan", false, false},
        {"inf", false, false},       {"0x10", false, false},
    };
    for (const EditField& field : kEditFields) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(field.name) + " = \"" + c.text + "\"");
            Simulation sim;
            StartSmallRun(sim);
            for (int i = 0; i < 3; ++i) TimeStep(sim);
            const bool converts = field.integer ? c.integerConverts : c.realConverts;
            const std::string expected = MessageFor(c.text, field.integer);
            const std::string name = field.name;

            std::string failure;
            try {
                Type(sim, field, c.text);
            } catch (const ConversionError& e) {
                failure = e.what();  // the handler read it at once; the text stays as typed
            }
            if (name == "E_noise" && c.text.empty()) {
                EXPECT_EQ(sim.controls.E_noise, "0");  // never left empty
                EXPECT_EQ(failure, "");
                EXPECT_EQ(StepsUntilFailure(sim, 5), "");
                ExpectSoundRun(sim.run);
                continue;
            }
            if (name == "Edit_size" || name == "E_stop") {
                EXPECT_EQ(failure, converts ? "" : expected);
                // A cell size of 12 is brought back to 10; every other text stays as typed.
                EXPECT_EQ(sim.controls.*field.text, name == "Edit_size" && converts ? "10" : c.text);
                const std::int32_t stepsBefore = sim.run.stepCount;
                try {
                    B_setupClick(sim);
                    EXPECT_TRUE(converts);
                    EXPECT_EQ(sim.run.stepCount, 0);
                } catch (const ConversionError& e) {
                    EXPECT_EQ(std::string(e.what()), expected);
                    EXPECT_EQ(sim.run.stepCount, stepsBefore);  // the old run is kept, whole
                }
            } else {
                EXPECT_EQ(failure, "");
                // Read at the next step (growth, movement, decay, migration or gravity lines).
                EXPECT_EQ(StepsUntilFailure(sim, 5), converts ? "" : expected);
            }
            ExpectSoundRun(sim.run);
            // Correcting the text lets the run carry on.
            sim.controls.*field.text = "12";
            if (name == "E_CProbab" || name == "E_decay") sim.controls.*field.text = "0,5";
            EXPECT_EQ(StepsUntilFailure(sim, 3), "");
            ExpectSoundRun(sim.run);
        }
    }
}

TEST(HostileValues, ScrollBarEndsAndEveryCellSize)
{
    for (const std::int32_t size : {2, 3, 4, 5, 6, 7, 8, 9, 10}) {
        for (const std::int32_t position : {0, 180}) {
            SCOPED_TRACE(testing::Message() << "cell size " << size << ", scroll bars at " << position);
            Simulation sim;
            sim.controls.Edit_size = std::to_string(size);
            sim.controls.TrB_thresh = position;
            sim.controls.SB_wiggle = position;
            sim.controls.CB_migrate = true;
            sim.controls.rb_rulette = position == 180;
            sim.controls.rb_hill = position != 180;
            sim.controls.Edit_anzAg = "200";
            FormCreate(sim);
            EXPECT_EQ(StepsUntilFailure(sim, 25), "");
            ExpectSoundRun(sim.run);
            EXPECT_EQ(sim.run.agents.size(), 75u);
        }
    }
}

TEST(HostileValues, CreationCountsZeroNegativeAndLarge)
{
    struct Case {
        const char* maximum;
        const char* agents;
        const char* services;
        const char* industry;
        std::size_t agentsAfter;
    };
    const Case cases[] = {
        {"0", "3", "1", "1", 0},              // no agents allowed: no growth at all
        {"2400", "0", "0", "0", 0},           // growth runs and creates nothing
        {"2400", "-5", "-1", "-2147483648", 0},
        {"2400", "100000", "100000", "100000", 100000},  // every empty cell taken in the first step
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.maximum << " / " << c.agents << " / " << c.services << " / "
                                        << c.industry);
        Simulation sim;
        sim.controls.Edit_size = "10";
        sim.controls.Edit_anzAg = c.maximum;
        sim.controls.E_crAgs = c.agents;
        sim.controls.E_crServ = c.services;
        sim.controls.E_crIndu = c.industry;
        FormCreate(sim);
        EXPECT_EQ(StepsUntilFailure(sim, 4), "");
        ExpectSoundRun(sim.run);
        EXPECT_EQ(sim.run.agents.size(), c.agentsAfter);
    }
}

TEST(HostileValues, UsageTableEntriesNegativeZeroAndHuge)
{
    // Every one of the fifteen parameters in turn; huge values may overflow the fields,
    // which are not guarded, but the run must carry on, keep its agents on the grid
    // and every other value sound.
    for (int column = 1; column <= 5; ++column) {
        for (int row = 1; row <= 3; ++row) {
            // Huge entries may overflow the fields; "-3" and "0" keep every value finite.
            const std::pair<const char*, bool> entries[] = {{"-3", false},   {"0", false},     {"1e300", true},
                                                            {"-1e300", true}, {"1e308", true}, {"-1e308", true}};
            for (const auto& [text, huge] : entries) {
                SCOPED_TRACE(testing::Message() << "StringGrid1." << column << "." << row << " = " << text);
                Simulation sim;
                sim.controls.Edit_size = "10";
                FormCreate(sim);
                sim.controls.StringGrid1[column][row] = text;
                ReadUsageTable(sim.controls, sim.usage);
                EXPECT_EQ(StepsUntilFailure(sim, 12), "");
                EXPECT_EQ(sim.run.stepCount, 12);
                ExpectSoundRun(sim.run, huge);
                EXPECT_EQ(sim.run.agents.size(), 36u);  // three new agents in each of twelve steps
            }
        }
    }
}

TEST(HostileValues, DecayFactorsAndConsumeProbabilities)
{
    for (const char* decay : {"1", "1,5", "-0,5", "0"}) {
        SCOPED_TRACE(std::string("decay ") + decay);
        Simulation sim;
        sim.controls.Edit_size = "10";
        sim.controls.CB_decay = true;
        sim.controls.E_decay = decay;
        FormCreate(sim);
        EXPECT_EQ(StepsUntilFailure(sim, 30), "");
        ExpectSoundRun(sim.run);
    }
    std::int32_t successes[2] = {0, 0};
    for (const int probability : {0, 1}) {
        Simulation sim;
        sim.controls.Edit_size = "10";
        sim.controls.E_CProbab = std::to_string(probability);
        FormCreate(sim);
        EXPECT_EQ(StepsUntilFailure(sim, 60), "");
        ExpectSoundRun(sim.run);
        for (const TAgent& agent : sim.run.agents) successes[probability] += agent.success;
    }
    EXPECT_GT(successes[1], successes[0]);
}
