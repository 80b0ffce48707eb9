#include "ui/Bar.h"

#include <QPainter>

#include <cmath>

#include "ui/AccessibleViews.h"
#include "ui/CircleChart.h"
#include "ui/FUIColor.h"

namespace vigil {

Bar::Bar(QWidget* parent) : Shape(parent) {
    registerAccessibleViews();
}

void Bar::setPercent(double percent) {
    storePercent(percent);
}

void Bar::storePercent(double percent) {
    const double value = sanitizedPercent(percent);
    if (value == percent_)
        return;
    const bool spokenChanged = std::round(value) != std::round(percent_);
    percent_ = value;
    if (spokenChanged)
        noteValueChanged(*this);
    // A segment end that would move by less than an eighth of a pixel from where it was painted
    // looks the same: it waits for the next repaint (a busy disk changes its share every second).
    const double moved = std::abs(value - paintedPercent_) / 100.0 * width() * devicePixelRatioF();
    if (!std::isnan(paintedPercent_) && moved < 0.125)
        return;
    update();
}

void Bar::draw(QPainter& painter, const QRectF& rect) {
    const double y = rect.height() / 2 - lineWidth() / 2;
    const double w = rect.width();
    const Qt::PenCapStyle cap = rounded_ ? Qt::RoundCap : Qt::SquareCap;
    QColor track = color();
    track.setAlphaF(0.2f);
    painter.setPen(strokePen(track, lineWidth(), cap));
    painter.drawLine(QPointF(0, y), QPointF(w, y));
    painter.setPen(strokePen(color(), lineWidth(), cap));
    painter.drawLine(QPointF(0, y), QPointF(w * percent_ / 100.0, y));
    paintedPercent_ = percent_;
}

GaugeBar::GaugeBar(QWidget* parent) : ThresholdColored(91.0, 99.0, parent) {}

void GaugeBar::setPercent(double percent) {
    if (colorize_)
        setColor(colorFor(percent));
    storePercent(percent);
}

void GaugeBar::recolor() {
    if (colorize_)
        setColor(colorFor(percent()));
}

}  // namespace vigil
