#include "app/display_check.h"

#include <cstdlib>
#include <sstream>

namespace {

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

DisplayEnvironment CurrentDisplayEnvironment(const std::vector<std::string>& arguments)
{
    DisplayEnvironment environment;
    if (const char* platform = std::getenv("QT_QPA_PLATFORM")) environment.platforms = platform;
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i)
        if (arguments[i] == "-platform" || arguments[i] == "--platform") environment.platforms = arguments[i + 1];
    environment.x11Display = IsSet("DISPLAY");
    environment.waylandDisplay = IsSet("WAYLAND_DISPLAY");
    return environment;
}

std::optional<std::string> MissingDisplayReason(const DisplayEnvironment& environment)
{
    const bool anyDisplay = environment.x11Display || environment.waylandDisplay;
    if (environment.platforms.empty()) {
        if (anyDisplay) return std::nullopt;
        return "no display available: neither DISPLAY nor WAYLAND_DISPLAY is set";
    }
    // Qt tries the platforms of a list in turn; one that can start is enough.
    std::istringstream list(environment.platforms);
    std::string entry;
    while (std::getline(list, entry, ';')) {
        const std::string name = entry.substr(0, entry.find(':'));  // options follow a colon
        if (name == "xcb") {
            if (environment.x11Display) return std::nullopt;
        } else if (name.rfind("wayland", 0) == 0) {
            if (environment.waylandDisplay) return std::nullopt;
        } else if (!name.empty()) {
            return std::nullopt;
        }
    }
    return "no display available for the Qt platform \"" + environment.platforms +
           "\": DISPLAY or WAYLAND_DISPLAY is not set";
}
