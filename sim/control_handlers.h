#pragma once
#include "simulation.h"

// Change of Edit_size, E_crServ or E_crIndu: keeps the cell size text within 2..10.
// A text that is not a whole number throws ConversionError and stays as typed.
void Edit_sizeChange(ControlState& controls);
// Change of E_noise: an empty text becomes "0".
void E_noiseChange(ControlState& controls);
// Click of rb_direct or rb_hillCl: the run's return mode follows the buttons.
void RadioGroup2Click(Simulation& sim);
// The echo of a scroll position, as Lbl_B and Lbl_wiggle show it.
std::string AngleLabel(std::int32_t position);
