#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <thread>

#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "app/headless_runner.h"
#include "app/output_name.h"
#include "scenes/scenes.h"
#include "sim/controls/control_table.h"
#include "sim/core/random_streams.h"
#include "sim/core/version.h"
#include "tests/app/scratch_folder.h"

namespace {

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result RunRunner(std::vector<std::string> arguments)
{
    std::ostringstream out, err;
    const int code = RunHeadless(arguments, out, err);
    return {code, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(HeadlessRunner, PrintsOneLinePerStepAndTheFinalState)
{
    const Result r = RunRunner({"--steps", "3", "--set", "Edit_size=10", "--agents", "--cells"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "step,agents,successful,avg_travel,max_mark,migrated,returning,empty,obstacles,residential,destinations,services,industry");
    EXPECT_EQ(lines[1].substr(0, 4), "1,3,");
    EXPECT_EQ(lines[3].substr(0, 4), "3,9,");
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(lines[5], "index,column,row,home_column,home_row,mode,heading,travel_steps,success,migrated");
    EXPECT_EQ(lines[15], "");
    EXPECT_EQ(lines[16], "column,row,kind,all_tracks,return_tracks,population,service,industry,agents");
    EXPECT_EQ(lines.size(), 17u + 40 * 40);
    EXPECT_EQ(lines[17].substr(0, 4), "0,0,");
    EXPECT_EQ(lines[18].substr(0, 4), "1,0,");  // rows outer, columns inner
}

TEST(HeadlessRunner, SameArgumentsGiveTheSameOutput)
{
    const std::vector<std::string> args = {"--steps", "40", "--set", "Edit_size=6", "--set", "rb_rulette=1",
                                           "--set", "CB_migrate=1", "--agents"};
    EXPECT_EQ(RunRunner(args).out, RunRunner(args).out);
    auto other = args;
    other[3] = "Edit_size=7";
    EXPECT_NE(RunRunner(args).out, RunRunner(other).out);
}

TEST(HeadlessRunner, SetsRunTheirControlsHandlers)
{
    // Edit_size is clamped into 2..10 by its handler: 40 x 40 cells at 10 and above.
    const auto big = Lines(RunRunner({"--steps", "0", "--set", "Edit_size=99", "--cells"}).out);
    EXPECT_EQ(big.size(), 3u + 40 * 40);
    const auto small = Lines(RunRunner({"--steps", "0", "--set", "Edit_size=1", "--cells"}).out);
    EXPECT_EQ(small.size(), 3u + 202 * 202);
    // An empty return noise becomes "0" rather than an error.
    EXPECT_EQ(RunRunner({"--steps", "2", "--set", "Edit_size=10", "--set", "E_noise="}).code, 0);
    // A usage-table cell is applied after the table's reset.
    const Result zeroNoise = RunRunner({"--steps", "1", "--set", "Edit_size=10", "--set", "Edit_anzAg=0", "--set",
                                  "StringGrid1.5.1=0", "--set", "StringGrid1.5.2=0", "--set", "StringGrid1.5.3=0",
                                  "--set", "StringGrid1.1.1=0", "--cells"});
    ASSERT_EQ(zeroNoise.code, 0) << zeroNoise.err;
    EXPECT_NE(zeroNoise.out.find("\n20,20,0,0,0,0,"), std::string::npos);  // population stays 0 without noise
}

TEST(HeadlessRunner, StopTimeGivesTheDefaultNumberOfSteps)
{
    const auto lines = Lines(RunRunner({"--set", "Edit_size=10", "--set", "E_stop=4"}).out);
    EXPECT_EQ(lines.size(), 5u);
    const Result never = RunRunner({"--set", "E_stop=0"});
    EXPECT_EQ(never.code, 64);
    EXPECT_NE(never.err.find("--steps"), std::string::npos);
    EXPECT_EQ(RunRunner({"--steps", "2", "--set", "Edit_size=10", "--set", "E_stop=0"}).code, 0);
}

TEST(HeadlessRunner, ConversionErrorsEndTheRunAtOnce)
{
    const Result size = RunRunner({"--set", "Edit_size=abc"});
    EXPECT_EQ(size.code, 2);
    EXPECT_EQ(size.err, "landuse-headless: Edit_size: 'abc' is not a valid integer value\n");
    EXPECT_TRUE(size.out.empty());  // no set-up, no output

    // The first error ends the run, even when a later --set would correct the text.
    const Result corrected = RunRunner({"--steps", "1", "--set", "Edit_size=", "--set", "Edit_size=10"});
    EXPECT_EQ(corrected.code, 2);
    EXPECT_EQ(corrected.err, "landuse-headless: Edit_size: '' is not a valid integer value\n");
    EXPECT_TRUE(corrected.out.empty());

    // A failing step keeps the steps printed before it and prints no final state.
    const Result step = RunRunner({"--steps", "5", "--set", "Edit_size=10", "--set", "E_CProbab=x,y", "--agents"});
    EXPECT_EQ(step.code, 2);
    EXPECT_EQ(step.err, "landuse-headless: E_CProbab: 'x,y' is not a valid floating point value\n");
    EXPECT_EQ(Lines(step.out).size(), 1u);  // header only: no step completed

    const Result table = RunRunner({"--steps", "3", "--set", "Edit_size=10", "--set", "StringGrid1.3.1=-"});
    EXPECT_EQ(table.code, 2);
    EXPECT_EQ(table.err, "landuse-headless: StringGrid1.3.1: '-' is not a valid floating point value\n");
    EXPECT_TRUE(table.out.empty());

    // Growth reads E_crIndu in the first step: header only.
    const Result late = RunRunner({"--steps", "5", "--set", "Edit_size=10", "--set", "E_crIndu=many"});
    EXPECT_EQ(late.code, 2);
    EXPECT_EQ(late.err, "landuse-headless: E_crIndu: 'many' is not a valid integer value\n");
    EXPECT_EQ(Lines(late.out).size(), 1u);

    // With the maximum already reached, growth never reads the bad text and the run completes.
    const Result unread = RunRunner({"--steps", "3", "--set", "Edit_size=10", "--set", "Edit_anzAg=0", "--set",
                                     "E_crIndu=many"});
    EXPECT_EQ(unread.code, 0) << unread.err;
    EXPECT_EQ(Lines(unread.out).size(), 4u);
}

TEST(HeadlessRunner, EveryEditFollowsTheConversionRule)
{
    const std::vector<std::string> always = {"--steps", "4", "--set", "Edit_size=10", "--set", "CB_decay=1",
                                             "--set", "CB_migrate=1", "--set", "E_migTh=0", "--set", "CB_gravity=1"};
    for (const char* name : {"Edit_anzAg", "Edit_size", "E_crAgs", "E_crServ", "E_crIndu", "E_decay", "E_CProbab",
                             "E_migTh", "E_noise", "E_stop", "E_grav"}) {
        const bool real = std::string(name) == "E_decay" || std::string(name) == "E_CProbab" ||
                          std::string(name) == "E_noise" || std::string(name) == "E_grav";
        for (const char* text : {"abc", "-", "1e400", "nan", "0x10", " 12", "12 ", "2147483648"}) {
            std::vector<std::string> args = always;
            args.push_back("--set");
            args.push_back(std::string(name) + "=" + text);
            const Result r = RunRunner(args);
            const std::string t = text;
            const bool converts = t == " 12" || t == "12 " || (real && t == "2147483648");
            if (converts) {
                EXPECT_EQ(r.code, 0) << name << "=" << text << ": " << r.err;
                EXPECT_EQ(Lines(r.out).size(), 5u) << name << "=" << text;
            } else {
                EXPECT_EQ(r.code, 2) << name << "=" << text;
                EXPECT_EQ(r.err, "landuse-headless: " + std::string(name) + ": '" + t + "' is not a valid " +
                                     (real ? "floating point" : "integer") + " value\n")
                    << name;
            }
        }
    }
}

TEST(HeadlessRunner, CommandLineMistakesAreUsageErrors)
{
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--set", "Nope=1"}, {"--set", "CB_decay=2"}, {"--set", "rb_hill=0"},
          {"--set", "CB_FieldNr=3"}, {"--set", "StringGrid1.0.1=1"}, {"--set", "StringGrid1.6.1=1"},
          {"--set", "StringGrid1.1.1x=1"}, {"--set", "TrB_thresh=abc"}, {"--steps", "-1"}, {"--steps"},
          {"--bogus"}, {"--set", "=5"}, {"--set", "E_stop=-3"}, {"--set", "TrB_thresh=181"},
          {"--set", "SB_wiggle=-1"}, {"--set", "Edit_size=abc", "--set", "Nope=1"}}) {
        const Result r = RunRunner(bad);
        EXPECT_EQ(r.code, 64) << bad.back();
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find("usage:"), std::string::npos);
    }
}

TEST(HeadlessRunner, KnownRunIsReproducedBitForBit)
{
    // Recorded from a plain single-threaded build of the model; any change to a draw,
    // a rounding or an evaluation order shows here.
    const Scene& scene = RecordedRunScene();
    const Result r = RunRunner(RunnerArguments(scene, true));
    ASSERT_EQ(r.code, 0);
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4974u);
    EXPECT_EQ(lines[120], "120,360,20,5113,42.391117610847417,91,9,3799,0,360,90,120,120");
    EXPECT_EQ(OutputHash(r.out), scene.recordedHash);
    EXPECT_EQ(scene.recordedHash, 0xc0d3ea17075fc8d9ull);
}

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kVariedRun = {"--steps", "30", "--set", "Edit_size=8", "--set", "rb_rulette=1",
                                             "--set", "CB_migrate=1", "--set", "E_migTh=1", "--set",
                                             "StringGrid1.2.1=0,25", "--set", "E_CProbab=0,3", "--agents", "--cells"};

