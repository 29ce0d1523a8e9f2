#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "sim/controls/conversion.h"
#include "sim/core/setup.h"
#include "sim/core/time_step.h"
#include "tests/sim/sim_test_support.h"

namespace {

struct Place {
    std::int32_t column;
    std::int32_t row;
};

// Every cell of the grid against the 3 x 3 blocks around the given destination
// cells: inside a block the kind is destination, the index that of the last block
// covering it and the industry potential one per covering block; outside, an empty
// cell with no industry.
void ExpectBlocksAround(const ::Run& run, const std::vector<Place>& places)
{
    for (std::int32_t r = 0; r < run.rows; ++r) {
        for (std::int32_t c = 0; c < run.columns; ++c) {
            int lastCovering = -1, covering = 0;
            for (int i = 0; i < int(places.size()); ++i) {
                const int dc = (c - places[i].column + run.columns) % run.columns;
                const int dr = (r - places[i].row + run.rows) % run.rows;
                if ((dc <= 1 || dc == run.columns - 1) && (dr <= 1 || dr == run.rows - 1)) {
                    lastCovering = i;
                    ++covering;
                }
            }
            const TCell& cell = run.cells(c, r);
            if (covering == 0) {
                ASSERT_EQ(cell.kind, kEmpty) << c << "," << r;
                ASSERT_EQ(run.cells.Potential(c, r, kIndustryField), 0.0) << c << "," << r;
            } else {
                ASSERT_EQ(cell.kind, kDestination) << c << "," << r;
                ASSERT_EQ(cell.destinationIndex, lastCovering) << c << "," << r;
                ASSERT_EQ(run.cells.Potential(c, r, kIndustryField), double(covering)) << c << "," << r;
            }
        }
    }
}

// The destination list holds the centres of the given cells, with no arrivals.
void ExpectDestinationsAt(const ::Run& run, const std::vector<Place>& places)
{
    ASSERT_EQ(run.destinations.size(), places.size());
    for (std::size_t i = 0; i < places.size(); ++i) {
        EXPECT_EQ(run.destinations[i].pixelX, places[i].column * run.cellSize + run.halfCell) << i;
        EXPECT_EQ(run.destinations[i].pixelY, places[i].row * run.cellSize + run.halfCell) << i;
        EXPECT_EQ(run.destinations[i].arrivals, 0) << i;
    }
}

int CountKind(const ::Run& run, std::int32_t kind)
{
    int count = 0;
    for (const TCell& cell : run.cells.InPassOrder()) count += cell.kind == kind;
    return count;
}

}  // namespace

TEST(Setup, FirstRunAfterProgramStartHasItsKnownDestinations)
{
    RecordingHooks hooks;
    Simulation sim(&hooks, &hooks);
    FormCreate(sim);
    const ::Run& run = sim.run;
    ASSERT_EQ(run.columns, 202);
    ASSERT_EQ(run.rows, 202);
    ASSERT_EQ(run.destinations.size(), 10u);
    EXPECT_EQ(run.destinations[0].pixelX, 1);
    EXPECT_EQ(run.destinations[0].pixelY, 13);
    EXPECT_EQ(run.destinations[1].pixelX, 347);
    EXPECT_EQ(run.destinations[1].pixelY, 81);
    for (const Destination& d : run.destinations) EXPECT_EQ(d.arrivals, 0);
    // All ten, as pixels: the draws below 202 from seed 0 are, in pairs (column, row),
    // (0, 6) (173, 40) (55, 135) (64, 32) (75, 85) (16, 95) (14, 169) (12, 59)
    // (185, 74) (156, 66) (python3 integers); a centre is 2 * index + 1.
    const std::pair<int, int> pixels[10] = {{1, 13},   {347, 81},  {111, 271}, {129, 65},  {151, 171},
                                            {33, 191}, {29, 339},  {25, 119},  {371, 149}, {313, 133}};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(run.destinations[i].pixelX, pixels[i].first) << i;
        EXPECT_EQ(run.destinations[i].pixelY, pixels[i].second) << i;
    }
    // The first block wraps into the last column.
    EXPECT_EQ(run.cells(201, 6).kind, kDestination);
    EXPECT_EQ(run.cells(201, 6).destinationIndex, 0);
    EXPECT_TRUE(run.agents.empty());
    EXPECT_EQ(run.stepCount, 0);
    EXPECT_EQ(hooks.timerStops, 1);
    EXPECT_EQ(sim.controls.CB_FieldNr, 0);
    EXPECT_EQ(sim.usage.noise[0], 6.0);
    EXPECT_EQ(hooks.drawnCells.size(), 90u);  // every block cell is drawn as it is made
}

