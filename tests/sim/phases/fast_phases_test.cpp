// Each fast phase against its plain version, bit for bit: whole runs of the step
// against a step made of the plain phases, and single phases on hostile states.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "sim/controls/conversion.h"
#include "sim/core/setup.h"
#include "sim/core/time_step.h"
#include "sim/fields/field_normalisation.h"
#include "sim/fields/one_pass_diffusion.h"
#include "sim/fields/plain_diffusion.h"
#include "sim/phases/display_range.h"
#include "sim/phases/growth.h"
#include "sim/phases/movement.h"
#include "sim/phases/tracks.h"
#include "tests/sim/sim_test_support.h"

namespace {

std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }

void CopyState(Simulation& to, const Simulation& from)
{
    to.controls = from.controls;
    to.usage = from.usage;
    to.random = from.random;
    to.run = from.run;
}

// Every value the step's phases write, compared by its bits.
::testing::AssertionResult SameBits(const Simulation& a, const Simulation& b)
{
    if (a.random.seed != b.random.seed) return ::testing::AssertionFailure() << "generators differ";
    if (a.run.displayMax != b.run.displayMax || a.run.displayMin != b.run.displayMin ||
        std::signbit(a.run.displayMin) != std::signbit(b.run.displayMin))
        return ::testing::AssertionFailure() << "display ranges differ";
    const auto& ca = a.run.cells.InPassOrder();
    const auto& cb = b.run.cells.InPassOrder();
    for (std::size_t i = 0; i < ca.size(); ++i) {
        const TCell &x = ca[i], &y = cb[i];
        for (int f = 0; f < 3; ++f) {
            const double px = a.run.cells.PotentialAt(i, f), py = b.run.cells.PotentialAt(i, f);
            if (Bits(px) != Bits(py))
                return ::testing::AssertionFailure() << "cell " << i << " field " << f << ": " << px << " against " << py;
        }
        if (Bits(x.allTracks) != Bits(y.allTracks) || Bits(x.returnTracks) != Bits(y.returnTracks))
            return ::testing::AssertionFailure() << "cell " << i << " tracks";
        if (x.kind != y.kind || x.agentCount != y.agentCount || x.shownFieldNumber != y.shownFieldNumber)
            return ::testing::AssertionFailure() << "cell " << i << " kind, agents or shown field";
    }
    if (a.run.agents.size() != b.run.agents.size()) return ::testing::AssertionFailure() << "agent counts";
    for (std::size_t i = 0; i < a.run.agents.size(); ++i) {
        const TAgent &x = a.run.agents[i], &y = b.run.agents[i];
        if (x.column != y.column || x.row != y.row || x.homeColumn != y.homeColumn || x.homeRow != y.homeRow ||
            x.heading != y.heading || x.mode != y.mode || x.travelSteps != y.travelSteps || x.migrated != y.migrated)
            return ::testing::AssertionFailure() << "agent " << i;
    }
    return ::testing::AssertionSuccess();
}

// TimeStep made of the plain version of every phase (no screen).
void PlainTimeStep(Simulation& sim)
{
    Run& run = sim.run;
    DiffusePotentialsPlain(sim);
    if (static_cast<std::int64_t>(run.agents.size()) < StrToInt(sim.controls.Edit_anzAg)) CreateAgents(sim);
    NormalizePotentials(sim);
    ComputeDisplayRange(sim);
    MoveAgents(sim);
    if (sim.controls.CB_decay) DecayTracks(sim.run, StrToFloat(sim.controls.E_decay));
    else NormalizeTracksPlain(sim.run);
    run.stepCount += 1;
}

struct Configuration {
    const char* name;
    std::function<void(ControlState&)> beforeSetUp;
    std::function<void(Simulation&, int step)> eachStep;  // may change controls between steps
};

void NoChange(Simulation&, int) {}

void SetUsage(Simulation& sim, int column, int row, const char* text)
{
    sim.controls.StringGrid1[column][row] = text;
    ReadUsageTable(sim.controls, sim.usage);
}

}  // namespace

