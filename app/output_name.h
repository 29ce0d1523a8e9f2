#pragma once
#include <cstdint>
#include <string>

// The name a file is written at when the user names `path`: the path itself, or,
// where it is a symbolic link, the name the link leads to after every hop, whether
// or not a file is there yet. A relative link leads from the link's own folder.
// Writing at this name rather than at `path` keeps a link a link: the file it
// names is replaced, or created where a link dangles. Throws std::runtime_error
// for a chain of links that does not end (a loop) or cannot be read.
std::string LinkedName(const std::string& path);

// DIR/STEM-STEP.EXTENSION, for the files written every N steps. The step takes
// ten digits, as many as its largest count (2147483647), so the names sort by
// step, as a glob of a movie's frames lists them.
std::string StepFileName(const std::string& directory, const char* stem, std::int32_t step, const char* extension);
