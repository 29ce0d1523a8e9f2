#include "sim/phases/movement.h"

#include <algorithm>
#include <optional>

#include "model/rounding.h"
#include "sim/controls/control_table.h"
#include "sim/phases/sensing.h"
#include "sim/phases/tracks.h"

namespace {

void MoveAgent(Simulation& sim, std::size_t index, const MovementParameters& p)
{
    Run& run = sim.run;
    TAgent& agent = run.agents[index];

    if (agent.mode == kReturning) {
        // The plain differences, not the shorter way around the torus.
        agent.SetHeading(run.homeHeadings.Of(agent.homeColumn - agent.column, agent.homeRow - agent.row));
    }
    SenseDirections(sim, index, p.angleThreshold);
    agent.ChangeHeading(p.angleThreshold, run.returnMode, p.wiggleThreshold, p.sniffMethod, p.returnNoise, sim.random);

    std::int32_t targetColumn = agent.column + agent.dx;
    std::int32_t targetRow = agent.row + agent.dy;
    agent.travelSteps += 1;
    WrapCoords(targetColumn, targetRow, run.columns, run.rows);
    TCell& current = run.cells(agent.column, agent.row);
    TCell& target = run.cells(targetColumn, targetRow);

    if (agent.mode == kReturning) LayReturnTrack(run, current);

    if (agent.mode == kReturning && agent.column == agent.homeColumn && agent.row == agent.homeRow) {
        agent.mode = kSearching;
        agent.success = 1;
        agent.heading += 180;
        // Only an index that names a destination counts an arrival.
        if (agent.foundDestinationIndex >= 0 &&
            static_cast<std::size_t>(agent.foundDestinationIndex) < run.destinations.size())
            run.destinations[agent.foundDestinationIndex].arrivals += 1;
        agent.travelSteps = 0;
    }

    if (target.kind >= kDestination && agent.mode == kSearching) {
        const double draw = sim.random.RandomReal();
        if (draw <= p.consumeProbability) {
            agent.mode = kReturning;
            agent.foundDestinationIndex = target.destinationIndex;
        }
    }

    if (target.kind == kObstacle) {
        agent.heading += sim.random.Random(360);
        NormalizeAngle(agent.heading);
    } else {
        LayAllTrack(run, current);
        agent.column = targetColumn;
        agent.row = targetRow;
        agent.SetPixelX(agent.column * run.cellSize + run.halfCell);
        agent.SetPixelY(agent.row * run.cellSize + run.halfCell);
        current.agentCount -= 1;
        target.agentCount += 1;
    }

    if (agent.migrated == 0 && sim.controls.CB_migrate) TryMigrate(sim, agent);
}

}  // namespace

MovementParameters ReadMovementParameters(const ControlState& controls)
{
    MovementParameters p;
    p.angleThreshold = std::clamp(controls.TrB_thresh, kScrollMinimum, kScrollMaximum);
    p.wiggleThreshold = std::clamp(controls.SB_wiggle, kScrollMinimum, kScrollMaximum);
    // Outside 0..180 the return turn could leave the heading range or ask for an
    // empty random range, so the noise is kept within it.
    const double noise = std::clamp(ReadReal(controls, &ControlState::E_noise), 0.0, 180.0);
    p.returnNoise = RoundHalfEven(noise);
    p.consumeProbability = ReadReal(controls, &ControlState::E_CProbab);
    p.sniffMethod = controls.rb_rulette ? SniffMethod::RouletteWheel
                                        : (controls.rb_hill ? SniffMethod::HillClimbing : SniffMethod::None);
    return p;
}

void MoveAgents(Simulation& sim)
{
    const MovementParameters p = ReadMovementParameters(sim.controls);
    const std::size_t count = sim.run.agents.size();
    for (std::size_t i = 0; i < count; ++i) MoveAgent(sim, i, p);
}

void TryMigrate(Simulation& sim, TAgent& agent)
{
    Run& run = sim.run;
    const std::int32_t threshold = ReadInteger(sim.controls, &ControlState::E_migTh);
    const std::int32_t count = NeighbourAgentCount(agent.column, agent.row, run.cells);
    TCell& current = run.cells(agent.column, agent.row);
    if (count < threshold || current.kind != kEmpty) return;

    TCell& oldHome = run.cells(agent.homeColumn, agent.homeRow);
    const std::int32_t kind = oldHome.kind;
    SetCellKind(run.landUse, oldHome, kEmpty);
    // A home erased or repainted to a kind without a field moves without touching any.
    const std::optional<PotentialField> field = FieldOfKind(kind);
    if (field) {
        double& old = run.cells.Potential(agent.homeColumn, agent.homeRow, *field);
        old = old > 1.0 ? old - 1.0 : 0.0;
    }
    agent.homeColumn = agent.column;
    agent.homeRow = agent.row;
    agent.migrated = 1;
    SetCellKind(run.landUse, current, kind);
    if (field) {
        double& now = run.cells.Potential(agent.column, agent.row, *field);
        now = now + 1.0;
    }
    sim.screen().DrawCell(agent.column, agent.row);
}