TEST(Setup, DestinationBlocksOfTheFirstTwoSetUps)
{
    Simulation sim;
    FormCreate(sim);
    // The first run: ten blocks that do not touch, 90 cells (worked out with python3
    // from the draws below 202 from seed 0).
    const std::vector<Place> first = {{0, 6},  {173, 40}, {55, 135}, {64, 32},  {75, 85},
                                      {16, 95}, {14, 169}, {12, 59},  {185, 74}, {156, 66}};
    ExpectDestinationsAt(sim.run, first);
    ExpectBlocksAround(sim.run, first);
    EXPECT_EQ(CountKind(sim.run, kDestination), 90);
    EXPECT_EQ(sim.run.cells(201, 5).destinationIndex, 0);  // wrapped round from column 0
    EXPECT_EQ(sim.run.cells(1, 7).destinationIndex, 0);

    // A new set-up at cell size 8 (50 x 50) takes the next twenty draws, now below 50:
    // the blocks of destinations 4 (41, 13) and 6 (43, 14) share two cells.
    sim.controls.Edit_size = "8";
    B_setupClick(sim);
    const std::vector<Place> second = {{34, 42}, {35, 15}, {8, 16}, {23, 12}, {41, 13},
                                       {24, 7},  {43, 14}, {38, 48}, {24, 44}, {41, 1}};
    ExpectDestinationsAt(sim.run, second);
    EXPECT_EQ(sim.run.destinations[0].pixelX, 276);  // 34 * 8 + 4
    EXPECT_EQ(sim.run.destinations[9].pixelY, 12);   // 1 * 8 + 4
    ExpectBlocksAround(sim.run, second);
    EXPECT_EQ(CountKind(sim.run, kDestination), 88);
    for (const std::int32_t row : {13, 14}) {
        EXPECT_EQ(sim.run.cells(42, row).destinationIndex, 6);
        EXPECT_EQ(sim.run.cells.Potential(42, row, kIndustryField), 2.0);
    }
    EXPECT_EQ(sim.run.cells(40, 13).destinationIndex, 4);
    EXPECT_EQ(sim.run.cells.Potential(40, 13, kIndustryField), 1.0);
}

TEST(Setup, OnlyDestinationBlocksLeaveTheEmptyKind)
{
    Simulation sim;
    FormCreate(sim);
    const ::Run& run = sim.run;
    int destinationCells = 0;
    double industry = 0.0;
    for (std::int32_t r = 0; r < run.rows; ++r) {
        for (std::int32_t c = 0; c < run.columns; ++c) {
            const TCell& cell = run.cells(c, r);
            EXPECT_EQ(cell.PositionX, c * 2 + 1);
            EXPECT_EQ(cell.PositionY, r * 2 + 1);
            EXPECT_EQ(cell.Size, 1);
            EXPECT_EQ(cell.grayLevel, 255);
            EXPECT_EQ(cell.allTracks, 0.0);
            EXPECT_EQ(cell.agentCount, 0);
            if (cell.kind == kDestination) {
                ++destinationCells;
                // A cell in several blocks has the later index and one unit of industry per block.
                industry += run.cells.Potential(c, r, kIndustryField);
            } else {
                EXPECT_EQ(cell.kind, kEmpty);
                EXPECT_EQ(run.cells.Potential(c, r, kIndustryField), 0.0);
            }
        }
    }
    EXPECT_LE(destinationCells, 90);
    EXPECT_EQ(industry, 90.0);
}

