#pragma once
#include <string>

// The reference pages made from the program's own tables, as docs/reference holds
// them: the output columns of a step's statistics, and the run state file's format.
std::string OutputColumnsPage();
std::string RunStateFormatPage();
