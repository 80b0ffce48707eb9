#pragma once

#include <QColor>

namespace vigil {

// Two thresholds and three colours: below `success` the success colour, below `warning` the
// warning colour, else the danger colour (a value on a threshold belongs to the higher band).
struct GaugeThresholds {
    QColor successColor;
    QColor warningColor;
    QColor dangerColor;
    double success;
    double warning;

    GaugeThresholds(double successBelow, double warningBelow);
    // NaN counts as 0.
    QColor colorFor(double percent) const;
};

// Stores `value` and says whether it changed.
template <typename T>
bool assignIfChanged(T& field, const T& value) {
    if (field == value)
        return false;
    field = value;
    return true;
}

}  // namespace vigil
