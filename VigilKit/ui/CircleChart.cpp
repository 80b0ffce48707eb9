#include "ui/CircleChart.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/FUIColor.h"
#include "ui/Shape.h"

namespace vigil {

double sanitizedPercent(double percent) {
    if (std::isnan(percent))
        return 0;
    return std::clamp(percent, -1e9, 1e9);
}

CircleChart::CircleChart(QWidget* parent) : QWidget(parent), color_(FUIColor::emerald()) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void CircleChart::setColor(const QColor& color) {
    if (color == color_)
        return;
    color_ = color;
    update();
}

void CircleChart::setPercent(double percent) {
    const double old = percent_;
    percent_ = sanitizedPercent(percent);
    const double rounded = std::round(percent_);
    if (rounded == std::round(old))
        return;
    if (myLabel)
        myLabel->setText(QString::asprintf("%.0f%%", rounded));
    update();
}

double CircleChart::arcSpanDegrees() const {
    if (percent_ < 0.5)
        return 0;
    return std::min(percent_, 100.0) / 100.0 * 360.0;
}

void CircleChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double h = height();
    const double d = std::min(w, h) - 2 * lineWidth_;
    if (d <= 0)
        return;
    const QRectF ring(w / 2 - d / 2, h / 2 - d / 2, d, d);

    QColor faint = color_;
    faint.setAlphaF(0.2f);
    painter.setPen(strokePen(faint, lineWidth_, Qt::FlatCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(ring);

    const double span = arcSpanDegrees();
    if (span <= 0)
        return;
    painter.setPen(strokePen(color_, lineWidth_, Qt::FlatCap));
    // Qt counts angles counter-clockwise from three o'clock in sixteenths of a degree.
    painter.drawArc(ring, 90 * 16, -static_cast<int>(std::lround(span * 16)));
}

GaugeCircleChart::GaugeCircleChart(QWidget* parent) : ThresholdColored(81.0, 91.0, parent) {}

void GaugeCircleChart::setPercent(double percent) {
    setColor(colorFor(percent));
    CircleChart::setPercent(percent);
}

}  // namespace vigil
