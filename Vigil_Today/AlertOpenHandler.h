#pragma once

#include "system/Alerts.h"

namespace vigil {

class PanelWindow;
class TodayViewController;

// What the "Open" action of an alert's notification does in the program: leaves the settings
// when they are shown, shows the panel as --show does, opens the detail view of the rule and its
// subject and scrolls it into sight. The panel and the controller must outlive the handler's
// registration.
Alerts::OpenHandler alertOpenHandler(PanelWindow& panel, TodayViewController& widget);

}  // namespace vigil
