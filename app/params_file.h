#pragma once
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/controls/control_state.h"
#include "sim/core/program_start.h"

// A params file: one NAME=TEXT line per control, with the names of --set; lines
// starting with '#' and blank lines are ignored, as are a UTF-8 byte order mark and
// the CR of CRLF line ends. It must be a regular file of at most 1 MiB.

class ParamsFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Splits NAME=TEXT; false when there is no '=' or no name.
bool SplitSetting(const std::string& argument, ControlSetting& setting);

// Reads the settings in order. A file that cannot be read whole, a line that is no
// setting, names no control or gives a value its control cannot hold throws
// ParamsFileError naming the file (and line).
std::vector<ControlSetting> ReadParamsFile(const std::string& path);

// Every control's value as a params file that gives the same run: the values in
// effect, usage table included, and for each radio pair the button that is on,
// after a comment with the program's version. A value holding a line break throws
// ParamsFileError, with nothing written.
void WriteParams(std::ostream& out, const ControlState& controls, std::uint32_t seed);
