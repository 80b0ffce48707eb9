#pragma once

#include <QLabel>
#include <QString>

#include <functional>

#include "details/AlertWatch.h"
#include "system/Alerts.h"
#include "themes/Theme.h"

namespace vigil {

// The line near the top of a detail view that says which rule fired and since when ("Processor
// busy above 90 % since 14:02"), one line per firing alert the view shows, in the theme's danger
// colour. A temperature alert names its sensor first ("Package id 0: within 5 °C of its critical
// limit (100 °C) since 14:02"), as several sensors may fire. Hidden, and taking no room, while
// none fires. Main thread only.
class AlertBanner : public NoThemeField {
  public:
    using Filter = std::function<bool(const ActiveAlert&)>;

    // Shows the alerts that `shows` picks.
    explicit AlertBanner(Filter shows, QWidget* parent = nullptr);

    // Whose alerts are shown; the program's when null.
    void setAlerts(Alerts* alerts);
    void setFilter(Filter shows);
    // Reads the alerts again when they changed since the last refresh (or always with `force`,
    // after the filter's subject changed).
    void refresh(bool force = false);
    void apply(const Theme& theme);

    // The line shown for an alert.
    static QString lineFor(const ActiveAlert& alert);

  private:
    Filter shows_;
    AlertWatch watch_;
};

}  // namespace vigil
