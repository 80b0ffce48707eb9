#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <vector>

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

// What a seeing user takes from a chart of samples over time, for its accessible description:
// "Processor over the last hour: average 12 percent, peak 80 percent at 14:02". `speak` turns a
// value into words (spokenPercent by default); non-finite samples are left out; with none left
// the summary says "no data". Times are shown in the local zone, as hours and minutes.
struct TimedSample {
    QDateTime at;
    double value = 0;
};
QString seriesSummary(const QString& what, const QString& span,
                      const std::vector<TimedSample>& samples,
                      const std::function<QString(double)>& speak = spokenPercent);

}  // namespace vigil
