#include "ui/GaugeThresholds.h"

#include "ui/CircleChart.h"
#include "ui/FUIColor.h"

namespace vigil {

GaugeThresholds::GaugeThresholds(double successBelow, double warningBelow)
    : successColor(colorRGBA(46, 204, 113)),
      warningColor(colorRGBA(241, 196, 15)),
      dangerColor(colorRGBA(231, 76, 60)),
      success(successBelow),
      warning(warningBelow) {}

QColor GaugeThresholds::colorFor(double percent) const {
    const double p = sanitizedPercent(percent);
    if (alarmed)
        return dangerColor;
    if (p < success)
        return successColor;
    if (p < warning)
        return warningColor;
    return dangerColor;
}

}  // namespace vigil