TEST(Setup, OverlappingBlocksKeepTheLaterIndex)
{
    Simulation sim;
    sim.controls.Edit_size = "10";  // 40 x 40 cells: overlaps are likely over many set-ups
    FormCreate(sim);
    bool sawOverlap = false;
    for (int attempt = 0; attempt < 50 && !sawOverlap; ++attempt) {
        B_setupClick(sim);
        const ::Run& run = sim.run;
        for (std::int32_t r = 0; r < run.rows; ++r) {
            for (std::int32_t c = 0; c < run.columns; ++c) {
                const TCell& cell = run.cells(c, r);
                if (run.cells.Potential(c, r, kIndustryField) < 2.0) continue;
                sawOverlap = true;
                int lastCovering = -1;
                for (int i = 0; i < 10; ++i) {
                    const auto& d = run.destinations[i];
                    const int dc = (d.pixelX - run.halfCell) / run.cellSize;
                    const int dr = (d.pixelY - run.halfCell) / run.cellSize;
                    const int ddc = std::min((c - dc + 40) % 40, (dc - c + 40) % 40);
                    const int ddr = std::min((r - dr + 40) % 40, (dr - r + 40) % 40);
                    if (ddc <= 1 && ddr <= 1) lastCovering = i;
                }
                EXPECT_EQ(cell.destinationIndex, lastCovering);
            }
        }
    }
    EXPECT_TRUE(sawOverlap);
}

TEST(Setup, NewSetupContinuesTheGeneratorAndStartsClean)
{
    Simulation sim;
    FormCreate(sim);
    for (int i = 0; i < 3; ++i) TimeStep(sim);
    sim.controls.Edit_size = "8";
    // The set-up's first twenty draws, in pairs (column, row), from where the steps left
    // the generator; nothing of the set-up draws before the destinations.
    RandomGenerator continued = sim.random;
    std::vector<Place> expected;
    for (int i = 0; i < 10; ++i) {
        const std::int32_t column = continued.Random(50);
        expected.push_back({column, continued.Random(50)});
    }
    B_setupClick(sim);
    EXPECT_EQ(sim.run.columns, 50);
    EXPECT_EQ(sim.run.stepCount, 0);
    EXPECT_TRUE(sim.run.agents.empty());
    ExpectDestinationsAt(sim.run, expected);
    ExpectBlocksAround(sim.run, expected);
    EXPECT_EQ(sim.random.seed, continued.seed);
    for (const TCell& cell : sim.run.cells.InPassOrder()) {
        EXPECT_EQ(cell.allTracks, 0.0);
        EXPECT_EQ(cell.returnTracks, 0.0);
        EXPECT_EQ(cell.agentCount, 0);
        EXPECT_EQ(sim.run.cells.PotentialAt(sim.run.cells.IndexOf(cell), 0), 0.0);
        EXPECT_EQ(sim.run.cells.PotentialAt(sim.run.cells.IndexOf(cell), 1), 0.0);
    }
    EXPECT_TRUE(sim.run.ready);
}

TEST(Setup, UnconvertibleSizeOrStopTimeRefusesBeforeTearingDown)
{
    RecordingHooks hooks;
    Simulation sim(&hooks, &hooks);
    FormCreate(sim);
    TimeStep(sim);
    const auto agentsBefore = sim.run.agents.size();
    for (auto field : {&ControlState::Edit_size, &ControlState::E_stop}) {
        sim.controls.*field = "abc";
        EXPECT_THROW(B_setupClick(sim), ConversionError);
        EXPECT_TRUE(sim.run.ready);
        EXPECT_EQ(sim.run.agents.size(), agentsBefore);
        EXPECT_EQ(sim.run.stepCount, 1);
        sim.controls.Edit_size = "2";
        sim.controls.E_stop = "800";
    }
    EXPECT_EQ(hooks.timerStops, 3);  // the timer stops even when the set-up is refused
    TimeStep(sim);
    EXPECT_EQ(sim.run.stepCount, 2);
}

TEST(Setup, FailedFirstSetupLeavesNoRunToStep)
{
    Simulation sim;
    sim.controls.E_stop = "";
    EXPECT_THROW(FormCreate(sim), ConversionError);
    EXPECT_FALSE(sim.run.ready);
    TimeStep(sim);  // does nothing rather than touch a half-built run
    EXPECT_EQ(sim.run.stepCount, 0);
}
