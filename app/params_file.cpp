#include "app/params_file.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <sstream>

#include "app/input_file.h"
#include "sim/controls/control_table.h"
#include "sim/core/version.h"

namespace {

constexpr std::size_t kMaxParamsFileBytes = 1 << 20;

// The whole text of a params file: a regular file of at most 1 MiB.
std::string ReadParamsText(const std::string& path)
{
    try {
        return ReadWholeRegularFile(path, kMaxParamsFileBytes, "a params file");
    } catch (const InputFileError& e) {
        throw ParamsFileError(path + ": " + e.what());
    }
}

}  // namespace

bool SplitSetting(const std::string& argument, ControlSetting& setting)
{
    const auto eq = argument.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    setting = {argument.substr(0, eq), argument.substr(eq + 1)};
    return true;
}

std::vector<ControlSetting> ReadParamsFile(const std::string& path)
{
    std::string text = ReadParamsText(path);
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);  // a UTF-8 byte order mark
    std::istringstream in(text);
    std::vector<ControlSetting> settings;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        ControlSetting setting;
        if (!SplitSetting(line, setting)) throw ParamsFileError(where + "expected NAME=TEXT, found '" + line + "'");
        try {
            CheckControlValue(setting.name, setting.text);
        } catch (const ControlValueError& e) {
            throw ParamsFileError(where + e.what());
        }
        settings.push_back(std::move(setting));
    }
    return settings;
}

void WriteParams(std::ostream& out, const ControlState& controls, std::uint32_t seed)
{
    // Assembled first, so that a value the format cannot hold prints nothing.
    std::ostringstream text;
    text << "# landuse-headless " << LandUseVersion() << " --params: every control's value in effect\n";
    if (seed != 0) text << "# the run also needs --seed " << seed << "\n";
    std::optional<PanelPage> page;
    for (const ControlDefinition& control : ControlTable()) {
        if (page != control.page) {
            page = control.page;
            text << "# " << PageTitle(control.page) << "\n";
        }
        // A radio button can only be switched on: the pair is given by its button that is on.
        if (control.kind == ControlKind::RadioButton && !(controls.*control.checked)) continue;
        const std::string value = ControlValue(controls, control);
        // A line holds one setting: a line break would end the value early.
        if (value.find_first_of("\r\n") != std::string::npos)
            throw ParamsFileError(std::string(control.name) +
                                  ": the value holds a line break, which a params file cannot hold");
        text << control.name << '=' << value << '\n';
    }
    out << text.str();
}
