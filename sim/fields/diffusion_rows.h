#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "sim/parallel/row_splitter.h"

// Working rows of the one-pass diffusion, sized once for the grid and reused at
// every step. Each worker keeps a ring of three rows: the fields as they stood
// before the step, their exact integer forms and sums across each cell's three
// columns; a field whose values all have integer forms fills its values and flags
// only when an update asks for them. The rows just outside each block of rows, which another block (or the
// wrap) may change first, are copied before the pass begins.
struct DiffusionRows {
    struct Row {
        std::array<std::vector<double>, 3> value;         // [field][column], as before the step, when filled
        std::array<std::vector<std::int64_t>, 3> units;   // value in units of 2^-55, 0 when not exact
        std::array<std::vector<std::uint8_t>, 3> own;     // value has an exact integer form
        std::array<std::vector<std::int64_t>, 3> across;  // units of columns c-1, c, c+1
        std::array<std::vector<std::uint8_t>, 3> exact;   // all three of those are exact
        std::vector<std::uint8_t> redo;                   // a result the integer forms could not give
        std::array<bool, 3> allExact{};                   // every value of the field has an integer form
        std::array<bool, 3> flagsFilled{};                // own and exact hold the field's flags
        std::array<bool, 3> valuesFilled{};               // value holds the field's values
    };
    // What one worker diffuses with.
    struct Ring {
        std::array<Row, 3> rows;
        std::vector<std::uint32_t> seeds;  // the draws of the row being diffused
    };
    // The rows bordering one block, field after field.
    struct Borders {
        std::vector<double> above;  // the row before the block
        std::vector<double> below;  // the row after it
    };

    std::int32_t columns = -1;
    std::int32_t rows = -1;
    std::array<Ring, 2> rings;  // by worker
    std::array<Borders, RowSplitter::kMaxBlocks> borders;

    void Resize(std::int32_t newColumns, std::int32_t newRows);
};
