#pragma once
#include <optional>
#include <string>
#include <vector>

// Where the window would be shown: the Qt platforms asked for (a "-platform"
// argument, else QT_QPA_PLATFORM; empty for Qt's default) and the display
// servers the environment names.
struct DisplayEnvironment {
    std::string platforms;  // e.g. "xcb", "offscreen", "wayland;xcb"
    bool x11Display = false;      // DISPLAY is set
    bool waylandDisplay = false;  // WAYLAND_DISPLAY is set
};

// The environment of this process, with the "-platform" argument among `arguments` if any.
DisplayEnvironment CurrentDisplayEnvironment(const std::vector<std::string>& arguments);

// Why the window cannot be shown, or nothing when some platform asked for can
// work: one that draws without a display server (offscreen, minimal, vnc,
// eglfs, linuxfb ...), or X11 or Wayland with its display named. Qt's default
// platform needs X11 or Wayland.
std::optional<std::string> MissingDisplayReason(const DisplayEnvironment& environment);
