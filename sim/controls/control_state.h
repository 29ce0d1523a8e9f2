#pragma once
#include <array>
#include <cstdint>
#include <string>

// The state of every control of the panel, as the panel holds it: texts of
// edits, check states, scroll positions, the selected item, the usage table's
// texts. The model converts a value at the moment it reads it, so a text that
// does not convert fails there and nowhere else. The window edits this very
// record; the headless runner fills it from the command line.
struct ControlState {
    // Page "Setup"
    std::string Edit_anzAg = "2400";
    std::string Edit_size = "2";
    bool rb_rulette = false;
    bool rb_hill = true;
    std::string E_crAgs = "3";
    std::string E_crServ = "1";
    std::string E_crIndu = "1";

    // Page "Settings"
    std::int32_t TrB_thresh = 22;  // 0..180
    std::int32_t SB_wiggle = 20;   // 0..180
    std::string E_decay = "0,99";
    bool CB_decay = false;
    std::string E_CProbab = "0,1";
    std::string E_migTh = "2";
    bool CB_migrate = false;
    std::string E_noise = "30";
    bool rb_direct = false;
    bool rb_hillCl = true;
    // Usage table texts [column][row], 6 x 4; written by the reset.
    std::array<std::array<std::string, 4>, 6> StringGrid1{};

    // Page "Graphic"
    bool CB_noTracks = false;
    bool CB_showOrig = false;
    bool CB_showAB = true;
    bool cb_noDesti = false;
    bool Cb_allBlack = false;
    bool CB_potField = false;
    std::int32_t CB_FieldNr = -1;  // selected item; -1 until the chooser is filled
    bool CB_showAg = false;
    bool CB_gravity = false;
    std::string E_grav = "5";

    // Frame "timesteps"
    std::string E_stop = "800";
};

inline constexpr std::int32_t kScrollMinimum = 0;
inline constexpr std::int32_t kScrollMaximum = 180;