TEST(FastPhases, WholeRunsMatchThePlainStepAfterEveryStep)
{
    const std::vector<Configuration> configurations{
        {"defaults, cell size 2", [](ControlState&) {}, NoChange},
        {"noise 4,8 and coefficient 0,9 everywhere, migration, roulette, batches of 12",
         [](ControlState& c) {
             c.Edit_size = "5";
             c.CB_migrate = true;
             c.rb_rulette = true;
             c.rb_hill = false;
             c.E_crAgs = "12";
         },
         [](Simulation& sim, int step) {
             if (step != 0) return;
             for (int f = 1; f <= 3; ++f) {
                 SetUsage(sim, 5, f, "4,8");
                 SetUsage(sim, 1, f, "0,9");
             }
         }},
        {"no noise: ties and exact zeros; batches of 8, 8 and 9; potential field shown",
         [](ControlState& c) {
             c.Edit_size = "4";
             c.E_crAgs = "8";
             c.E_crServ = "8";
             c.E_crIndu = "9";
             c.CB_potField = true;
             c.CB_FieldNr = 1;
         },
         [](Simulation& sim, int step) {
             if (step == 0)
                 for (int f = 1; f <= 3; ++f) SetUsage(sim, 5, f, "0");
         }},
        {"noise 31 and -6, weights 12 and -3: fields beyond the integer range",
         [](ControlState& c) { c.Edit_size = "6"; },
         [](Simulation& sim, int step) {
             if (step != 0) return;
             SetUsage(sim, 5, 1, "31");
             SetUsage(sim, 5, 3, "-6");
             SetUsage(sim, 2, 1, "12");
             SetUsage(sim, 3, 2, "-3");
         }},
        {"decay on and off, every display",
         [](ControlState& c) {
             c.Edit_size = "10";
             c.CB_decay = true;
             c.E_decay = "1,5";
         },
         [](Simulation& sim, int step) {
             sim.controls.CB_decay = step < 20 || step > 40;
             sim.controls.CB_showAB = step % 3 != 0;
             sim.controls.CB_potField = step % 7 == 0;
             sim.controls.CB_FieldNr = step % 3;
         }},
    };
    for (const Configuration& configuration : configurations) {
        Simulation fast, plain;
        for (Simulation* sim : {&fast, &plain}) {
            configuration.beforeSetUp(sim->controls);
            FormCreate(*sim);
        }
        for (int step = 0; step < 70; ++step) {
            for (Simulation* sim : {&fast, &plain}) configuration.eachStep(*sim, step);
            fast.SetWorkerCount(1 + step % 2);
            TimeStep(fast);
            PlainTimeStep(plain);
            ASSERT_TRUE(SameBits(fast, plain)) << configuration.name << ", step " << step + 1;
        }
    }
}

