#pragma once
#include <fstream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "simulation.h"
#include "statistics.h"

// The runner's three tables, as CSV.
using Tags = std::vector<std::pair<std::string, std::string>>;

// The statistics header and one line per step; tags come first, as extra columns
// with the same value on every row, so tables of many runs concatenate.
void WriteStatisticsHeader(std::ostream& out, const Tags& tags);
// The tags' keys (for the header) or values (for every row), each followed by ','.
std::string TagColumns(const Tags& tags, bool keys);
// One row: the tags' values as TagColumns gives them, then the statistics. Allocates
// nothing, as it runs inside the time step.
void WriteStatisticsLine(std::ostream& out, const std::string& tagValues, const StepStatistics& s);
void WriteAgents(std::ostream& out, const Run& run);
void WriteCells(std::ostream& out, const Run& run);

// A file that appears under its name only when it is committed: it is written
// under a temporary name in the same folder and renamed at the end, so a run that
// fails leaves no file, or the previous one, behind.
class AtomicFile {
public:
    // Throws std::runtime_error naming the file when it cannot be created.
    explicit AtomicFile(std::string path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    std::ostream& stream() { return stream_; }
    // Throws std::runtime_error when the file could not be written or renamed.
    void Commit();

private:
    std::string path_;
    std::string temporaryPath_;
    std::ofstream stream_;
    bool committed_ = false;
};
