#include "ui/Thermometer.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "ui/FUIColor.h"

namespace vigil {

Thermometer::Thermometer(QWidget* parent)
    : QWidget(parent),
      indicatorColor_(FUIColor::white()),
      needleAngle_(angleFor(ThermalState::nominal)) {
    setAttribute(Qt::WA_TranslucentBackground);
}

double Thermometer::angleFor(ThermalState state) {
    switch (state) {
        case ThermalState::nominal:
            return 0.2;
        case ThermalState::fair:
            return 1.8;
        case ThermalState::serious:
            return 2.8;
        case ThermalState::critical:
            return 3.1;
    }
    return 0.2;
}

QEasingCurve Thermometer::easeIn() {
    // The standard ease-in timing: a cubic Bézier through (0.42, 0) and (1, 1).
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(1.0, 1.0), QPointF(1.0, 1.0));
    return curve;
}

void Thermometer::setIndicatorColor(const QColor& color) {
    indicatorColor_ = color;
    update();
}

void Thermometer::setValue(std::optional<ThermalState> state) {
    if (state == value_)
        return;
    const ThermalState from = value_.value_or(ThermalState::nominal);
    value_ = state;
    if (!state)
        return;
    rotateIndicator(angleFor(*state), angleFor(from));
}

void Thermometer::rotateIndicator(double to, double from) {
    if (animation_)
        animation_->stop();
    ++rotations_;
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setDuration(kAnimationMs);
    animation->setEasingCurve(easeIn());
    QObject::connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        needleAngle_ = v.toDouble();
        update();
    });
    QObject::connect(animation, &QVariantAnimation::finished, this, [this, to] {
        needleAngle_ = to;
        update();
    });
    animation_ = animation;
    needleAngle_ = from;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    update();
}

void Thermometer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double h = height();

    // The arc: the top of a circle centred 4 points below the bottom edge, 2 points wide.
    QLinearGradient gradient(0, 0, w, 0);
    gradient.setColorAt(0, colorRGBA(52, 152, 219));
    gradient.setColorAt(1, colorRGBA(231, 76, 60));
    QPen arc(QBrush(gradient), 2.0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
    painter.setPen(arc);
    painter.setBrush(Qt::NoBrush);
    const double r = h - 2;
    painter.drawEllipse(QPointF(w / 2, h + 4), r, r);

    // The needle lies along the horizontal through its pivot, pointing left, and turns clockwise
    // about the centre of the bottom edge.
    painter.translate(w / 2, h - 2);
    painter.rotate(needleAngle_ * 180.0 / M_PI);
    QPainterPath needle;
    needle.moveTo(15 - w / 2, -1);
    needle.lineTo(1, -2);
    needle.lineTo(1, 2);
    needle.closeSubpath();
    painter.fillPath(needle, indicatorColor_);
}

}  // namespace vigil
