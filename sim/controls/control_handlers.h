#pragma once
#include <cstdint>
#include <string>

struct Simulation;

// The change handlers of the panel's controls. The control table runs each after
// its control changed, whichever front end changed it.

// Change of Edit_size, E_crServ or E_crIndu: keeps the cell size text within 2..10.
// A text that is not a whole number throws ConversionError and stays as typed.
void Edit_sizeChange(Simulation& sim);
// Change of E_noise: an empty text becomes "0".
void E_noiseChange(Simulation& sim);
// Change of E_stop: the run's stop time follows the text.
void E_stopChange(Simulation& sim);
// Click of rb_direct or rb_hillCl: the run's return mode follows the buttons.
void RadioGroup2Click(Simulation& sim);
// Key released in the usage table: all fifteen cells are read again.
void StringGrid1KeyUp(Simulation& sim);

// The "Graphic" page. The draw mode changed: a new display range, every cell redrawn.
void CB_showABClick(Simulation& sim);
void CB_noTracksClick(Simulation& sim);
void CB_gravityClick(Simulation& sim);
void E_gravChange(Simulation& sim);
// "all destinations black" is copied into every cell.
void Cb_allBlackClick(Simulation& sim);
// A valid selection of the field chooser becomes the shown field; otherwise the
// last valid one stays.
void CB_FieldNrChange(Simulation& sim);
// "repaint all".
void B_repaintClick(Simulation& sim);

// The echo of a scroll position, as Lbl_B and Lbl_wiggle show it.
std::string AngleLabel(std::int32_t position);
