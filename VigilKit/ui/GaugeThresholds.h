#pragma once

#include <QColor>
#include <QWidget>

namespace vigil {

// Two thresholds and three colours: below `success` the success colour, below `warning` the
// warning colour, else the danger colour (a value on a threshold belongs to the higher band).
// While `alarmed` (a rule about the figure fires) every value takes the danger colour.
struct GaugeThresholds {
    QColor successColor;
    QColor warningColor;
    QColor dangerColor;
    double success;
    double warning;
    bool alarmed = false;

    GaugeThresholds(double successBelow, double warningBelow);
    // NaN counts as 0.
    QColor colorFor(double percent) const;
};

// Stores `value` and says whether it changed.
template <typename T>
bool assignIfChanged(T& field, const T& value) {
    if (field == value)
        return false;
    field = value;
    return true;
}

// A view whose colour follows thresholds: the colours and thresholds as properties that redraw
// when they change (the view recolours itself at its next value).
template <typename View>
class ThresholdColored : public View {
  public:
    ThresholdColored(double successBelow, double warningBelow, QWidget* parent)
        : View(parent), thresholds_(successBelow, warningBelow) {}

    QColor successColor() const { return thresholds_.successColor; }
    void setSuccessColor(const QColor& color) { redrawIf(thresholds_.successColor, color); }
    QColor warningColor() const { return thresholds_.warningColor; }
    void setWarningColor(const QColor& color) { redrawIf(thresholds_.warningColor, color); }
    QColor dangerColor() const { return thresholds_.dangerColor; }
    void setDangerColor(const QColor& color) { redrawIf(thresholds_.dangerColor, color); }
    double success() const { return thresholds_.success; }
    void setSuccess(double value) { redrawIf(thresholds_.success, value); }
    double warning() const { return thresholds_.warning; }
    void setWarning(double value) { redrawIf(thresholds_.warning, value); }

    // The colour of the band that `percent` falls in (the danger colour while alarmed).
    QColor colorFor(double percent) const { return thresholds_.colorFor(percent); }

    bool alarmed() const { return thresholds_.alarmed; }
    // Shows the danger colour at once while on; off goes back to the band of the current value.
    void setAlarmed(bool alarmed) {
        if (assignIfChanged(thresholds_.alarmed, alarmed))
            recolor();
    }

  protected:
    // Takes the colour of the current value's band (views that colour themselves by it).
    virtual void recolor() {}

  private:
    template <typename T>
    void redrawIf(T& field, const T& value) {
        if (assignIfChanged(field, value))
            this->update();
    }

    GaugeThresholds thresholds_;
};

}  // namespace vigil
