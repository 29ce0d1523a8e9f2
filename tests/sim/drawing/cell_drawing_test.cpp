// What the drawing passes record in the model, apart from the pixels: which cells
// a pass lists, in which order, and what it records in them, against a plain scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <random>
#include <vector>

#include "sim/core/program_start.h"
#include "sim/core/time_step.h"
#include "sim/drawing/cell_drawing.h"
#include "tests/sim/sim_test_support.h"

namespace {

// A small run with every kind, traffic that moved by more than one since drawn
// and traffic that did not, and values in all three fields, from a fixed seed.
void MakeVariedRun(Simulation& sim, std::int32_t columns, std::int32_t rows)
{
    MakeEmptyRun(sim, columns, rows);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(0.0, 10.0);
    const double movedBy[] = {0.0, 1.0, -1.0, 2.5, -4.0};
    for (TCell& cell : sim.run.cells.InPassOrder()) {
        cell.kind = random() % 2 ? kEmpty : static_cast<std::int32_t>(random() % 6);
        cell.allTracks = value(random);
        cell.returnTracks = value(random);
        const std::size_t i = sim.run.cells.IndexOf(cell);
        for (int f = 0; f < 3; ++f) sim.run.cells.PotentialAt(i, f) = value(random);
        cell.lastDrawnAllTracks = cell.allTracks - movedBy[random() % 5];
        cell.shownFieldNumber = static_cast<std::int32_t>(random() % 3);
        cell.allBlack = random() % 5 == 0;
        cell.grayLevel = -1;
    }
    sim.run.displayMax = 9.0L;
    sim.run.displayMin = 1.0L;
    sim.run.cellsDisplayRange = {1.0L, 0.0L};
}

struct Drawn {
    std::vector<std::uint32_t> listed;
    TCellList cells;
};

// The pass as a plain scan in pass order: each cell it draws recorded as drawn once.
Drawn PlainPass(const Simulation& sim, CellPass pass)
{
    const ControlState& controls = sim.controls;
    Drawn drawn{{}, sim.run.cells};
    if (pass == CellPass::Step && controls.CB_noTracks) return drawn;
    const bool every = pass == CellPass::Redraw || controls.CB_potField;
    const GrayScale scale = GrayScale::Of(sim.run.displayMax, sim.run.displayMin);
    for (std::uint32_t i = 0; i < drawn.cells.InPassOrder().size(); ++i) {
        const TCell& cell = drawn.cells.InPassOrder()[i];
        const bool draws = every || (controls.CB_showOrig ? cell.kind != kEmpty
                                                          : std::fabs(cell.allTracks - cell.lastDrawnAllTracks) > 1.0);
        if (!draws) continue;
        RecordCellDraw(drawn.cells, i, SelectedDrawMode(controls), controls.cb_noDesti, scale);
        drawn.listed.push_back(i);
    }
    return drawn;
}

// Collects the stretches a pass hands over for painting, from either worker.
class StretchRecorder {
public:
    PaintStretch Hook() { return {&Take, this}; }
    // The stretches in pass order, one after the other.
    std::vector<std::uint32_t> InOrder()
    {
        std::sort(stretches_.begin(), stretches_.end());
        std::vector<std::uint32_t> all;
        for (const auto& stretch : stretches_) all.insert(all.end(), stretch.begin(), stretch.end());
        return all;
    }

private:
    static void Take(void* recorder, std::span<const std::uint32_t> cells)
    {
        auto& self = *static_cast<StretchRecorder*>(recorder);
        const std::lock_guard<std::mutex> lock(self.mutex_);
        if (!cells.empty()) self.stretches_.emplace_back(cells.begin(), cells.end());
    }

    std::mutex mutex_;
    std::vector<std::vector<std::uint32_t>> stretches_;
};

void ExpectSameRecords(const std::vector<TCell>& actual, const std::vector<TCell>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        ASSERT_EQ(actual[i].grayLevel, expected[i].grayLevel) << "cell " << i;
        ASSERT_EQ(actual[i].lastDrawnAllTracks, expected[i].lastDrawnAllTracks) << "cell " << i;
    }
}

// Lists what the step's pass draws, as a screen would before it paints; with
// `paints`, the normalisation lists the moved cells for it.
class PassRecorder : public ScreenHooks {
public:
    PassRecorder(Simulation& sim, bool paints) : sim_(sim), paints_(paints) {}
    bool PaintsCells() const override { return paints_; }
    void DrawCells() override
    {
        stepsWithMovedList += sim_.run.movedCells.listed;
        const auto listed = RecordCellsDrawn(sim_, CellPass::Step);
        last.assign(listed.begin(), listed.end());
    }

    std::vector<std::uint32_t> last;
    int stepsWithMovedList = 0;

private:
    Simulation& sim_;
    bool paints_;
};

}  // namespace

