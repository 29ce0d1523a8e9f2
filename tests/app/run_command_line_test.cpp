// The command line copied from a run sets up the same run in the headless runner.
#include <gtest/gtest.h>

#include <sstream>

#include "app/headless_runner.h"
#include "sim/controls/control_table.h"
#include "sim/controls/run_command_line.h"
#include "sim/controls/world_editing.h"
#include "sim/core/setup.h"
#include "sim/core/time_step.h"
#include "sim/io/statistics_csv.h"

namespace {

// The statistics lines a run plots, as the runner prints them.
struct StatisticsLines : RunEvents {
    void StepDone(const StepStatistics& s) override { text += StatisticsCsvLine(s); }
    std::string text;
};

// Splits a command as a POSIX shell would, for the words RunCommandLine writes:
// plain words and single-quoted ones.
std::vector<std::string> ShellWords(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (const char c : line) {
        if (quoted) {
            if (c == '\'') quoted = false;
            else word += c;
        } else if (c == '\'') {
            quoted = inWord = true;
        } else if (c == ' ') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

std::string FirstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

}  // namespace

TEST(RunCommandLine, SetsUpTheSameRunInTheRunner)
{
    StatisticsLines plotted;
    Simulation sim(nullptr, &plotted);
    SetControl(sim, "Edit_size", "7");
    FormCreate(sim);
    EXPECT_EQ(RunCommandLine(sim), "landuse-headless --set Edit_size=7\n");

    // A second set-up starts where the generator stands; settings changed since the
    // set-up, a usage-table cell among them, take effect from the start in the runner.
    SetControl(sim, "rb_rulette", "1");
    SetControl(sim, "rb_direct", "1");
    SetControl(sim, "TrB_thresh", "40");
    SetControl(sim, "E_CProbab", "0,25");
    B_setupClick(sim);
    SetControl(sim, "StringGrid1.2.1", " 0,5");
    SetControl(sim, "Edit_size", "9");  // read at the next set-up only
    plotted.text.clear();
    for (int i = 0; i < 25; ++i) TimeStep(sim);

    const std::string command = RunCommandLine(sim);
    ASSERT_EQ(command.find('\n'), command.size() - 1) << command;
    std::vector<std::string> words = ShellWords(FirstLine(command));
    ASSERT_EQ(words.at(0), "landuse-headless");
    EXPECT_NE(command.find(" --seed "), std::string::npos);
    EXPECT_NE(command.find(" --set Edit_size=7 "), std::string::npos);
    EXPECT_NE(command.find(" --set 'StringGrid1.2.1= 0,5'"), std::string::npos);
    EXPECT_EQ(command.find("rb_hill"), std::string::npos);  // radio pairs by the button that is on

    words.erase(words.begin());
    std::ostringstream out, err;
    ASSERT_EQ(RunHeadless(words, out, err), 0) << err.str();
    EXPECT_EQ(out.str(), kStatisticsCsvHeader + plotted.text);
}

TEST(RunCommandLine, SaysWhenTheWorldWasEditedByHand)
{
    Simulation sim;
    FormCreate(sim);
    EXPECT_EQ(RunCommandLine(sim), "landuse-headless\n");
    MouseEditingState mouse;
    MouseDown(sim, mouse, MouseButton::Right, false, 100, 100);
    MouseMove(sim, mouse, 100, 100);
    MouseUp(mouse);
    EXPECT_EQ(RunCommandLine(sim),
              "landuse-headless\n# The world was edited with the mouse: those edits are not included.\n");
    B_setupClick(sim);  // a new run is the runner's again
    EXPECT_EQ(FirstLine(RunCommandLine(sim)).find('#'), std::string::npos);
    EXPECT_EQ(RunCommandLine(sim).find("edited"), std::string::npos);
}
