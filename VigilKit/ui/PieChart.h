#pragma once

#include <QColor>
#include <QList>
#include <QWidget>

#include <optional>
#include <vector>

namespace vigil {

// A full disc cut into slices proportional to `dataPoints`, one colour each from `colorPoints`,
// starting at the top and running clockwise.
class PieChart : public QWidget {
  public:
    explicit PieChart(QWidget* parent = nullptr);

    const std::vector<double>& dataPoints() const { return dataPoints_; }
    // Keeps the list, and redraws when the slices drawn last would move by a visible amount: a
    // slice boundary by kRedrawDegrees or more, a slice count that changed, or nothing drawn yet.
    void setDataPoints(std::vector<double> points);
    // A quarter of a degree moves a boundary by a sixth of a pixel at the rim of a 76 px pie.
    static constexpr double kRedrawDegrees = 0.25;
    const std::optional<std::vector<QColor>>& colorPoints() const { return colorPoints_; }
    void setColorPoints(std::optional<std::vector<QColor>> colors) {
        colorPoints_ = std::move(colors);
    }

    // Each value's share of the sum (0-1). None when there are no values or nothing to share:
    // negative and non-finite values count as 0, and a sum of 0 gives none.
    std::optional<std::vector<double>> toPercent() const;

    struct Slice {
        double startDegrees;  // clockwise from the top
        double spanDegrees;
        QColor color;
    };
    // The slices that paintEvent fills; empty when nothing is drawn.
    std::vector<Slice> slices() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // Whether the slices of these shares would be drawn where the last painted ones were.
    bool drawnAlike(const std::optional<std::vector<double>>& shares) const;

    std::vector<double> dataPoints_;
    std::optional<std::vector<QColor>> colorPoints_;
    std::optional<std::vector<double>> paintedShares_;  // the shares the last paint drew
};

// A framed graph of integer samples: a rounded filled background, three dashed guide lines and a
// thick white polyline. The owner asks for a redraw after changing it.
class LineChart : public QWidget {
  public:
    explicit LineChart(QWidget* parent = nullptr);

    const std::vector<int>& dataPoints() const { return dataPoints_; }
    void setDataPoints(std::vector<int> points) { dataPoints_ = std::move(points); }
    QColor background() const { return background_; }
    void setBackground(const QColor& color) { background_ = color; }

    // The polyline's points for a w x h chart. One sample sits at the left; with a largest sample
    // of 0 or less every point lies on the bottom guide line.
    std::vector<QPointF> graphPoints(double w, double h) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<int> dataPoints_{4, 2, 6, 4, 5, 8, 1, 20, 3};
    QColor background_;
};

}  // namespace vigil
