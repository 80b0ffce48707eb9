#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vigil {

// A line chart over time: one or two series between a start and an end time, each drawn as
// lines that break where two points lie further apart than the gap (the machine was off or
// asleep), with a faint fill under the first. Hovering or moving the keyboard focus (left,
// right, home, end) marks a point and shows its time and value; a click or Return on a point
// hands its time to `onPointChosen`. The owner sets the colours from its theme.
class HistoryChart : public QWidget {
  public:
    struct Point {
        std::int64_t ms = 0;  // milliseconds since the epoch
        double value = 0;
    };
    struct Series {
        QString name;  // in the tip: "Read 1.2 MB/s"
        QColor color;
        std::vector<Point> points;  // oldest first
    };
    struct Colors {
        QColor background, grid, text;
    };

    explicit HistoryChart(QWidget* parent = nullptr);

    void setSeries(std::vector<Series> series);
    const std::vector<Series>& series() const { return series_; }
    // The time shown, left to right, and the longest step still drawn as a line.
    void setTimeRange(std::int64_t startMs, std::int64_t endMs, std::int64_t gapMs);
    // The top of the value axis: fixed (100 for a share), or the largest value when none.
    void setFixedMaximum(std::optional<double> maximum);
    void setColors(const Colors& colors);
    // How a value reads in the tip and on the axis ("12 %", "1.2 MB/s").
    std::function<QString(double)> formatValue;
    // How a time reads in the tip.
    std::function<QString(std::int64_t ms)> formatTime;
    // Told of the time of a clicked (or Return-pressed) point.
    std::function<void(std::int64_t ms)> onPointChosen;

    // Where the series' points are drawn in a chart of this size, gaps as breaks: one polyline
    // per unbroken run.
    std::vector<std::vector<QPointF>> runs(const Series& series) const;
    // The index of the first series' point nearest to x; none without points.
    std::optional<std::size_t> pointNear(double x) const;
    // The tip for the first series' point `index`: its time, then each series' value there.
    QString tipText(std::size_t index) const;
    std::optional<std::size_t> markedPoint() const { return marked_; }
    void markPoint(std::optional<std::size_t> index);

    // The left end's label: "5 min ago", "24 h ago", "7 days ago".
    static QString agoText(std::int64_t spanMs);

    // Where the lines are drawn: right of the value axis, above the time labels.
    QRectF plotArea() const;

    QSize sizeHint() const override { return QSize(280, 96); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    QFont labelFont() const;
    double maximum() const;
    QPointF place(const Point& point, const QRectF& area, double top) const;
    void showTip();
    std::optional<double> valueAt(const Series& series, std::int64_t ms) const;

    std::vector<Series> series_;
    std::int64_t startMs_ = 0, endMs_ = 1, gapMs_ = 1;
    std::optional<double> fixedMaximum_;
    Colors colors_;
    std::optional<std::size_t> marked_;
};

}  // namespace vigil
