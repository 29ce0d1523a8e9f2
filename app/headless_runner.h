#pragma once
#include <ostream>
#include <string>
#include <vector>

// landuse-headless: the program's start-up with the given control values, then N
// time steps, writing the statistics of every step as CSV (and the final state on
// request); `landuse-headless --help` tells every option and control.
// A conversion error prints the message the window would show, naming the control,
// and ends the run at once, keeping the lines already printed; files asked for are
// written only for a run that finished.
// Returns the process exit code: 0 success, 2 a conversion error, 64 a command-line
// mistake (an unknown control, a value outside a control's or an option's range, a
// malformed argument, a params file that cannot be read), 1 any other failure (a
// batch of agents too large for the memory this process may take, a file not
// written, `out` included). A signal ends the program with 128 + its number (see
// signal_cleanup.h), outside this function.
int RunHeadless(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                bool errIsTerminal = false);
