#include "ui/SpokenText.h"

#include <QRegularExpression>

#include <array>
#include <cmath>

namespace vigil {

namespace {

struct Unit {
    const char* shown;
    const char* singular;
    const char* plural;
};

// Longest first, so "KB/s" wins over "KB" and "B".
constexpr std::array kUnits{
    Unit{"KB/s", "kilobyte per second", "kilobytes per second"},
    Unit{"MB/s", "megabyte per second", "megabytes per second"},
    Unit{"GB/s", "gigabyte per second", "gigabytes per second"},
    Unit{"TB/s", "terabyte per second", "terabytes per second"},
    Unit{"B/s", "byte per second", "bytes per second"},
    Unit{"KB", "kilobyte", "kilobytes"},
    Unit{"MB", "megabyte", "megabytes"},
    Unit{"GB", "gigabyte", "gigabytes"},
    Unit{"TB", "terabyte", "terabytes"},
    Unit{"PB", "petabyte", "petabytes"},
    Unit{"EB", "exabyte", "exabytes"},
    Unit{"ZB", "zettabyte", "zettabytes"},
    Unit{"B", "byte", "bytes"},
    Unit{"%", "percent", "percent"},
    Unit{"\u00b0C", "degree Celsius", "degrees Celsius"},
    Unit{"\u00b0F", "degree Fahrenheit", "degrees Fahrenheit"},
    Unit{"\u00b0", "degree", "degrees"},
    Unit{"W", "watt", "watts"},
    Unit{"V", "volt", "volts"},
    Unit{"mAh", "milliampere-hour", "milliampere-hours"},
    Unit{"mA", "milliampere", "milliamperes"},
    Unit{"MHz", "megahertz", "megahertz"},
    Unit{"GHz", "gigahertz", "gigahertz"},
};

QString withoutArrows(const QString& shown) {
    QString text = shown;
    text.remove(QChar(u'\u2191')).remove(QChar(u'\u2193'));
    return text.trimmed();
}

}  // namespace

QString spokenFigure(const QString& shown) {
    const QString text = withoutArrows(shown);
    static const QRegularExpression figure(QStringLiteral("^(-?[0-9]+(?:\\.[0-9]+)?)\\s*(\\S+)$"));
    const QRegularExpressionMatch match = figure.match(text);
    if (!match.hasMatch())
        return text;
    const QString number = match.captured(1);
    const QString unit = match.captured(2);
    for (const Unit& known : kUnits) {
        if (unit == QString::fromUtf8(known.shown)) {
            const bool one = number == QStringLiteral("1");
            return number + u' ' + QString::fromUtf8(one ? known.singular : known.plural);
        }
    }
    return text;
}

QString spokenPercent(double percent) {
    if (std::isnan(percent))
        return QStringLiteral("unknown");
    return QString::asprintf("%.0f percent", std::round(percent));
}

QString joinedSpoken(const QString& name, const QString& value) {
    if (name.isEmpty())
        return value;
    if (value.isEmpty())
        return name;
    return name + QStringLiteral(", ") + value;
}

QString seriesSummary(const QString& what, const QString& span,
                      const std::vector<TimedSample>& samples,
                      const std::function<QString(double)>& speak) {
    const QString heading = what + QStringLiteral(" over ") + span + QStringLiteral(": ");
    double sum = 0;
    int count = 0;
    const TimedSample* peak = nullptr;
    for (const TimedSample& sample : samples) {
        if (!std::isfinite(sample.value))
            continue;
        sum += sample.value;
        ++count;
        if (!peak || sample.value > peak->value)
            peak = &sample;
    }
    if (count == 0)
        return heading + QStringLiteral("no data");
    return heading + QStringLiteral("average ") + speak(sum / count) + QStringLiteral(", peak ") +
           speak(peak->value) + QStringLiteral(" at ") +
           peak->at.toLocalTime().toString(QStringLiteral("HH:mm"));
}

}  // namespace vigil
