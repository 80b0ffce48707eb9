#pragma once

#include <cmath>

#include "ui/GaugeThresholds.h"
#include "ui/Shape.h"

namespace vigil {

// A horizontal progress bar drawn as one thick line: a faint full-width track and a solid segment
// from the left edge. A value above 100 draws past the track's end (the widget clips it).
class Bar : public Shape {
  public:
    explicit Bar(QWidget* parent = nullptr);

    bool rounded() const { return rounded_; }
    void setRounded(bool rounded) { rounded_ = rounded; }
    double percent() const { return percent_; }
    // NaN counts as 0; redraws when the value changed by what can be seen.
    virtual void setPercent(double percent);

  protected:
    void draw(QPainter& painter, const QRectF& rect) override;
    void storePercent(double percent);

  private:
    bool rounded_ = true;
    double percent_ = 50.0;
    double paintedPercent_ = std::nan("");  // as last drawn
};

// A bar that recolours itself by two thresholds when `colorize` is on.
class GaugeBar : public ThresholdColored<Bar> {
  public:
    explicit GaugeBar(QWidget* parent = nullptr);

    bool colorize() const { return colorize_; }
    void setColorize(bool colorize) { colorize_ = colorize; }

    void setPercent(double percent) override;

  protected:
    void recolor() override;

  private:
    bool colorize_ = true;
};

}  // namespace vigil
