#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/core/program_start.h"
#include "sim/core/time_step.h"
#include "sim/core/version.h"
#include "sim/io/reference_pages.h"
#include "sim/io/run_state.h"
#include "sim/io/run_state_records.h"

namespace {

// A reader of the format written from its reference page alone, offsets by hand:
// it shares nothing with the program's reader but the bytes.
class Cursor {
public:
    explicit Cursor(const std::string& bytes, std::size_t at = 0) : bytes_(bytes), at_(at) {}
    template <typename T>
    T Read()
    {
        T value{};
        EXPECT_LE(at_ + sizeof(T), bytes_.size());
        std::memcpy(&value, bytes_.data() + at_, sizeof(T));
        at_ += sizeof(T);
        return value;
    }
    std::string Text()
    {
        const auto size = Read<std::uint32_t>();
        std::string text = bytes_.substr(at_, size);
        at_ += size;
        return text;
    }
    void Skip(std::size_t bytes) { at_ += bytes; }
    std::size_t at() const { return at_; }
    template <typename T>
    T At(std::size_t offset) const
    {
        T value{};
        std::memcpy(&value, bytes_.data() + at_ + offset, sizeof(T));
        return value;
    }

private:
    const std::string& bytes_;
    std::size_t at_;
};

std::unique_ptr<Simulation> SteppedRun()
{
    auto sim = std::make_unique<Simulation>();
    StartProgram(*sim, {{"Edit_size", "8"}, {"CB_decay", "1"}});
    for (int i = 0; i < 6; ++i) TimeStep(*sim);
    return sim;
}

// The state with its checksum made anew, as a file of format `version`.
std::string Resealed(std::string state, std::uint32_t version)
{
    std::memcpy(state.data() + 8, &version, sizeof version);
    const std::uint64_t payloadSize = state.size() - kRunStateHeaderSize;
    std::memcpy(state.data() + 12, &payloadSize, sizeof payloadSize);
    const std::uint32_t checksum = RunStateChecksum(std::string_view(state).substr(kRunStateHeaderSize));
    std::memcpy(state.data() + 20, &checksum, sizeof checksum);
    return state;
}

}  // namespace

// Every record's fields where the reference page puts them: a field of another
// size or in another place moves every offset after it.
TEST(RunStateLayout, AReaderWrittenFromThePageFindsEveryValue)
{
    auto sim = SteppedRun();
    ::Run& run = sim->run;
    sim->usage.weight[1][2] = 0.75;  // the service field's weight for a new industry cell
    run.drawingRecorded = true;
    run.cells(3, 2).returnTracks = 4.5;
    run.cells(3, 2).destinationIndex = 7;
    ASSERT_GE(run.agents.size(), 2u);
    TAgent& agent = run.agents[1];
    agent.candidates[1] = {-1, 1};
    agent.shares[2] = 12.5;
    agent.signalSum = 3.25;
    const std::vector<StepStatistics> history{{1, 2, 3, 4, 0.5, 6, 7, {8, 9, 10, 11, 12, 13}},
                                              {2, 2, 3, 4, 0.25, 6, 7, {8, 9, 10, 11, 12, 13}}};
    const std::string state = EncodeRunState(*sim, history);

    Cursor c(state);
    EXPECT_EQ(state.substr(0, 8), std::string("\x89LUS\r\n\x1a\n", 8));
    EXPECT_EQ(c.At<std::uint32_t>(8), 3u);
    EXPECT_EQ(c.At<std::uint64_t>(12), state.size() - 24);
    c.Skip(24);
    EXPECT_EQ(c.Text(), LandUseVersion());
    const auto controls = c.Read<std::uint32_t>();
    for (std::uint32_t i = 0; i < 2 * controls + 6 * 4; ++i) c.Text();
    EXPECT_EQ(c.Read<std::uint32_t>(), sim->random.seed);
    EXPECT_EQ(c.At<double>((3 + 1 * 3 + 2) * 8), 0.75);
    c.Skip(15 * 8);
    EXPECT_EQ(c.At<std::int32_t>(0), run.cellSize);
    EXPECT_EQ(c.At<std::int32_t>(16), run.stepCount);
    EXPECT_EQ(c.At<std::uint8_t>(8 * 4 + 4 * 10 + 4 + 1), 1);  // drawing recorded
    EXPECT_EQ(c.At<std::uint32_t>(8 * 4 + 4 * 10 + 4 + 2 + 8), run.drawCount.countedTo);
    c.Skip(8 * 4 + 4 * 10 + 4 + 2 + 8 + 4);

    const std::size_t cellBytes = 5 * 8 + 4 * 4 + 8 + 4 + 1 + 3 * 4;
    ASSERT_EQ(c.Read<std::uint32_t>(), static_cast<std::uint32_t>(run.columns * run.rows));
    const std::size_t cell = static_cast<std::size_t>(2 * run.columns + 3) * cellBytes;  // row-major
    EXPECT_EQ(c.At<double>(cell + 4 * 8), 4.5);
    EXPECT_EQ(c.At<std::int32_t>(cell + 5 * 8 + 2 * 4), 7);
    EXPECT_EQ(c.At<std::int32_t>(cell + 5 * 8 + 4 * 4 + 8 + 4 + 1 + 8), run.cells(3, 2).Size);
    c.Skip(run.cells.InPassOrder().size() * cellBytes);

    const std::size_t agentBytes = 14 * 4 + 8 * 2 * 4 + 8 * 8 + 4 + 8;
    ASSERT_EQ(c.Read<std::uint32_t>(), run.agents.size());
    const std::size_t second = agentBytes;
    EXPECT_EQ(c.At<std::int32_t>(second + 14 * 4 + 2 * 4), -1);  // candidate 1's dx, then its dy
    EXPECT_EQ(c.At<std::int32_t>(second + 14 * 4 + 3 * 4), 1);
    EXPECT_EQ(c.At<double>(second + 14 * 4 + 16 * 4 + 2 * 8), 12.5);
    EXPECT_EQ(c.At<std::int32_t>(second + 14 * 4 + 16 * 4 + 8 * 8), agent.candidateCount);
    EXPECT_EQ(c.At<double>(second + agentBytes - 8), 3.25);
    c.Skip(run.agents.size() * agentBytes);

    ASSERT_EQ(c.Read<std::uint32_t>(), run.destinations.size());
    EXPECT_EQ(c.At<std::int32_t>(4), run.destinations[0].pixelY);
    c.Skip(run.destinations.size() * 3 * 4);

    ASSERT_EQ(c.Read<std::uint32_t>(), 2u);
    const std::size_t rowBytes = 4 * 4 + 8 + 2 * 4 + 6 * 4;
    EXPECT_EQ(c.At<double>(rowBytes + 4 * 4), 0.25);
    EXPECT_EQ(c.At<std::int32_t>(rowBytes + rowBytes - 4), 13);
    c.Skip(2 * rowBytes);
    EXPECT_EQ(c.at(), state.size());
}

