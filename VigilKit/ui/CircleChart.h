#pragma once

#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <optional>

#include "ui/GaugeThresholds.h"
#include "ui/RingImage.h"

namespace vigil {

// A ring gauge: a faint full ring and an arc over it that grows clockwise from the top in
// proportion to `percent`, with an optional label that shows the whole percentage.
class CircleChart : public QWidget {
  public:
    explicit CircleChart(QWidget* parent = nullptr);

    // Shows the percentage ("%.0f%%") whenever the whole number changes.
    QPointer<QLabel> myLabel;

    QColor color() const { return color_; }
    // Redraws only when the colour changed.
    void setColor(const QColor& color);
    double lineWidth() const { return lineWidth_; }
    // Takes effect at the next redraw.
    void setLineWidth(double width) { lineWidth_ = width; }
    double percent() const { return percent_; }
    // NaN counts as 0. The label and drawing change only when the rounded value changes.
    virtual void setPercent(double percent);

    // The arc's span in degrees, clockwise from the top: 0 below 0.5 %, 360 from 100 % up.
    double arcSpanDegrees() const;
    // What the ring looks like at this pixel ratio; none while the widget is too small for it or
    // the line width is not a positive number.
    std::optional<RingLook> look(double devicePixelRatio) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor color_;
    double lineWidth_ = 4.0;
    double percent_ = 0;
    // The last ring drawn, kept until the look changes: a repaint for a neighbour is a copy.
    RingLook drawnLook_;
    QImage picture_;
};

// A ring gauge whose arc colour follows two thresholds: below `success` green, below `warning`
// yellow, else red (a value on a threshold belongs to the higher band).
class GaugeCircleChart : public ThresholdColored<CircleChart> {
  public:
    explicit GaugeCircleChart(QWidget* parent = nullptr);

    // Recolours the arc for the new value, then sets it.
    void setPercent(double percent) override;

  protected:
    void recolor() override;
};

// NaN becomes 0 and infinities a large finite value, so the figure can be rounded and drawn.
double sanitizedPercent(double percent);

}  // namespace vigil
