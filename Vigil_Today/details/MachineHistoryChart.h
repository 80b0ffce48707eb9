#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <vector>

#include "collectors/PrometheusSource.h"

namespace vigil {

// One figure of another machine over a time range: a line over the points, the highest value at
// the top left and the range's start and end under it. Says so in words while there are no points
// yet or none could be had.
class MachineHistoryChart : public QWidget {
  public:
    explicit MachineHistoryChart(QWidget* parent = nullptr);

    // `format` writes a value as the figure is shown.
    void setPoints(std::vector<MachineHistoryPoint> points, std::function<QString(double)> format);
    void setMessage(const QString& message);
    void setColors(const QColor& line, const QColor& text);

    const std::vector<MachineHistoryPoint>& points() const { return points_; }
    const QString& message() const { return message_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<MachineHistoryPoint> points_;
    std::function<QString(double)> format_;
    QString message_;
    QColor line_{52, 152, 219};
    QColor text_{0, 0, 0};
};

}  // namespace vigil
