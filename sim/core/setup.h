#pragma once
#include "sim/core/simulation.h"

// Program start: the first set-up, the field chooser, the usage table.
void FormCreate(Simulation& sim);
// "new Setup": the old run is torn down and a new one built from the panel.
// A cell size or stop time that does not convert refuses the set-up before the
// old run is touched (the timer is stopped either way).
void B_setupClick(Simulation& sim);
// Window closing.
void FormDestroy(Simulation& sim);

void InitRun(Simulation& sim);
// Sizes the working storage of the passes for the run's grid, so that no step
// allocates: the set-up's and a loaded run's.
void SizeRunStorage(Run& run);
void FreeRun(Simulation& sim);
void CreateCells(Simulation& sim);
void ResetCells(Simulation& sim);
void CreateDestinations(Simulation& sim);