std::vector<std::string> With(std::vector<std::string> arguments, const std::vector<std::string>& more)
{
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

}  // namespace

TEST(HeadlessRunner, PrintedParamsGiveTheSameRunAsTheSettings)
{
    const Result printed = RunRunner(With(kVariedRun, {"--print-params"}));
    ASSERT_EQ(printed.code, 0) << printed.err;
    // Every control of the table is there, the usage table included, each radio pair by its button that is on.
    EXPECT_NE(printed.out.find("\nEdit_size=8\n"), std::string::npos);
    EXPECT_NE(printed.out.find("\nrb_rulette=1\n"), std::string::npos);
    EXPECT_EQ(printed.out.find("rb_hill="), std::string::npos);
    EXPECT_NE(printed.out.find("\nStringGrid1.2.1=0,25\n"), std::string::npos);
    EXPECT_NE(printed.out.find("\nStringGrid1.5.3=4,8\n"), std::string::npos);

    ScratchFolder folder;
    WriteFile(folder.File("run.params"), printed.out);
    const Result fromFile =
        RunRunner({"--steps", "30", "--params", folder.File("run.params"), "--agents", "--cells"});
    const Result fromSets = RunRunner(kVariedRun);
    ASSERT_EQ(fromFile.code, 0) << fromFile.err;
    EXPECT_EQ(fromFile.out, fromSets.out);

    // --set comes after every --params line, whatever their order on the command line.
    WriteFile(folder.File("size.params"), "# a comment\n\n  # another\nEdit_size=10\r\nE_stop=3\n");
    const Result later = RunRunner({"--set", "Edit_size=9", "--params", folder.File("size.params"), "--cells"});
    ASSERT_EQ(later.code, 0) << later.err;
    EXPECT_EQ(Lines(later.out).size(), 6u + 45 * 45);  // 3 steps; 404 / 9 rounds to 45 cells a side
}

