#include "rows/RowStyle.h"

#include <QGraphicsOpacityEffect>

#include <algorithm>
#include <cmath>

#include "ui/FUIFont.h"

namespace vigil {

namespace {

QGraphicsOpacityEffect& opacityEffect(QWidget& view) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view.graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(&view);
        effect->setOpacity(1.0);
        view.setGraphicsEffect(effect);
    }
    return *effect;
}

double clampedAlpha(double alpha) {
    return std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 1.0;
}

}  // namespace

void styleRowLabel(QLabel& label, double size) {
    label.setFont(FUIFont::normal(size).value_or(label.font()));
}

QLabel* makeRowLabel(const QString& text, double size, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    styleRowLabel(*label, size);
    return label;
}

double viewAlpha(const QWidget& view) {
    const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(view.graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

void setViewAlpha(QWidget& view, double alpha) {
    opacityEffect(view).setOpacity(clampedAlpha(alpha));
}

QPropertyAnimation* fadeView(QWidget& view, double to, int ms) {
    QGraphicsOpacityEffect& effect = opacityEffect(view);
    auto* animation = new QPropertyAnimation(&effect, "opacity", &effect);
    animation->setDuration(ms);
    animation->setEndValue(clampedAlpha(to));
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    return animation;
}

}  // namespace vigil
