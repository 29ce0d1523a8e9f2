#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// Kinds of a cell.
enum CellKind : std::int32_t {
    kEmpty = 0,
    kObstacle = 1,
    kResidential = 2,
    kDestination = 3,
    kService = 4,
    kIndustry = 5,
};

// Indexes of the three potential fields.
enum PotentialField : int {
    kPopulationField = 0,
    kServiceField = 1,
    kIndustryField = 2,
};

// The field that kinds 2..4 name (kind - 2): residential the population field,
// destination the service field, service the industry field. Other kinds name none.
inline std::optional<PotentialField> FieldOfKind(std::int32_t kind)
{
    if (kind < kResidential || kind > kService) return std::nullopt;
    return static_cast<PotentialField>(kind - kResidential);
}

// One square of the world. Plain record; every field starts at zero except
// what the constructor sets. A cell's three potentials are held by the grid
// beside the cells, field by field (TCellList::Potential), so that the passes over
// the fields stream 8 bytes a cell and field rather than whole records. The
// fields that the step's whole-grid passes read (the drawing pass's test for a
// changed cell included) come first, the rest of the drawing state follows.
struct TCell {
    TCell() = default;
    TCell(std::int32_t positionX, std::int32_t positionY, std::int32_t size)
        : PositionX(positionX), PositionY(positionY), Size(size)
    {
    }

    double allTracks = 0.0;                 // traffic of all moves
    double returnTracks = 0.0;              // traffic of returning agents
    std::int32_t kind = kEmpty;
    std::int32_t agentCount = 0;            // agents whose current cell this is
    std::int32_t destinationIndex = 0;      // owning destination, never cleared
    std::int32_t shownFieldNumber = 0;      // field shown by draw mode 2
    double lastDrawnAllTracks = 0.0;        // all-tracks value at the last draw

    std::int32_t grayLevel = 0;             // last gray level computed by drawing
    bool allBlack = false;                  // copy of "all destinations black"
    // The cell's copy of the display range is held once for the whole grid
    // (Run::cellsDisplayRange): every write of it writes every cell alike.
    std::int32_t PositionX = 0;             // pixel centre
    std::int32_t PositionY = 0;
    std::int32_t Size = 0;                  // half cell: half the drawn square's side
};

static_assert(sizeof(TCell) == 64, "a cell is packed");
static_assert(offsetof(TCell, grayLevel) == 40, "the fields of the step's passes come first");
