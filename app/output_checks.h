#pragma once
#include <string>
#include <vector>

// The checks on the runner's outputs made before the first step, so that a run is
// not lost at its end for a path that could never be written.

// A table's destination: its option and path; an empty path is stdout.
struct OutputTarget {
    std::string option;  // "--stats", "--agents", "--cells"
    std::string path;
};

// Throws std::runtime_error when a path names a folder or lies in a folder that does
// not exist, or when two tables would land in one file (the same device and inode
// when the file exists, else the same name once its links are followed; stdout counts when it is a
// regular file). Character devices such as /dev/null may take several tables.
void CheckOutputTargets(const std::vector<OutputTarget>& targets);

// Throws std::runtime_error unless `directory` is a folder this process may write in.
void CheckOutputFolder(const std::string& option, const std::string& directory);
