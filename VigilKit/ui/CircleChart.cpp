#include "ui/CircleChart.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "ui/AccessibleViews.h"
#include "ui/FUIColor.h"

namespace vigil {

double sanitizedPercent(double percent) {
    if (std::isnan(percent))
        return 0;
    return std::clamp(percent, -1e9, 1e9);
}

CircleChart::CircleChart(QWidget* parent) : QWidget(parent), color_(FUIColor::emerald()) {
    setAttribute(Qt::WA_TranslucentBackground);
    registerAccessibleViews();
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
    if (myLabel) {
        // The ring itself tells of the new value; its figure changes quietly (a plain label
        // would send a name change with every new text).
        if (!isFigure(*myLabel))
            markFigure(*myLabel,
                       accessibleName().isEmpty() ? QStringLiteral("Gauge") : accessibleName());
        myLabel->setText(QString::asprintf("%.0f%%", rounded));
    }
    update();
    noteValueChanged(*this);
}

double CircleChart::arcSpanDegrees() const {
    if (percent_ < 0.5)
        return 0;
    return std::min(percent_, 100.0) / 100.0 * 360.0;
}

std::optional<RingLook> CircleChart::look(double devicePixelRatio) const {
    const double w = width() * devicePixelRatio;
    const double h = height() * devicePixelRatio;
    const double lineWidth = lineWidth_ * devicePixelRatio;
    const double diameter = std::min(w, h) - 2 * lineWidth;
    if (!std::isfinite(lineWidth) || lineWidth <= 0 || !(diameter > 0))
        return std::nullopt;
    QColor faint = color_;
    faint.setAlphaF(0.2f);
    return RingLook{QSize(static_cast<int>(std::ceil(w)), static_cast<int>(std::ceil(h))),
                    diameter,
                    lineWidth,
                    faint,
                    color_,
                    arcSpanDegrees()};
}

void CircleChart::paintEvent(QPaintEvent*) {
    const double ratio = devicePixelRatioF();
    const std::optional<RingLook> wanted = look(ratio);
    if (!wanted)
        return;
    if (!(drawnLook_ == *wanted) || picture_.devicePixelRatio() != ratio) {
        drawRing(*wanted, picture_);
        picture_.setDevicePixelRatio(ratio);
        drawnLook_ = *wanted;
    }
    QPainter(this).drawImage(QPointF(0, 0), picture_);
}

GaugeCircleChart::GaugeCircleChart(QWidget* parent) : ThresholdColored(81.0, 91.0, parent) {}

void GaugeCircleChart::setPercent(double percent) {
    setColor(colorFor(percent));
    CircleChart::setPercent(percent);
}

void GaugeCircleChart::recolor() {
    setColor(colorFor(percent()));
}

}  // namespace vigil
