#include "ui/Shape.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "ui/FUIColor.h"

namespace vigil {

QPen strokePen(const QColor& color, double width, Qt::PenCapStyle cap) {
    if (!std::isfinite(width) || width <= 0)
        return QPen(Qt::NoPen);
    QPen pen(color, width);
    pen.setCapStyle(cap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

Shape::Shape(QWidget* parent) : QWidget(parent), color_(FUIColor::peterRiver()) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void Shape::setColor(const QColor& color) {
    if (color == color_)
        return;
    color_ = color;
    update();
}

void Shape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!flip_) {
        painter.translate(0, height());
        painter.scale(1, -1);
    }
    draw(painter, QRectF(0, 0, width(), height()));
}

void Circle::draw(QPainter& painter, const QRectF& rect) {
    if (fill()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color());
        painter.drawEllipse(rect);
        return;
    }
    const double lw = lineWidth();
    painter.setPen(strokePen(color(), lw));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(lw, lw, rect.width() - 2 * lw, rect.height() - 2 * lw));
}

void Square::draw(QPainter& painter, const QRectF& rect) {
    const double radius = std::max(0.0, cornerRadius_);
    if (fill()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color());
        painter.drawRoundedRect(rect, radius, radius);
        return;
    }
    const double lw = lineWidth();
    painter.setPen(strokePen(color(), lw));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(lw, lw, -lw, -lw), radius, radius);
}

void Triangle::draw(QPainter& painter, const QRectF& rect) {
    if (fill())
        setLineWidth(0);
    const double s = std::min(rect.width(), rect.height());
    const double d = lineWidth() / 2;
    QPainterPath path;
    path.moveTo(d, d);
    path.lineTo(s / 2, s - d);
    path.lineTo(s - d, d);
    path.closeSubpath();
    if (fill()) {
        painter.fillPath(path, color());
    } else {
        painter.strokePath(path, strokePen(color(), lineWidth()));
    }
}

void HorizontalLine::draw(QPainter& painter, const QRectF& rect) {
    const double y = rect.height() / 2 - lineWidth() / 2;
    painter.setPen(strokePen(color(), lineWidth(), rounded_ ? Qt::RoundCap : Qt::SquareCap));
    painter.drawLine(QPointF(0, y), QPointF(rect.width(), y));
}

}  // namespace vigil
