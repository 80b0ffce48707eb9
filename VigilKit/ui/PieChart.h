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
    // Redraws when the list differs (a NaN element always counts as different).
    void setDataPoints(std::vector<double> points);
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
    std::vector<double> dataPoints_;
    std::optional<std::vector<QColor>> colorPoints_;
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