TEST(HeadlessRunner, BadParamsLinesNameTheirFileAndLine)
{
    ScratchFolder folder;
    const std::string path = folder.File("bad.params");
    // A NUL or another control character is refused and shown whole, never cutting the message short.
    for (const std::string& line : {std::string("Edit_size"), std::string("Nope=1"), std::string("CB_decay=yes"),
                                   std::string("=3"), std::string("TrB_thresh=200"), std::string("E_CProbab=0\0,5", 15),
                                   std::string("E_CProbab=0\x7f")}) {
        WriteFile(path, "# fine so far\nEdit_size=10\n" + line + "\n");
        const Result r = RunRunner({"--steps", "1", "--params", path});
        EXPECT_EQ(r.code, 64) << line;
        EXPECT_NE(r.err.find(path + ":3: "), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
        if (line.find_first_of(std::string("\0\x7f", 2)) != std::string::npos) {
            EXPECT_NE(r.err.find("' holds a control character, which no control takes"), std::string::npos) << r.err;
        }
    }
    EXPECT_EQ(RunRunner({"--params", folder.File("missing.params")}).code, 64);
}

TEST(HeadlessRunner, TablesGoToTheirFilesOnlyWhenTheRunFinishes)
{
    ScratchFolder folder;
    const std::vector<std::string> toFiles = {"--steps", "5", "--set", "Edit_size=10", "--stats",
                                              folder.File("stats.csv"), "--agents", folder.File("agents.csv"),
                                              "--cells", folder.File("cells.csv")};
    const Result ok = RunRunner(toFiles);
    ASSERT_EQ(ok.code, 0) << ok.err;
    EXPECT_TRUE(ok.out.empty());
    // The same tables as on stdout, each without the empty line that parts them there.
    const Result onStdout = RunRunner({"--steps", "5", "--set", "Edit_size=10", "--agents", "--cells"});
    EXPECT_EQ(ReadFile(folder.File("stats.csv")) + "\n" + ReadFile(folder.File("agents.csv")) + "\n" +
                  ReadFile(folder.File("cells.csv")),
              onStdout.out);

    // A run that fails leaves neither the new files nor their temporary names behind,
    // and keeps the files of the run before.
    const std::string before = ReadFile(folder.File("stats.csv"));
    const Result failed = RunRunner(With(toFiles, {"--set", "E_CProbab=oops"}));
    EXPECT_EQ(failed.code, 2);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"agents.csv", "cells.csv", "stats.csv"}));
    EXPECT_EQ(ReadFile(folder.File("stats.csv")), before);

    const Result unwritable = RunRunner({"--steps", "1", "--stats", folder.File("no-such-folder/stats.csv")});
    EXPECT_EQ(unwritable.code, 1);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos);
}

