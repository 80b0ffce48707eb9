#include "ui/HistoryChart.h"

#include <QDateTime>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>
#include <cmath>

#include "ui/FUIColor.h"
#include "ui/FUIFont.h"

namespace vigil {

namespace {

constexpr double kPad = 6;
constexpr double kLabelHeight = 12;

QString plainNumber(double value) {
    return QString::number(value, 'f', value < 10 ? 1 : 0);
}

QString localTime(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("ddd d MMM, HH:mm:ss"));
}

}  // namespace

QString HistoryChart::agoText(std::int64_t spanMs) {
    constexpr std::int64_t kHour = 3'600'000, kDay = 24 * kHour;
    if (spanMs >= 2 * kDay)
        return QStringLiteral("%1 days ago").arg(spanMs / kDay);
    if (spanMs >= kHour)
        return QStringLiteral("%1 h ago").arg(spanMs / kHour);
    return QStringLiteral("%1 min ago").arg(std::max<std::int64_t>(spanMs / 60'000, 1));
}

HistoryChart::HistoryChart(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(72);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(96);
    colors_ = {FUIColor::clouds(), FUIColor::silver(), FUIColor::asbestos()};
    formatValue = plainNumber;
    formatTime = localTime;
    setAccessibleName(QStringLiteral("History chart"));
}

void HistoryChart::setSeries(std::vector<Series> series) {
    series_ = std::move(series);
    if (marked_ && (series_.empty() || *marked_ >= series_.front().points.size()))
        marked_.reset();
    update();
}

void HistoryChart::setTimeRange(std::int64_t startMs, std::int64_t endMs, std::int64_t gapMs) {
    startMs_ = startMs;
    endMs_ = std::max(endMs, startMs + 1);
    gapMs_ = std::max<std::int64_t>(gapMs, 1);
    update();
}

void HistoryChart::setFixedMaximum(std::optional<double> maximum) {
    fixedMaximum_ = maximum;
    update();
}

void HistoryChart::setColors(const Colors& colors) {
    colors_ = colors;
    update();
}

QFont HistoryChart::labelFont() const {
    QFont small = FUIFont::normal(9).value_or(font());
    small.setPixelSize(10);
    return small;
}

QRectF HistoryChart::plotArea() const {
    // As wide as the longer of the axis' two labels needs.
    const QFontMetricsF metrics(labelFont());
    const double axis = std::max(metrics.horizontalAdvance(formatValue(maximum())),
                                 metrics.horizontalAdvance(formatValue(0))) +
                        8 + kPad;
    return QRectF(axis, kPad, std::max(1.0, width() - axis - kPad),
                  std::max(1.0, height() - 2 * kPad - kLabelHeight));
}

double HistoryChart::maximum() const {
    if (fixedMaximum_ && *fixedMaximum_ > 0)
        return *fixedMaximum_;
    double top = 0;
    for (const auto& series : series_) {
        for (const auto& point : series.points) {
            if (std::isfinite(point.value))
                top = std::max(top, point.value);
        }
    }
    return top > 0 ? top * 1.1 : 1;
}

QPointF HistoryChart::place(const Point& point, const QRectF& area, double top) const {
    const double t = double(point.ms - startMs_) / double(endMs_ - startMs_);
    const double value = std::isfinite(point.value) ? std::clamp(point.value, 0.0, top) : 0;
    return {area.left() + t * area.width(), area.bottom() - value / top * area.height()};
}

std::vector<std::vector<QPointF>> HistoryChart::runs(const Series& series) const {
    std::vector<std::vector<QPointF>> runs;
    const QRectF area = plotArea();
    const double top = maximum();
    const Point* previous = nullptr;
    for (const auto& point : series.points) {
        if (point.ms < startMs_ || point.ms > endMs_)
            continue;
        if (!previous || point.ms - previous->ms > gapMs_)
            runs.emplace_back();
        runs.back().push_back(place(point, area, top));
        previous = &point;
    }
    return runs;
}

std::optional<std::size_t> HistoryChart::pointNear(double x) const {
    if (series_.empty() || series_.front().points.empty())
        return std::nullopt;
    const QRectF area = plotArea();
    const double t = std::clamp((x - area.left()) / area.width(), 0.0, 1.0);
    const auto ms = startMs_ + std::int64_t(t * double(endMs_ - startMs_));
    const auto& points = series_.front().points;
    const auto after = std::lower_bound(points.begin(), points.end(), ms,
                                        [](const Point& p, std::int64_t v) { return p.ms < v; });
    std::size_t index = std::size_t(after - points.begin());
    if (index == points.size() || (index > 0 && ms - points[index - 1].ms < points[index].ms - ms))
        --index;
    return index;
}

std::optional<double> HistoryChart::valueAt(const Series& series, std::int64_t ms) const {
    for (const auto& point : series.points) {
        if (point.ms == ms)
            return point.value;
    }
    return std::nullopt;
}

QString HistoryChart::tipText(std::size_t index) const {
    if (series_.empty() || index >= series_.front().points.size())
        return {};
    const std::int64_t ms = series_.front().points[index].ms;
    QString text = formatTime(ms);
    for (const auto& series : series_) {
        if (const auto value = valueAt(series, ms)) {
            text += QStringLiteral("\n") +
                    (series.name.isEmpty() ? QString() : series.name + QStringLiteral(" ")) +
                    formatValue(*value);
        }
    }
    return text;
}

void HistoryChart::markPoint(std::optional<std::size_t> index) {
    marked_ = index;
    update();
}

void HistoryChart::showTip() {
    if (!marked_ || series_.empty())
        return;
    const QRectF area = plotArea();
    const QPointF at = place(series_.front().points[*marked_], area, maximum());
    QToolTip::showText(mapToGlobal(at.toPoint()), tipText(*marked_), this);
    setAccessibleDescription(tipText(*marked_));
}

void HistoryChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath frame;
    frame.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.fillPath(frame, colors_.background);

    const QRectF area = plotArea();
    const double top = maximum();
    QPen grid(colors_.grid, 1.0);
    grid.setDashPattern({4, 3});
    painter.setPen(grid);
    for (double share : {0.0, 0.5, 1.0}) {
        const double y = area.bottom() - share * area.height();
        painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    }

    painter.setFont(labelFont());
    painter.setPen(colors_.text);
    const double axisWidth = area.left() - 4 - kPad / 2;
    painter.drawText(QRectF(kPad / 2, area.top() - 6, axisWidth, 12),
                     Qt::AlignRight | Qt::AlignVCenter, formatValue(top));
    painter.drawText(QRectF(kPad / 2, area.bottom() - 6, axisWidth, 12),
                     Qt::AlignRight | Qt::AlignVCenter, formatValue(0));
    const QRectF times(area.left(), area.bottom() + 2, area.width(), kLabelHeight);
    painter.drawText(times, Qt::AlignLeft | Qt::AlignVCenter, agoText(endMs_ - startMs_));
    painter.drawText(times, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("now"));

    for (std::size_t s = 0; s < series_.size(); ++s) {
        const auto& series = series_[s];
        for (const auto& run : runs(series)) {
            if (s == 0 && run.size() > 1) {
                QPainterPath fill;
                fill.moveTo(run.front().x(), area.bottom());
                for (const auto& p : run)
                    fill.lineTo(p);
                fill.lineTo(run.back().x(), area.bottom());
                QColor under = series.color;
                under.setAlphaF(0.18);
                painter.fillPath(fill, under);
            }
            painter.setPen(QPen(series.color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            if (run.size() == 1)
                painter.drawEllipse(run.front(), 1.2, 1.2);
            else
                painter.drawPolyline(run.data(), int(run.size()));
        }
    }

    if (marked_ && !series_.empty() && *marked_ < series_.front().points.size()) {
        const QPointF at = place(series_.front().points[*marked_], area, top);
        painter.setPen(QPen(colors_.text, 1.0));
        painter.drawLine(QPointF(at.x(), area.top()), QPointF(at.x(), area.bottom()));
        painter.setBrush(series_.front().color);
        painter.drawEllipse(at, 3, 3);
    }
    if (hasFocus()) {
        painter.setPen(QPen(series_.empty() ? colors_.text : series_.front().color, 1.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(frame);
    }
}

void HistoryChart::mouseMoveEvent(QMouseEvent* event) {
    const auto index = pointNear(event->position().x());
    if (index != marked_) {
        markPoint(index);
        showTip();
    }
}

void HistoryChart::mousePressEvent(QMouseEvent* event) {
    markPoint(pointNear(event->position().x()));
    if (marked_ && onPointChosen)
        onPointChosen(series_.front().points[*marked_].ms);
    showTip();
}

void HistoryChart::leaveEvent(QEvent*) {
    if (!hasFocus())
        markPoint(std::nullopt);
}

void HistoryChart::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    if (!marked_ && !series_.empty() && !series_.front().points.empty())
        markPoint(series_.front().points.size() - 1);
    showTip();
}

void HistoryChart::keyPressEvent(QKeyEvent* event) {
    if (series_.empty() || series_.front().points.empty())
        return QWidget::keyPressEvent(event);
    const std::size_t last = series_.front().points.size() - 1;
    const std::size_t at = marked_.value_or(last);
    switch (event->key()) {
        case Qt::Key_Left:
            markPoint(at > 0 ? at - 1 : 0);
            break;
        case Qt::Key_Right:
            markPoint(std::min(at + 1, last));
            break;
        case Qt::Key_Home:
            markPoint(0);
            break;
        case Qt::Key_End:
            markPoint(last);
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            markPoint(at);
            if (onPointChosen)
                onPointChosen(series_.front().points[at].ms);
            break;
        default:
            return QWidget::keyPressEvent(event);
    }
    showTip();
}

}  // namespace vigil
