// The reference pages made from the program's own tables: the output columns of a
// step's statistics and the run state file's format. The pages in docs/reference
// are these texts as landuse-reference-pages writes them.

#include "sim/io/reference_pages.h"

#include "sim/core/statistics_columns.h"
#include "sim/io/run_state.h"
#include "sim/io/run_state_records.h"

namespace {

std::string Regenerate(const char* page)
{
    return std::string("<!-- Made by landuse-reference-pages from the program's tables; do not edit by hand. ") +
           "Write it anew with: cmake --build build --target landuse-reference-pages && " +
           "build/app/landuse-reference-pages docs (" + page + "); the test reference_pages_match fails while it is out of date -->\n";
}

}  // namespace

std::string OutputColumnsPage()
{
    std::string page = Regenerate("output-columns.md");
    page += R"(# Output columns

The statistics of a step, one row per step: the columns of the headless runner's
`--stats` CSV and of the window's "Save statistics as CSV...", the statistics rows
of a run state file, `Simulation.statistics` and `landuse.read_statistics` in
Python, and the statistics columns of a sweep's table, all in this order.

Types:

- **integer**: a whole number the model holds in 32 bits. A CSV writes it in
  decimal and a run state file as a little-endian i32. In Python it is `int64`
  in `Simulation.statistics` and `read_statistics`, and a Python `int` where a
  stop condition's text compares the last step's values. A sweep's table gives
  every integer column the nullable pandas type `Int64`, whether or not a run
  failed: the row that carries a failed run's error has no statistics, and
  holds `<NA>` there.
- **real**: a double. A CSV writes it with 17 significant digits, so that it
  reads back to the same double; a run state file holds its 8 bytes. In Python
  it is `float64` everywhere, `NaN` on a sweep's error row.

Percentages are of the agents in the list, and they and `avg_travel` are rounded
half to even, exactly; with no agents they are 0. The six land-use columns sum to
the grid's cells.

| column | type | unit | meaning |
|---|---|---|---|
)";
    for (const StatisticsColumn& column : kStatisticsColumns) {
        page += "| `" + std::string(column.name) + "` | " + std::string(ColumnTypeName(column.type)) + " | " +
                std::string(column.unit) + " | " + std::string(column.meaning) + " |\n";
    }
    return page;
}

namespace {

template <std::size_t N>
void AppendRecord(std::string& page, const char* heading, const RecordTable<N>& table, const char* about)
{
    page += "\n" + std::string(heading) + "\n\n" + about + "\n\n";
    page += "| field | type | count | bytes | unit | meaning | since |\n|---|---|---|---|---|---|---|\n";
    bool fixed = true;
    for (const RecordField& field : table) {
        const std::size_t bytes = FieldKindBytes(field.kind) * field.count;
        fixed = fixed && field.kind != FieldKind::Text;
        page += "| `" + std::string(field.name) + "` | " + std::string(FieldKindName(field.kind)) + " | " +
                std::to_string(field.count) + " | " +
                (field.kind == FieldKind::Text ? std::string("4 + length") : std::to_string(bytes)) + " | " +
                std::string(field.unit) + " | " + std::string(field.meaning) + " | " + std::to_string(field.since) +
                " |\n";
    }
    if (fixed) page += "\nA record takes " + std::to_string(RecordBytes(table)) + " bytes.\n";
}

// What the whole file is: its types, and what a loader refuses.
const char* const kFileText = R"(
A run state file (`.lus`) holds a whole run, so that it goes on bit for bit where
it was saved: a header of 24 bytes, then the payload. Every number is
little-endian, with no padding anywhere.

Types: `u8`, `u32`, `u64` are unsigned and `i32` signed whole numbers of 8, 32
and 64 bits; `flag` is one byte, 0 or 1 (any other value is refused); `f64` is
the 8 bytes of an IEEE 754 double; `f80` is the first 10 bytes of an x87 80-bit
extended real (64-bit significand, 15-bit exponent and the sign); `text` is a
`u32` byte count followed by that many bytes of UTF-8, with no terminator. A
field of count n is n values of its type one after the other. A field whose
`since` is above a file's format version is absent from that file: its value is
the one given in its meaning.

A loader refuses a file whose magic differs, whose format version it does not
read, whose payload size differs from the bytes that follow the header, or whose
checksum does not match; then every count that the rest of the file cannot hold,
every value out of its range and every value no run writes.
)";

// The payload's sections in order.
const char* const kPayloadText = R"(
## Payload

The payload's sections, in order:

1. The writer record, once (from version 3).
2. `control_count` (`u32`), then `control_count` control records: every control
   of the control table but the usage table's cells, each exactly once, in any
   order.
3. The usage table texts record, once.
4. The generator record, once.
5. The usage parameters record, once: the values the usage table's texts gave.
6. The run values record, once.
7. `cell_count` (`u32`, columns x rows), then the cell records in row-major
   order: row 0 from column 0 to the last, then row 1, and so on.
8. `agent_count` (`u32`), then the agent records in the agent list's order.
9. `destination_count` (`u32`), then the destination records in list order: a
   cell's `destination_index` and an agent's `found_destination_index` count
   in this order from 0.
10. `statistics_count` (`u32`), then the statistics records of the steps so far,
    in step order; their columns are described in
    [output columns](output-columns.md).

Nothing follows the last statistics record.

## Records
)";

}  // namespace

std::string RunStateFormatPage()
{
    std::string page = Regenerate("run-state-format.md");
    page += "# Run state file format\n\nThis page describes format version " + std::to_string(kRunStateVersion) +
            "; the program reads versions " + std::to_string(kOldestRunStateVersion) + " to " +
            std::to_string(kRunStateVersion) + ".\n";
    page += kFileText;
    AppendRecord(page, "## Header", kHeaderRecord, "The first 24 bytes of the file.");
    page += kPayloadText;
    AppendRecord(page, "### Writer", kWriterRecord, "Which program wrote the file.");
    AppendRecord(page, "### Control", kControlRecord, "One control's setting.");
    AppendRecord(page, "### Usage table texts", kUsageTextsRecord, "The usage table as its texts.");
    AppendRecord(page, "### Generator", kGeneratorRecord, "The random generator.");
    AppendRecord(page, "### Usage parameters", kUsageRecord, "The fifteen usage parameters.");
    AppendRecord(page, "### Run values", kRunValuesRecord, "The values of the run as a whole.");
    AppendRecord(page, "### Cell", kCellRecord, "One cell of the grid.");
    AppendRecord(page, "### Agent", kAgentRecord, "One agent.");
    AppendRecord(page, "### Destination", kDestinationRecord, "One destination: a block of 3 x 3 destination cells.");
    AppendRecord(page, "### Statistics", kStatisticsRecord, "The statistics of one step.");
    page += R"(
## Versions

- 1: the first format.
- 2: the run values record gained `drawing_recorded`.
- 3: the payload starts with the writer record.
)";
    return page;
}
