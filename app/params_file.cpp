#include "params_file.h"

#include <fstream>
#include <optional>

#include "control_table.h"

bool SplitSetting(const std::string& argument, ControlSetting& setting)
{
    const auto eq = argument.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    setting = {argument.substr(0, eq), argument.substr(eq + 1)};
    return true;
}

std::vector<ControlSetting> ReadParamsFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw ParamsFileError(path + ": cannot be read");
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
    out << "# landuse-headless --params: every control's value in effect\n";
    if (seed != 0) out << "# the run also needs --seed " << seed << "\n";
    std::optional<PanelPage> page;
    for (const ControlDefinition& control : ControlTable()) {
        if (page != control.page) {
            page = control.page;
            out << "# " << PageTitle(control.page) << "\n";
        }
        // A radio button can only be switched on: the pair is given by its button that is on.
        if (control.kind == ControlKind::RadioButton && !(controls.*control.checked)) continue;
        out << control.name << '=' << ControlValue(controls, control) << '\n';
    }
}