TEST(HeadlessRunner, CellTablesDuringTheRunAndTaggedStatistics)
{
    ScratchFolder folder;
    const Result r = RunRunner({"--steps", "7", "--set", "Edit_size=10", "--cells-every", "3", "--cells-dir",
                                folder.path, "--tag", "study=a,b", "--tag", "point=4", "--cells"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"cells-0000000003.csv", "cells-0000000006.csv"}));
    const auto lines = Lines(r.out);
    EXPECT_EQ(lines[0], "study,point,step,agents,successful,avg_travel,max_mark,migrated,returning,empty,obstacles,residential,destinations,services,industry");
    EXPECT_EQ(lines[1].substr(0, 14), "\"a,b\",4,1,3,0,");
    // The last snapshot is the cell table of step 6, the final one that of step 7.
    EXPECT_EQ(Lines(ReadFile(folder.File("cells-0000000006.csv"))).size(), 1u + 40 * 40);
    EXPECT_EQ(RunRunner({"--steps", "1", "--cells-every", "3"}).code, 64);  // needs a folder
}

// Steps take ten digits, the widest step count, so the names sort as the steps
// do, past step 999999 too; cell tables and states are named alike.
TEST(HeadlessRunner, StepFileNamesSortByStep)
{
    const struct {
        std::int32_t step;
        const char* name;
    } cases[] = {
        {0, "pics/picture-0000000000.png"},       {7, "pics/picture-0000000007.png"},
        {150, "pics/picture-0000000150.png"},     {999999, "pics/picture-0000999999.png"},
        {1000000, "pics/picture-0001000000.png"}, {2147483647, "pics/picture-2147483647.png"},
    };
    std::vector<std::string> names;
    for (const auto& c : cases) {
        EXPECT_EQ(StepFileName("pics", "picture", c.step, "png"), c.name);
        names.push_back(StepFileName("pics", "picture", c.step, "png"));
    }
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(StepFileName("d", "cells", 1234567, "csv"), "d/cells-0001234567.csv");
    EXPECT_EQ(StepFileName("d", "state", 1234567, "lus"), "d/state-0001234567.lus");
}

