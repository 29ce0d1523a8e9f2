// landuse-reference-pages DOCS [--check]: writes the pages of the documentation
// that are made from the program itself, the runner's options from its --help,
// the controls from the control table, the output columns from the statistics
// columns and the run state format from its records, into DOCS; with --check, writes nothing and
// exits 1 when a page in DOCS differs from what it would write.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/runner_options.h"
#include "sim/controls/control_table.h"
#include "sim/io/reference_pages.h"

namespace {

std::string RunnerOptionsPage()
{
    std::ostringstream help;
    RunnerOptions options;
    ParseRunnerOptions({"--help"}, options, help);
    return "# landuse-headless options\n\n"
           "The headless runner's `--help`, as the program prints it. This page is made from it:\n"
           "after a change to the runner's options or to the control table, run\n"
           "`build/app/landuse-reference-pages docs` from the top of the source tree (the test\n"
           "`reference_pages_match` fails while the page is out of date).\n\n"
           "```text\n" +
           help.str() + "```\n";
}

// A table cell: a | would end the cell early.
std::string Cell(const std::string& text)
{
    std::string cell;
    for (const char c : text) cell += c == '|' ? std::string("\\|") : std::string(1, c);
    return cell;
}

std::string ControlsPage()
{
    std::ostringstream page;
    page << "# The controls\n\n"
            "Every control of the window's panel and every cell of its usage table, as the control table\n"
            "of the model (sim/control_table.cpp) describes them. The window, the headless runner\n"
            "(`--set NAME=TEXT`, `--params`) and the Python package (`landuse.Simulation(NAME=value)`,\n"
            "`landuse.control_table()`) all set a control through that table, so a value means the same\n"
            "everywhere. This page is made from the table by `build/app/landuse-reference-pages docs`; the\n"
            "test `reference_pages_match` fails while it is out of date.\n\n"
            "**Range** says what is enforced and how:\n\n"
            "- *takes ... (others refused when set)*: a value outside is refused before anything runs\n"
            "  (`ControlValueError`; the runner exits with 64). Check boxes, radio buttons, scroll bars and\n"
            "  the field chooser hold nothing else.\n"
            "- *whole numbers ... (others refused when read)*: an integer edit holds any text, as the\n"
            "  panel's edit does; the model reads it as a 32-bit whole number when it needs it, and a text\n"
            "  that is no such number stops the run there (`ConversionError`; the runner exits with 2).\n"
            "- *kept within ... by its change handler*: a value outside is brought back within the range.\n"
            "- *typically ... (not enforced)*: the values the model is meant for. Nothing checks them:\n"
            "  `E_CProbab=5` or `E_CProbab=-1` runs and exits 0, as the window's panel would run it.\n\n"
            "Edits and usage cells take their text as typed: reals with a decimal comma or point (`0,1`,\n"
            "`0.1`), whole numbers in decimal.\n";
    std::optional<PanelPage> current;
    for (const ControlDefinition& control : ControlTable()) {
        if (current != control.page) {
            current = control.page;
            page << "\n## Page \"" << PageTitle(control.page) << "\"\n\n"
                 << "| Control | Caption | Kind | Default | Unit | Meaning | Range |\n"
                 << "|---|---|---|---|---|---|---|\n";
        }
        page << "| `" << control.name << "` | " << Cell(control.caption) << " | " << KindName(control.kind) << " | `"
             << control.defaultValue << "` | " << Cell(control.unit) << " | " << Cell(control.meaning) << " | "
             << Cell(RangeText(control)) << " |\n";
    }
    return page.str();
}

std::string ReadWhole(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool check = arguments.size() == 2 && arguments[1] == "--check";
    if (arguments.empty() || arguments.size() > 2 || (arguments.size() == 2 && !check)) {
        std::cerr << "usage: landuse-reference-pages DOCS [--check]\n";
        return 64;
    }
    const std::filesystem::path docs = arguments[0];
    const std::pair<std::filesystem::path, std::string> pages[] = {
        {docs / "reference" / "runner-options.md", RunnerOptionsPage()},
        {docs / "explanation" / "controls.md", ControlsPage()},
        {docs / "reference" / "output-columns.md", OutputColumnsPage()},
        {docs / "reference" / "run-state-format.md", RunStateFormatPage()},
    };
    int code = 0;
    for (const auto& [path, text] : pages) {
        if (check) {
            if (ReadWhole(path) != text) {
                std::cerr << path.string() << " is out of date: run landuse-reference-pages " << docs.string() << "\n";
                code = 1;
            }
            continue;
        }
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out << text;
        out.close();  // a failed close is a page not written, as a failed write is
        if (!out) {
            std::cerr << "cannot write " << path.string() << "\n";
            code = 1;
        }
    }
    return code;
}
