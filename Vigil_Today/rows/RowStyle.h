#pragma once

#include <QLabel>
#include <QPropertyAnimation>
#include <QString>
#include <QWidget>

namespace vigil {

// Gives a label of a summary row its font (Lato at `size` points when installed).
void styleRowLabel(QLabel& label, double size);
QLabel* makeRowLabel(const QString& text, double size, QWidget* parent = nullptr);

// A view's opacity, 0 to 1 (a view without an opacity effect is fully opaque).
double viewAlpha(const QWidget& view);
// Sets the opacity at once.
void setViewAlpha(QWidget& view, double alpha);
// Fades the opacity to `to` over `ms` milliseconds; the animation deletes itself when it stops.
QPropertyAnimation* fadeView(QWidget& view, double to, int ms);

}  // namespace vigil