// Every setting of the "Graphic" page that decides a pass, both passes, one and
// two workers (an odd number of rows splits unevenly), with and without painting.
TEST(CellDrawing, EveryPassListsAndRecordsWhatAPlainScanDoes)
{
    for (int flags = 0; flags < 32; ++flags) {
        for (const CellPass pass : {CellPass::Step, CellPass::Redraw}) {
            for (const int workers : {1, 2}) {
                for (const bool painting : {false, true}) {
                    SCOPED_TRACE(testing::Message() << "flags " << flags << ", pass " << static_cast<int>(pass)
                                                    << ", workers " << workers << ", painting " << painting);
                    Simulation sim;
                    sim.SetWorkerCount(workers);
                    MakeVariedRun(sim, 9, 7);
                    ControlState& controls = sim.controls;
                    controls.CB_noTracks = flags & 1;
                    controls.CB_showOrig = flags & 2;
                    controls.CB_showAB = flags & 4;
                    controls.CB_potField = flags & 8;
                    controls.cb_noDesti = flags & 16;
                    const Drawn expected = PlainPass(sim, pass);

                    StretchRecorder painted;
                    const auto listed = RecordCellsDrawn(sim, pass, painting ? painted.Hook() : PaintStretch{});
                    EXPECT_EQ(std::vector<std::uint32_t>(listed.begin(), listed.end()), expected.listed);
                    if (painting) {
                        EXPECT_EQ(painted.InOrder(), expected.listed);
                    }
                    ExpectSameRecords(sim.run.cells.InPassOrder(), expected.cells.InPassOrder());
                    // A pass that draws copies the range into every cell; "all cells white" draws nothing.
                    const bool drawsNothing = pass == CellPass::Step && controls.CB_noTracks;
                    EXPECT_EQ(sim.run.cellsDisplayRange.max, drawsNothing ? 1.0L : 9.0L);
                    EXPECT_EQ(sim.run.cellsDisplayRange.min, drawsNothing ? 0.0L : 1.0L);
                }
            }
        }
    }
}

// The step's pass takes the cells the normalisation listed as moved; it lists and
// records what its own scan would, step after step, with and without decay.
TEST(CellDrawing, TheNormalisationsMovedCellsAreTheOnesAScanFinds)
{
    for (const int workers : {1, 2}) {
        SCOPED_TRACE(testing::Message() << workers << " workers");
        Simulation listing;
        Simulation scanning;
        PassRecorder listed(listing, true);
        PassRecorder scanned(scanning, false);
        for (auto [sim, screen] : {std::pair{&listing, &listed}, std::pair{&scanning, &scanned}}) {
            sim->SetWorkerCount(workers);
            sim->SetScreen(screen);
            StartProgram(*sim, {});
        }
        for (int step = 1; step <= 60; ++step) {
            for (Simulation* sim : {&listing, &scanning}) {
                sim->controls.CB_decay = step > 30 && step <= 35;
                TimeStep(*sim);
            }
            ASSERT_EQ(listed.last, scanned.last) << "step " << step;
        }
        ExpectSameRecords(listing.run.cells.InPassOrder(), scanning.run.cells.InPassOrder());
        EXPECT_GT(listed.stepsWithMovedList, 0);
        EXPECT_EQ(scanned.stepsWithMovedList, 0);
        listing.SetScreen(nullptr);
        scanning.SetScreen(nullptr);
    }
}

TEST(CellDrawing, OneChangedCellIsDrawnInAllTracksWithTheCellsOwnRange)
{
    Simulation sim;
    MakeEmptyRun(sim, 4, 3);
    sim.run.cellsDisplayRange = {20.0L, 0.0L};
    sim.run.displayMax = 10.0L;     // the run's newer range is not yet the cells'
    sim.controls.CB_showAB = true;  // nor is the page's draw mode theirs
    TCell& cell = sim.run.cells(3, 2);
    cell.allTracks = 10.0;
    EXPECT_TRUE(RecordCellDrawn(sim, 3, 2));
    EXPECT_EQ(cell.grayLevel, 128);  // 255 - 127.5, the tie to the even level
    EXPECT_EQ(cell.lastDrawnAllTracks, 10.0);
    for (const auto& [column, row] : {std::pair{-1, 0}, {4, 0}, {0, 3}, {0, -1}})
        EXPECT_FALSE(RecordCellDrawn(sim, column, row)) << column << "," << row;
}

TEST(CellDrawing, TheGraphicPageSelectsTheModeAndTheLook)
{
    ControlState controls;
    for (const auto& [potField, showAB, mode] :
         {std::tuple{true, true, DrawMode::PotentialField}, {true, false, DrawMode::PotentialField},
          {false, true, DrawMode::ReturnTracks}, {false, false, DrawMode::AllTracks}}) {
        controls.CB_potField = potField;
        controls.CB_showAB = showAB;
        EXPECT_EQ(SelectedDrawMode(controls), mode) << potField << showAB;
    }

    struct Case {
        std::int32_t kind;
        bool allBlack;
        bool noDestinations;
        CellLook look;
    };
    const Case cases[] = {
        {kEmpty, false, false, CellLook::Gray},
        {kEmpty, true, true, CellLook::Gray},  // "all destinations black" leaves empty cells gray
        {kObstacle, false, true, CellLook::KindColour},
        {kObstacle, true, false, CellLook::KindColour},
        {kResidential, false, false, CellLook::KindColour},
        {kResidential, false, true, CellLook::Gray},
        {kResidential, true, true, CellLook::Black},  // black wins over "show no destinations"
        {kDestination, true, false, CellLook::White},
        {kService, true, false, CellLook::Black},
        {kIndustry, false, true, CellLook::Gray},
    };
    for (const Case& c : cases) {
        TCell cell;
        cell.kind = c.kind;
        cell.allBlack = c.allBlack;
        EXPECT_EQ(LookOf(cell, c.noDestinations), c.look) << c.kind << c.allBlack << c.noDestinations;
    }
}
