#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace vigil {

// Raises another program's window through the X11 window manager, as a pager or task bar does
// (EWMH): among the managed windows (the root window's _NET_CLIENT_LIST), those whose _NET_WM_PID
// is the process or one of its descendants (the helpers it started); the process's own window
// first, else its descendants' in the list's order. The window manager is asked with a
// _NET_ACTIVE_WINDOW client message to the root window, source indication 2 (a user's request).
// Works wherever an X server is reachable, XWayland included. Main thread; each call opens and
// closes its own connection.
class WindowActivation {
  public:
    enum class Result {
        raised,     // the window manager was asked to activate the window
        noWindow,   // no managed window belongs to the process or its descendants
        noDisplay,  // no X server could be reached
    };

    // `display`: an X display name, empty for $DISPLAY. Processes are looked up in `root`/proc.
    explicit WindowActivation(std::string display = {}, std::string root = "/");

    Result raise(pid_t pid) const;
    // The window raise() picked last (0 before any, or when none was found).
    uint32_t lastWindow() const { return lastWindow_; }

  private:
    // Whether `pid` is `ancestor` or descends from it.
    bool belongsTo(pid_t pid, pid_t ancestor) const;

    std::string display_;
    std::string root_;
    mutable uint32_t lastWindow_ = 0;
};

}  // namespace vigil