// Files of the older versions, made from a new one by taking out what each version
// added, still load: without the writer's version (2), and without the drawing
// flag, which then reads as false (1).
TEST(RunStateLayout, OlderVersionsStillLoad)
{
    auto sim = SteppedRun();
    sim->run.drawingRecorded = true;
    const std::vector<StepStatistics> history{{1, 2, 3, 4, 0.5, 6, 7, {8, 9, 10, 11, 12, 13}}};
    const std::string state = EncodeRunState(*sim, history);

    Cursor c(state, kRunStateHeaderSize);
    c.Text();
    const std::size_t writerEnd = c.at();
    const auto controls = c.Read<std::uint32_t>();
    for (std::uint32_t i = 0; i < 2 * controls + 6 * 4; ++i) c.Text();
    const std::size_t drawingFlag = c.at() - writerEnd + 4 + 15 * 8 + 8 * 4 + 4 * 10 + 4 + 1;

    std::string payload2 = state.substr(writerEnd);
    const std::string version2 = Resealed(state.substr(0, kRunStateHeaderSize) + payload2, 2);
    std::string payload1 = payload2;
    payload1.erase(drawingFlag, 1);
    const std::string version1 = Resealed(state.substr(0, kRunStateHeaderSize) + payload1, 1);

    const struct {
        std::string bytes;
        bool drawingRecorded;
    } cases[] = {{state, true}, {version2, true}, {version1, false}};
    for (const auto& k : cases) {
        Simulation loaded;
        const std::vector<StepStatistics> back = DecodeRunState(loaded, k.bytes);
        EXPECT_EQ(back, history);
        EXPECT_EQ(loaded.run.drawingRecorded, k.drawingRecorded);
        loaded.run.drawingRecorded = true;
        EXPECT_EQ(EncodeRunState(loaded, back), state);  // saved again as the current version
    }
    // A version 2 file is not read as a version 3 one.
    Simulation target;
    EXPECT_THROW(DecodeRunState(target, Resealed(version2, 3)), RunStateError);
}

// A record's values and its table part at once: a value too many, too few or of
// another kind is a logic error, not a file that loads as something else.
TEST(RunStateLayout, AWalkHoldsEveryValueToItsField)
{
    constexpr RecordTable<2> table{{{"a", FieldKind::Int32, 2, "", ""}, {"b", FieldKind::Real, 1, "", ""}}};
    const std::int32_t i = 1;
    const double d = 2.0;
    const std::uint32_t u = 3;
    std::vector<std::string> seen;
    auto use = [&](const RecordField& field, const auto&) { seen.push_back(std::string(field.name)); };
    EXPECT_NO_THROW(WalkRecord(table, use, [&](auto& walk) { walk(i), walk(i), walk(d); }));
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "a", "b"}));
    EXPECT_THROW(WalkRecord(table, use, [&](auto& walk) { walk(i), walk(d); }), std::logic_error);
    EXPECT_THROW(WalkRecord(table, use, [&](auto& walk) { walk(i), walk(i); }), std::logic_error);
    EXPECT_THROW(WalkRecord(table, use, [&](auto& walk) { walk(i), walk(i), walk(d), walk(d); }), std::logic_error);
    EXPECT_THROW(WalkRecord(table, use, [&](auto& walk) { walk(i), walk(u), walk(d); }), std::logic_error);
}

namespace {

std::string CheckedInPage(const char* name)
{
    std::ifstream in(std::string(LANDUSE_SOURCE_DIR) + "/docs/reference/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

// The reference pages are the program's tables as they are now: a page that differs
// is written anew with the command its first line names.
TEST(ReferencePages, TheCheckedInPagesAreTheTablesPages)
{
    EXPECT_EQ(CheckedInPage("output-columns.md"), OutputColumnsPage());
    EXPECT_EQ(CheckedInPage("run-state-format.md"), RunStateFormatPage());
}
