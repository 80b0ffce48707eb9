#pragma once

#include "system/Alerts.h"

namespace vigil {

class Defaults;
class NavigationController;
class System;
class ThemeManager;

// The shared objects a row or the widget controller works with. The program uses the process-wide
// instances; tests hand in their own (a System over fixture machines, a store in a temporary
// folder).
struct WidgetContext {
    System& system;
    NavigationController& navigator;
    Defaults& defaults;
    ThemeManager& themes;
    // Whose firing rules the gauges and detail views show.
    Alerts& alerts = Alerts::shared();

    // System::shared(), NavigationController::shared(), Defaults::shared(), ThemeManager::shared(),
    // Alerts::shared().
    // The first call must be on the main thread.
    static WidgetContext shared();
};

}  // namespace vigil
