#include "ui/PieChart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "ui/AccessibleViews.h"
#include "ui/FUIColor.h"

namespace vigil {

PieChart::PieChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    registerAccessibleViews();
}

void PieChart::setDataPoints(std::vector<double> points) {
    dataPoints_ = std::move(points);
    if (!drawnAlike(toPercent()))
        update();
}

bool PieChart::drawnAlike(const std::optional<std::vector<double>>& shares) const {
    if (!shares || !paintedShares_ || shares->size() != paintedShares_->size())
        return false;
    double boundary = 0, paintedBoundary = 0;
    for (size_t i = 0; i < shares->size(); ++i) {
        boundary += (*shares)[i];
        paintedBoundary += (*paintedShares_)[i];
        if (!(std::abs(boundary - paintedBoundary) * 360.0 < kRedrawDegrees))
            return false;
    }
    return true;
}

std::optional<std::vector<double>> PieChart::toPercent() const {
    if (dataPoints_.empty())
        return std::nullopt;
    const auto usable = [](double v) { return std::isfinite(v) && v > 0 ? v : 0.0; };
    double sum = 0;
    for (double v : dataPoints_)
        sum += usable(v);
    if (!(sum > 0) || !std::isfinite(sum))
        return std::nullopt;
    std::vector<double> fractions;
    fractions.reserve(dataPoints_.size());
    for (double v : dataPoints_)
        fractions.push_back(usable(v) / sum);
    return fractions;
}

std::vector<PieChart::Slice> PieChart::slices() const {
    const auto fractions = toPercent();
    if (!fractions || !colorPoints_ || colorPoints_->size() != fractions->size())
        return {};
    std::vector<Slice> result;
    double start = 0;
    for (size_t i = 0; i < fractions->size(); ++i) {
        const double span = (*fractions)[i] * 360.0;
        result.push_back(Slice{start, span, (*colorPoints_)[i]});
        start += span;
    }
    return result;
}

void PieChart::paintEvent(QPaintEvent*) {
    const auto parts = slices();
    paintedShares_ = parts.empty() ? std::nullopt : toPercent();
    if (parts.empty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF c(width() / 2.0, height() / 2.0);
    const double r = std::min(width(), height()) / 2.0;
    const QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
    for (const Slice& slice : parts) {
        if (slice.spanDegrees <= 0)
            continue;
        QPainterPath path(c);
        // Qt's angles run counter-clockwise from three o'clock; the top is 90.
        path.arcTo(box, 90.0 - slice.startDegrees, -slice.spanDegrees);
        path.closeSubpath();
        painter.fillPath(path, slice.color);
    }
}

LineChart::LineChart(QWidget* parent) : QWidget(parent), background_(FUIColor::turquoise()) {
    setAttribute(Qt::WA_TranslucentBackground);
    registerAccessibleViews();
}

std::vector<QPointF> LineChart::graphPoints(double w, double h) const {
    std::vector<QPointF> points;
    if (dataPoints_.empty())
        return points;
    const int max = *std::max_element(dataPoints_.begin(), dataPoints_.end());
    const double g = h - 60 - 50;
    const double gw = w - 40 - 4;
    const size_t n = dataPoints_.size();
    for (size_t i = 0; i < n; ++i) {
        const double x = n > 1 ? static_cast<double>(i) * gw / static_cast<double>(n - 1) + 22 : 22;
        const double ratio = max > 0 ? static_cast<double>(dataPoints_[i]) / max : 0.0;
        points.emplace_back(x, (g + 60) - ratio * g);
    }
    return points;
}

void LineChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double h = height();
    QPainterPath frame;
    frame.addRoundedRect(QRectF(0, 0, w, h), 8, 8);
    painter.setClipPath(frame);
    painter.fillPath(frame, background_);

    const double g = h - 60 - 50;
    QPen guide(colorRGBA(22, 160, 133, 0.6), 1.0);
    guide.setDashPattern({5, 2});
    painter.setPen(guide);
    for (double y : {60.0, g / 2 + 60, h - 50})
        painter.drawLine(QPointF(20, y), QPointF(w - 20, y));

    const auto points = graphPoints(w, h);
    if (points.empty())
        return;
    QPen line(FUIColor::white(), 4.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(line);
    if (points.size() == 1) {
        painter.drawPoint(points.front());
    } else {
        painter.drawPolyline(points.data(), static_cast<int>(points.size()));
    }
}

}  // namespace vigil