TEST(FastPhases, OnePassDiffusionMatchesThePlainOneOnHostileFieldsAndTinyGrids)
{
    const double specials[] = {0.0,
                               -0.0,
                               0.125,
                               -0.125,
                               std::nextafter(0.125, 0.0),
                               std::nextafter(16.0, 0.0),
                               16.0,
                               -std::nextafter(16.0, 0.0),
                               std::numeric_limits<double>::denorm_min(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(),
                               1e300,
                               3.0};
    std::mt19937 random(5);
    std::uniform_real_distribution<double> typical(0.0, 10.0);
    std::uniform_int_distribution<int> special(0, std::size(specials) - 1);
    const std::pair<int, int> shapes[] = {{1, 1}, {1, 3}, {3, 1}, {2, 2}, {5, 4}, {7, 9}};
    for (const auto& [columns, rows] : shapes) {
        for (const double coefficient : {1.0, 0.5}) {
            // The last noise, the largest with an integer form, takes sums past 63 bits.
            for (const double noise : {6.0, 4.8, -6.0, 0.0, 2147483647.0 / 67108864.0}) {
                for (const int workers : {1, 2}) {
                    for (const bool hostile : {false, true}) {
                        Simulation fast, plain;
                        MakeEmptyRun(fast, columns, rows);
                        fast.usage.diffusion = {coefficient, 1.0, coefficient};
                        fast.usage.noise = {noise, 5.0, noise};
                        fast.random.seed = static_cast<std::uint32_t>(random());
                        for (std::size_t i = 0; i < fast.run.cells.InPassOrder().size(); ++i)
                            for (int f = 0; f < 3; ++f)
                                fast.run.cells.PotentialAt(i, f) =
                                    hostile && random() % 3 == 0 ? specials[special(random)] : typical(random);
                        fast.SetWorkerCount(workers);
                        CopyState(plain, fast);
                        DiffusePotentialsInOnePass(fast);
                        DiffusePotentialsPlain(plain);
                        ASSERT_TRUE(SameBits(fast, plain)) << columns << "x" << rows << " coefficient " << coefficient
                                                           << " noise " << noise << " workers " << workers;
                    }
                }
            }
        }
    }
}

TEST(FastPhases, FusedNormalisationFollowsGrowthOntoTheExtremes)
{
    // Growth's weights land on the cells that hold a field's maximum and minimum,
    // lower a maximum, raise a minimum, and make a -0.0 tie with a +0.0 minimum.
    struct Change {
        int column, row;
        double weight;
    };
    const std::vector<std::vector<Change>> cases{
        {},
        {{2, 2, 5.0}},    // (2, 2) holds the maximum: it grows
        {{2, 2, -5.0}},   // ... or falls
        {{0, 0, 1.0}},    // (0, 0) holds the minimum: it rises
        {{0, 0, -1.0}},   // ... or falls further
        {{3, 1, -2.0}},   // an inner cell becomes the new minimum
        {{3, 1, 100.0}},  // ... or the new maximum
        {{4, 3, -2.0}, {4, 3, 2.0}},  // the same cell twice
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Simulation fast, plain;
        MakeEmptyRun(fast, 6, 5);
        fast.usage.noise = {0.0, 0.0, 0.0};
        double v = 1.0;
        for (std::size_t i = 0; i < fast.run.cells.InPassOrder().size(); ++i)
            for (int f = 0; f < 3; ++f) fast.run.cells.PotentialAt(i, f) = (v += 0.25);
        fast.run.cells.SetPotentials(0, 0, {0.125, 0.125, 0.125});
        fast.run.cells.SetPotentials(2, 2, {15.0, 15.0, 15.0});
        fast.SetWorkerCount(1);
        DiffusePotentialsInOnePass(fast);
        CopyState(plain, fast);
        for (Simulation* sim : {&fast, &plain}) {
            for (const Change& change : cases[i]) {
                sim->usage.weight[0][0] = sim->usage.weight[1][0] = sim->usage.weight[2][0] = change.weight;
                MarkHomeCell(*sim, change.column, change.row);
            }
        }
        NormalizePotentialsInDisplayPass(fast);
        NormalizePotentials(plain);
        ComputeDisplayRange(plain);
        ASSERT_TRUE(SameBits(fast, plain)) << "case " << i;
    }
    // -0.0 and +0.0 minimums: which one a scan meets first decides the bits.
    Simulation fast, plain;
    MakeEmptyRun(fast, 4, 4);
    fast.usage.noise = {0.0, 0.0, 0.0};
    fast.usage.diffusion = {0.0, 0.0, 0.0};
    fast.run.cells.SetPotentials(3, 3, {5.0, 5.0, 5.0});
    fast.SetWorkerCount(2);
    DiffusePotentialsInOnePass(fast);  // all +0.0 but one cell
    CopyState(plain, fast);
    for (Simulation* sim : {&fast, &plain}) {
        sim->usage.weight[0][0] = -0.0;  // +0.0 + -0.0 stays +0.0; a home at (1, 1) with -1 then +1 is +0.0 too
        sim->usage.weight[1][0] = -1.0;
        sim->usage.weight[2][0] = -1.0;
        MarkHomeCell(*sim, 1, 1);
    }
    NormalizePotentialsInDisplayPass(fast);
    NormalizePotentials(plain);
    ComputeDisplayRange(plain);
    EXPECT_TRUE(SameBits(fast, plain));
}

TEST(FastPhases, TrackNormalisationWithItsSummaryMatchesThePlainOne)
{
    std::mt19937 random(3);
    Simulation fast, plain;
    MakeEmptyRun(fast, 9, 7);
    CopyState(plain, fast);
    int skipped = 0;
    for (int round = 0; round < 400; ++round) {
        // Movement's tracks on a few cells, sometimes none; now and then a decay,
        // which leaves values the summary cannot vouch for.
        const int moves = round % 5 == 0 ? 0 : static_cast<int>(random() % 12);
        for (int m = 0; m < moves; ++m) {
            const std::size_t index = random() % fast.run.cells.InPassOrder().size();
            const bool returning = random() % 2;
            for (Simulation* sim : {&fast, &plain}) {
                TCell& cell = sim->run.cells.InPassOrder()[index];
                if (returning) LayReturnTrack(sim->run, cell);
                else LayAllTrack(sim->run, cell);
            }
        }
        if (round % 37 == 36) {
            for (Simulation* sim : {&fast, &plain}) {
                sim->controls.E_decay = round % 74 == 73 ? "-0,5" : "0,9";
                DecayTracks(sim->run, StrToFloat(sim->controls.E_decay));
            }
        } else {
            NormalizeTracksWithSummary(fast.run);
            NormalizeTracksPlain(plain.run);
        }
        ASSERT_TRUE(SameBits(fast, plain)) << "round " << round;
        fast.run.stepCount += 1;  // the summary serves the next step's normalisation
        skipped += fast.run.trackSummary.known && fast.run.trackSummary.all.max == 255.0;
    }
    EXPECT_GT(skipped, 40);   // the summary's shortcuts were taken
}

TEST(FastPhases, CandidateListsCutShortFallBackToTheScanWhenEarlierBatchesTookThem)
{
    // All three fields rank the cells alike, so homes and service cells take the
    // industry field's best cells too: 8 + 8 + 8 placements need 24 industry
    // candidates, more than a list holds.
    Simulation fast, plain;
    MakeEmptyRun(fast, 6, 5);
    fast.usage.noise = {0.0, 0.0, 0.0};
    fast.usage.diffusion = {0.0, 0.0, 0.0};
    double v = 0.5;
    for (std::size_t i = 0; i < fast.run.cells.InPassOrder().size(); ++i, v += 0.25)
        for (int f = 0; f < 3; ++f) fast.run.cells.PotentialAt(i, f) = v;
    fast.controls.E_crAgs = fast.controls.E_crServ = fast.controls.E_crIndu = "8";
    CopyState(plain, fast);
    DiffusePotentialsInOnePass(fast);
    DiffusePotentialsPlain(plain);
    ASSERT_TRUE(fast.run.diffusionSummary.candidatesValid);
    ASSERT_EQ(fast.run.diffusionSummary.candidateCount[2], DiffusionSummary::kMaxCandidates);
    CreateAgents(fast);
    CreateAgents(plain);
    EXPECT_TRUE(SameBits(fast, plain));
}

TEST(FastPhases, FusedNormalisationScansWhenGrowthMakesAZeroTieWithTheMinimum)
{
    // The last cell of field 1 diffuses to -0.0 (coefficient and noise -0.0), the
    // minimum; a home at (0, 0) then brings that field to +0.0, which a scan meets
    // first, so the rescale subtracts +0.0, not -0.0.
    Simulation fast, plain;
    MakeEmptyRun(fast, 6, 5);
    for (std::size_t i = 0; i < fast.run.cells.InPassOrder().size(); ++i)
        for (int f = 0; f < 3; ++f) fast.run.cells.PotentialAt(i, f) = 2.0;
    fast.run.cells.Potential(5, 4, 1) = -0.0;
    fast.run.cells.Potential(3, 3, 1) = 3.0;  // the maximum is elsewhere
    fast.usage.diffusion = {1.0, -0.0, 1.0};
    fast.usage.noise = {6.0, -0.0, 6.0};
    fast.usage.weight = {};
    fast.usage.weight[1][0] = -2.0;  // the home changes field 1 only
    fast.SetWorkerCount(1);
    CopyState(plain, fast);
    DiffusePotentialsInOnePass(fast);
    DiffusePotentialsPlain(plain);
    ASSERT_EQ(Bits(fast.run.cells.Potential(5, 4, 1)), Bits(-0.0));
    for (Simulation* sim : {&fast, &plain}) MarkHomeCell(*sim, 0, 0);
    ASSERT_EQ(Bits(fast.run.cells.Potential(0, 0, 1)), Bits(0.0));
    NormalizePotentialsInDisplayPass(fast);
    NormalizePotentials(plain);
    ComputeDisplayRange(plain);
    EXPECT_TRUE(SameBits(fast, plain));
}

TEST(FastPhases, TrackScaleOfOneStillShiftsByAMinimumAboveZero)
{
    // Every cell has traffic: the minimum is 1 and the maximum 256, so the scale is
    // exactly 1 and yet every value moves down by 1.
    Simulation fast, plain;
    MakeEmptyRun(fast, 5, 4);
    for (TCell& cell : fast.run.cells.InPassOrder()) cell.allTracks = cell.returnTracks = 1.0;
    fast.run.cells(2, 3).allTracks = fast.run.cells(4, 1).returnTracks = 256.0;
    CopyState(plain, fast);
    for (int round = 0; round < 2; ++round) {
        NormalizeTracksWithSummary(fast.run);
        NormalizeTracksPlain(plain.run);
        ASSERT_TRUE(SameBits(fast, plain)) << "round " << round;
        fast.run.stepCount = plain.run.stepCount += 1;
    }
}

TEST(FastPhases, HalvesOfTheNormalisationJoinAsOneScanInRowMajorOrder)
{
    // -0.0 in the first half and +0.0 in the second: a scan keeps the -0.0 it meets
    // first, as the normalisation's minimum and as the display range's.
    for (const bool potentialShown : {false, true}) {
        Simulation fast, plain;
        MakeEmptyRun(fast, 6, 6);
        for (std::size_t i = 0; i < fast.run.cells.InPassOrder().size(); ++i)
            for (int f = 0; f < 3; ++f) fast.run.cells.PotentialAt(i, f) = 1.0 + f;
        fast.run.cells.Potential(1, 0, 0) = -0.0;
        fast.run.cells.Potential(4, 5, 0) = 0.0;
        fast.run.cells(0, 0).returnTracks = -0.0;  // the first zero a scan meets
        fast.controls.CB_potField = potentialShown;
        fast.controls.CB_FieldNr = 0;
        fast.SetWorkerCount(2);
        CopyState(plain, fast);
        NormalizePotentialsInDisplayPass(fast);
        NormalizePotentials(plain);
        ComputeDisplayRange(plain);
        EXPECT_TRUE(SameBits(fast, plain)) << (potentialShown ? "potential shown" : "return tracks shown");
    }
}

// The one-pass diffusion's summary (extremes and growth's candidate lists) is the
// same for one worker and for two whatever the helper's timing, on fields full of
// ties, where the blocks' lists and their join decide which of equal cells come first.
TEST(FastPhases, DiffusionSummaryIsTheSameForEveryCutOfTheRows)
{
    std::mt19937 random(11);
    const auto summaryAfterDiffusion = [](Simulation& sim, int workers) {
        sim.SetWorkerCount(workers);
        DiffusePotentialsInOnePass(sim);
        return sim.run.diffusionSummary;
    };
    for (const auto delay : {std::chrono::microseconds(0), std::chrono::microseconds(150),
                             std::chrono::microseconds(-1)}) {
        RowSplitter::DelayHelperForTesting(delay);
        for (const std::int32_t rows : {3, 9, 40, 101}) {
            Simulation one, two;
            MakeEmptyRun(one, 37, rows);
            one.controls.E_crAgs = "5";
            one.controls.E_crServ = "6";
            one.controls.E_crIndu = "5";
            one.usage.noise = {0.0, 0.0, 0.0};
            for (TCell& cell : one.run.cells.InPassOrder()) {
                for (int f = 0; f < 3; ++f)
                    one.run.cells.PotentialAt(one.run.cells.IndexOf(cell), f) = static_cast<double>(random() % 3);
                cell.kind = random() % 4 == 0 ? kResidential : kEmpty;
            }
            CopyState(two, one);
            const DiffusionSummary expected = summaryAfterDiffusion(one, 1);
            const DiffusionSummary summary = summaryAfterDiffusion(two, 2);
            for (int f = 0; f < 3; ++f) {
                SCOPED_TRACE(testing::Message() << "rows " << rows << " field " << f << " delay " << delay.count());
                EXPECT_EQ(Bits(summary.max[f]), Bits(expected.max[f]));
                EXPECT_EQ(Bits(summary.min[f]), Bits(expected.min[f]));
                ASSERT_EQ(summary.candidateCount[f], expected.candidateCount[f]);
                EXPECT_EQ(summary.wanted[f], expected.wanted[f]);
                for (int i = 0; i < expected.candidateCount[f]; ++i) {
                    EXPECT_EQ(summary.candidates[f][i].index, expected.candidates[f][i].index);
                    EXPECT_EQ(Bits(summary.candidates[f][i].value), Bits(expected.candidates[f][i].value));
                }
            }
            EXPECT_TRUE(SameBits(one, two));
        }
    }
    RowSplitter::DelayHelperForTesting(std::chrono::microseconds(0));
}