TEST(HeadlessRunner, SeedsAndReplicates)
{
    const std::vector<std::string> run = {"--steps", "20", "--set", "Edit_size=10", "--agents"};
    const std::string start = RunRunner(run).out;
    EXPECT_EQ(RunRunner(With(run, {"--seed", "0"})).out, start);
    EXPECT_EQ(RunRunner(With(run, {"--replicate", "0"})).out, start);
    const std::string one = RunRunner(With(run, {"--replicate", "1"})).out;
    EXPECT_NE(one, start);
    EXPECT_NE(RunRunner(With(run, {"--replicate", "2"})).out, one);
    // Replicate K is the run from seed ReplicateSeed(K): for K = 1 the state after
    // bitreverse32(1) = 2^31 draws from 0, which is 2^31.
    EXPECT_EQ(RunRunner(With(run, {"--seed=" + std::to_string(ReplicateSeed(1))})).out, one);
    EXPECT_EQ(RunRunner(With(run, {"--seed", "2147483648"})).out, one);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--seed", "4294967296"}, {"--seed", "-1"},
                                                {"--seed", "1", "--replicate", "1"}, {"--threads", "3"}})
        EXPECT_EQ(RunRunner(bad).code, 64) << bad[0];
}

TEST(HeadlessRunner, HelpListsEveryControlAndTheExitCodes)
{
    const Result help = RunRunner({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const ControlDefinition& control : ControlTable()) {
        const std::size_t at = help.out.find(std::string("    ") + control.name + " (");
        ASSERT_NE(at, std::string::npos) << control.name;
        EXPECT_NE(help.out.find(control.meaning, at), std::string::npos) << control.name;
        EXPECT_NE(help.out.find(std::string("default ") + control.defaultValue, at), std::string::npos);
    }
    for (const char* text : {"Exit codes", "64", "128 + N", "page \"Setup\"", "page \"Graphic\"", "--replicate",
                             "--params", "2^32 / 2N"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    const Result version = RunRunner({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("landuse-headless ", 0), 0u);
}

TEST(HeadlessRunner, WholeNumbersAreDecimalWithinTheirRanges)
{
    const std::vector<std::string> run = {"--set", "Edit_size=10", "--steps", "2"};
    // Leading zeros change nothing: 010 is ten, 08 is eight.
    EXPECT_EQ(RunRunner(With(run, {"--replicate", "010"})).out,
              RunRunner(With(run, {"--seed", std::to_string(ReplicateSeed(10))})).out);
    EXPECT_EQ(RunRunner(With(run, {"--seed", "0010"})).out, RunRunner(With(run, {"--seed", "10"})).out);
    EXPECT_EQ(Lines(RunRunner({"--set", "Edit_size=10", "--steps", "08"}).out).size(), 9u);
    EXPECT_EQ(RunRunner({"--set", "Edit_size=10", "--steps", "1", "--threads", "01"}).code, 0);

    struct Refused {
        std::vector<std::string> arguments;
        std::string message;
    };
    for (const Refused& bad : std::vector<Refused>{
             {{"--steps", "99999999999999999999"}, "--steps must be 0..2147483647, found '99999999999999999999'"},
             {{"--steps", "2147483648"}, "--steps must be 0..2147483647"},
             {{"--steps", "1e3"}, "--steps must be 0..2147483647"},
             {{"--steps", "0x10"}, "--steps must be 0..2147483647"},
             {{"--steps", "+5"}, "--steps must be 0..2147483647"},
             {{"--steps", ""}, "--steps must be 0..2147483647"},
             {{"--seed", "4294967296"}, "--seed must be 0..4294967295"},
             {{"--replicate", "-1"}, "--replicate must be 0..4294967295"},
             {{"--replicate", "18446744073709551616"}, "--replicate must be 0..4294967295"},
             {{"--threads", "0"}, "--threads must be 1..2"},
             {{"--threads", "3"}, "--threads must be 1..2"},
             {{"--cells-every", "0", "--cells-dir", "/tmp"}, "--cells-every must be 1..2147483647"},
             {{"--cells-every", "1", "--cells-dir", "", "--steps", "1"}, "--cells-dir must name a folder"},
             {{"--pictures-every", "0", "--pictures-dir", "/tmp"}, "--pictures-every must be 1..2147483647"},
             {{"--pictures-every", "1", "--pictures-dir", "", "--steps", "1"}, "--pictures-dir must name a folder"},
             {{"--pictures-every", "1", "--steps", "1"}, "--pictures-every requires --pictures-dir"},
             {{"--tag", "step=9"}, "the statistics already have a column 'step'"},
             {{"--tag", "max_mark=9"}, "the statistics already have a column 'max_mark'"},
             {{"--tag", "a=1", "--tag", "b=2", "--tag", "a=3"}, "--tag a=...: the key is given twice"},
         }) {
        const Result r = RunRunner(bad.arguments);
        EXPECT_EQ(r.code, 64) << bad.arguments[1];
        EXPECT_NE(r.err.find(bad.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << bad.arguments[1];
    }
}

TEST(HeadlessRunner, PrintedParamsRecordTheVersionAndHoldOneSettingALine)
{
    const Result printed = RunRunner({"--print-params"});
    EXPECT_EQ(printed.out.rfind("# landuse-headless " + std::string(LandUseVersion()) + " --params:", 0), 0u);
    // A line break in a setting, which would split a printed line in two, is refused at once.
    const Result broken = RunRunner({"--set", "E_crIndu=1\nEdit_size=3", "--print-params"});
    EXPECT_EQ(broken.code, 64);
    EXPECT_TRUE(broken.out.empty());
    EXPECT_NE(broken.err.find("'E_crIndu=1\\x0aEdit_size=3' holds a control character"), std::string::npos) << broken.err;
}

TEST(HeadlessRunner, ParamsFilesAreRegularFilesReadWhole)
{
    ScratchFolder folder;
    // A byte order mark and CRLF line ends, as an editor on Windows saves them.
    WriteFile(folder.File("windows.params"), "\xEF\xBB\xBF" "Edit_size=10\r\nE_stop=2\r\n");
    const Result windows = RunRunner({"--params", folder.File("windows.params"), "--cells"});
    ASSERT_EQ(windows.code, 0) << windows.err;
    EXPECT_EQ(Lines(windows.out).size(), 3u + 1 + 1 + 40 * 40);

    WriteFile(folder.File("large.params"), std::string((1 << 20) + 1, '#'));
    mkfifo(folder.File("fifo.params").c_str(), 0600);
    for (const auto& [path, message] : std::vector<std::pair<std::string, std::string>>{
             {folder.path, "is a folder, not a params file"},
             {"/dev/zero", "is not a regular file"},
             {folder.File("fifo.params"), "is not a regular file"},
             {folder.File("large.params"), "is larger than 1 MiB"},
             {folder.File("missing.params"), "cannot be read: No such file or directory"},
         }) {
        const Result r = RunRunner({"--steps", "1", "--params", path});
        EXPECT_EQ(r.code, 64) << path;
        EXPECT_NE(r.err.find(path + ": " + message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(HeadlessRunner, OutputPathsAreCheckedBeforeTheRunAndNeverClobbered)
{
    ScratchFolder folder;
    const std::string x = folder.File("x.csv");
    fs::create_directory(folder.File("sub"));
    struct Case {
        std::vector<std::string> arguments;
        int code;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {{"--stats", x, "--agents", x}, 1, "are the same file"},
             {{"--stats", x, "--cells", folder.path + "/sub/../x.csv"}, 1, "are the same file"},
             {{"--agents", x, "--cells", folder.path + "//./x.csv"}, 1, "are the same file"},
             {{"--stats", folder.File("sub")}, 1, "it is a folder"},
             {{"--agents", folder.File("none/a.csv")}, 1, "does not exist"},
             {{"--cells-every", "1", "--cells-dir", folder.File("none")}, 1, "No such file or directory"},
             {{"--cells-every", "1", "--cells-dir", x + "-file"}, 1, "not a folder"},
             {{"--pictures-every", "1", "--pictures-dir", folder.File("none")}, 1, "No such file or directory"},
             {{"--pictures-every", "1", "--pictures-dir", x + "-file"}, 1, "not a folder"},
         }) {
        WriteFile(x + "-file", "");
        const Result r = RunRunner(With({"--steps", "2", "--set", "Edit_size=10"}, c.arguments));
        EXPECT_EQ(r.code, c.code) << c.arguments[1];
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << "the run started: " << c.arguments[1];
        EXPECT_FALSE(fs::exists(x)) << c.arguments[1];
    }
    // A link at the name an earlier runner gave its temporary file is never
    // followed (atomic_file_test.cpp plants links at the names really tried).
    const std::string victim = folder.File("victim");
    WriteFile(victim, "keep me");
    fs::create_symlink(victim, folder.File("s.csv.part-" + std::to_string(getpid())));
    ASSERT_EQ(RunRunner({"--steps", "2", "--set", "Edit_size=10", "--stats", folder.File("s.csv")}).code, 0);
    EXPECT_EQ(ReadFile(victim), "keep me");
    EXPECT_EQ(ReadFile(folder.File("s.csv")).substr(0, 5), "step,");
}

TEST(HeadlessRunner, NonRegularOutputsAreWrittenIntoNotReplaced)
{
    ScratchFolder folder;
    const std::string expected = RunRunner({"--steps", "3", "--set", "Edit_size=10"}).out;
    // A FIFO, read on another thread.
    const std::string fifo = folder.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string fromFifo;
    std::thread reader([&] { fromFifo = ReadFile(fifo); });
    // A writer of our own, held over the run, so the reader ends even where a runner
    // never opened the FIFO.
    const int ownWriter = open(fifo.c_str(), O_WRONLY);
    const Result viaFifo = RunRunner({"--steps", "3", "--set", "Edit_size=10", "--stats", fifo});
    close(ownWriter);
    reader.join();
    EXPECT_EQ(viaFifo.code, 0) << viaFifo.err;
    EXPECT_EQ(fromFifo, expected);
    EXPECT_TRUE(fs::is_fifo(fifo));

    // A copy of /dev/null (never the real one: a runner that renames would replace it)
    // stays a device, and takes two tables.
    const std::string null = folder.File("null");
    if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "mknod needs root: the device case is not tested";
    const Result viaDevice = RunRunner({"--steps", "3", "--set", "Edit_size=10", "--stats", null, "--agents", null});
    EXPECT_EQ(viaDevice.code, 0) << viaDevice.err;
    EXPECT_TRUE(fs::is_character_file(null));
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"fifo", "null"}));
}

namespace {

std::string WithoutHeader(const std::string& csv)
{
    return csv.substr(csv.find('\n') + 1);
}

std::vector<std::string> SceneSettings(const Scene& scene)
{
    std::vector<std::string> arguments;
    for (const ControlSetting& setting : scene.settings) {
        arguments.push_back("--set");
        arguments.push_back(setting.name + "=" + setting.text);
    }
    return arguments;
}

}  // namespace

// A run saved halfway and continued from its state gives the whole run byte for
// byte: the statistics, the final agents and cells, and the final state itself.
TEST(HeadlessRunner, SavedStatesGoOnAsTheWholeRun)
{
    for (const Scene* scene : AllScenes()) {
        SCOPED_TRACE(scene->name);
        ScratchFolder folder;
        const int half = scene->steps / 2;
        auto whole = RunnerArguments(*scene, true);
        whole.insert(whole.end(), {"--save-state", folder.File("whole.lus")});
        auto first = SceneSettings(*scene);
        first.insert(first.end(), {"--steps", std::to_string(half), "--save-state", folder.File("half.lus")});
        // The settings are typed in again after loading: they change nothing here.
        auto second = SceneSettings(*scene);
        second.insert(second.end(), {"--load-state", folder.File("half.lus"), "--agents", "--cells", "--save-state",
                                     folder.File("end.lus"), "--steps", std::to_string(scene->steps - half)});

        const Result w = RunRunner(whole), a = RunRunner(first), b = RunRunner(second);
        ASSERT_EQ(w.code + a.code + b.code, 0) << w.err << a.err << b.err;
        EXPECT_EQ(a.out + WithoutHeader(b.out), w.out);
        EXPECT_EQ(ReadFile(folder.File("end.lus")), ReadFile(folder.File("whole.lus")));
    }
}

// The steps a run takes, by the engine's one rule, for new and loaded runs: a run
// at or past its stop time runs none, says why on stderr in one line and exits 0.
TEST(HeadlessRunner, StepsTakenByNewAndLoadedRuns)
{
    ScratchFolder folder;
    ASSERT_EQ(RunRunner({"--set", "Edit_size=10", "--set", "E_stop=8", "--save-state-every", "4", "--state-dir",
                         folder.path})
                  .code,
              0);
    const std::string at4 = folder.File("state-0000000004.lus"), at8 = folder.File("state-0000000008.lus");
    const struct {
        std::vector<std::string> arguments;
        int code;
        std::size_t rows;
        const char* err;  // what stderr holds, all of it; nullptr: a usage message
    } cases[] = {
        {{"--set", "Edit_size=10", "--set", "E_stop=3"}, 0, 3, ""},
        {{"--load-state", at4}, 0, 4, ""},
        {{"--load-state", at8}, 0, 0, "landuse-headless: the run is at step 8, its stop time 8: no step runs "
                                      "(--steps N runs N more)\n"},
        {{"--load-state", at8, "--set", "E_stop=5"}, 0, 0,
         "landuse-headless: the run is at step 8, past its stop time 5: no step runs (--steps N runs N more)\n"},
        {{"--load-state", at8, "--set", "E_stop=5", "--steps", "2"}, 0, 2, ""},
        {{"--load-state", at8, "--set", "E_stop=10"}, 0, 2, ""},
        {{"--load-state", at8, "--set", "E_stop=0"}, 64, 0, nullptr},
        {{"--load-state", at8, "--steps", "2147483640"}, 64, 0, nullptr},
        {{"--set", "E_stop=-1"}, 64, 0, nullptr},
    };
    for (const auto& c : cases) {
        const Result r = RunRunner(c.arguments);
        const std::string shown = c.arguments.back();
        EXPECT_EQ(r.code, c.code) << shown << r.err;
        if (c.code != 0) {
            EXPECT_NE(r.err.find("usage:"), std::string::npos) << shown;
            continue;
        }
        EXPECT_EQ(Lines(r.out).size(), 1 + c.rows) << shown;
        EXPECT_EQ(r.err, c.err) << shown;
    }
}

TEST(HeadlessRunner, StateFilesDuringTheRunAndThoseThatCannotBeLoaded)
{
    ScratchFolder folder;
    // Without --steps a loaded run goes on to its stop time.
    ASSERT_EQ(RunRunner({"--set", "Edit_size=10", "--set", "E_stop=9", "--save-state-every", "4", "--state-dir",
                         folder.path})
                  .code,
              0);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"state-0000000004.lus", "state-0000000008.lus"}));
    const Result rest = RunRunner({"--load-state", folder.File("state-0000000004.lus")});
    ASSERT_EQ(rest.code, 0) << rest.err;
    EXPECT_EQ(Lines(rest.out).size(), 1u + 5);
    EXPECT_EQ(Lines(rest.out)[1].substr(0, 2), "5,");

    const std::string state = ReadFile(folder.File("state-0000000004.lus"));
    const struct {
        const char* name;
        std::string bytes;
        const char* message;
    } damaged[] = {
        {"cut.lus", state.substr(0, state.size() / 2), "ends early"},
        {"flipped.lus", state.substr(0, 100) + char(state[100] ^ 4) + state.substr(101), "checksum"},
        {"version.lus", state.substr(0, 8) + std::string("\x04\0\0\0", 4) + state.substr(12), "format version 4"},
        {"text.lus", "step,agents\n", "not a run state"},
    };
    for (const auto& d : damaged) {
        std::ofstream(folder.File(d.name), std::ios::binary) << d.bytes;
        const Result r = RunRunner({"--load-state", folder.File(d.name), "--stats", folder.File("never.csv")});
        EXPECT_EQ(r.code, 65) << d.name;
        EXPECT_NE(r.err.find(d.message), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(folder.File("never.csv")));
    }
    EXPECT_EQ(RunRunner({"--load-state", folder.File("missing.lus")}).code, 65);
    EXPECT_EQ(RunRunner({"--load-state", folder.path}).code, 65);
    // The generator's state is the file's.
    EXPECT_EQ(RunRunner({"--load-state", folder.File("state-0000000004.lus"), "--seed", "3"}).code, 64);
    EXPECT_EQ(RunRunner({"--save-state-every", "3"}).code, 64);
}
