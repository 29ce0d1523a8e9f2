#pragma once
#include "sim/core/simulation.h"

// One time step: diffusion, growth below the agent maximum, normalisation,
// drawing, movement, tracks, the step count with the stop test, statistics.
// A conversion error ends the step where the value was read (ConversionError).
void TimeStep(Simulation& sim);
