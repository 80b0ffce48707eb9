#pragma once

#include <QColor>
#include <QEasingCurve>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

#include <optional>

namespace vigil {

// The operating system's thermal state, mildest first.
enum class ThermalState { nominal, fair, serious, critical };

// A needle over a thin arc running from blue on the left to red on the right. Setting a new state
// swings the needle to that state's angle in 0.4 s (ease-in).
class Thermometer : public QWidget {
  public:
    static constexpr int kAnimationMs = 400;

    explicit Thermometer(QWidget* parent = nullptr);

    QColor indicatorColor() const { return indicatorColor_; }
    void setIndicatorColor(const QColor& color);

    // The timing of the swing: slow start, full speed at the end.
    static QEasingCurve easeIn();

    // The needle's angle for a state, in radians, clockwise from pointing left.
    static double angleFor(ThermalState state);

    const std::optional<ThermalState>& value() const { return value_; }
    // Nothing happens when the state is unchanged. An absent old state starts from nominal;
    // back to absent leaves the needle where it is.
    void setValue(std::optional<ThermalState> state);

    // Kept for callers that prepare the view after sizing it; drawing needs no preparation.
    void prepareLayer() {}

    // The angle drawn now, in radians.
    double needleAngle() const { return needleAngle_; }
    // The running swing, if any (for callers that wait for it to end).
    QVariantAnimation* animation() const { return animation_; }
    // How many swings have started.
    int rotationCount() const { return rotations_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void rotateIndicator(double to, double from);

    QColor indicatorColor_;
    std::optional<ThermalState> value_;
    double needleAngle_;
    QPointer<QVariantAnimation> animation_;
    int rotations_ = 0;
};

}  // namespace vigil
