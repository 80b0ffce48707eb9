#pragma once

#include <QString>

namespace vigil {

// Figures as a screen reader should say them. Shown figures use short units ("1.2 MB/s", "71%",
// "46°"); read out letter by letter these mean nothing, so the accessible texts spell them out.

// "1.2 MB/s" -> "1.2 megabytes per second", "71%" -> "71 percent", "12 GB" -> "12 gigabytes",
// "46°" -> "46 degrees". Arrows and surrounding space are dropped; text without a known unit is
// returned as it is.
QString spokenFigure(const QString& shown);

// A whole percentage: "23 percent"; NaN reads as "unknown".
QString spokenPercent(double percent);

// "Name, value", or the one that is not empty.
QString joinedSpoken(const QString& name, const QString& value);

}  // namespace vigil
