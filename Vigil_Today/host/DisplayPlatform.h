#pragma once

#include <string>

namespace vigil {

// The display the panel runs on, chosen from the environment before the application starts.
struct DisplayPlatform {
    enum class Kind {
        chosenByUser,  // QT_QPA_PLATFORM is set: the user's choice stands
        none,          // no display at all: the panel is rendered into a picture
        x11,           // an X server (also XWayland next to a Wayland compositor)
        waylandOnly,   // a Wayland compositor and no X server: a normal window
    };
    Kind kind = Kind::x11;
    // What QT_QPA_PLATFORM is to be set to before the application starts; empty: leave it.
    std::string qtPlatform;

    // From the values of QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY (null or empty: unset).
    // Where both an X server and a Wayland compositor are reachable the panel goes through X:
    // only there can it stay on top and keep its place.
    static DisplayPlatform choose(const char* qtPlatform, const char* display,
                                  const char* waylandDisplay);
};

}  // namespace vigil
