#include "details/MachineHistoryChart.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "ui/FUIFont.h"

namespace vigil {

namespace {
constexpr int kTextHeight = 14;

QString timeText(double seconds, double span) {
    auto when = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds));
    return when.toString(span > 36 * 3600 ? QStringLiteral("d MMM") : QStringLiteral("HH:mm"));
}
}  // namespace

MachineHistoryChart::MachineHistoryChart(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(90);
    if (auto font = FUIFont::normal(10))
        setFont(*font);
}

void MachineHistoryChart::setPoints(std::vector<MachineHistoryPoint> points,
                                    std::function<QString(double)> format) {
    points_ = std::move(points);
    format_ = std::move(format);
    message_ = points_.size() < 2 ? QStringLiteral("No history in this range") : QString();
    update();
}

void MachineHistoryChart::setMessage(const QString& message) {
    points_.clear();
    message_ = message;
    update();
}

void MachineHistoryChart::setColors(const QColor& line, const QColor& text) {
    line_ = line;
    text_ = text;
    update();
}

void MachineHistoryChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(text_);
    const QRectF area(0, kTextHeight, width(), height() - 2 * kTextHeight);
    if (!message_.isEmpty()) {
        painter.drawText(rect(), Qt::AlignCenter, message_);
        return;
    }
    auto [low, high] =
        std::minmax_element(points_.begin(), points_.end(),
                            [](const auto& a, const auto& b) { return a.value < b.value; });
    const double top = std::max(high->value, 0.0) > 0 ? high->value : 1.0;
    const double bottom = std::min(low->value, 0.0);
    const double start = points_.front().time, end = points_.back().time;
    const double span = std::max(end - start, 1.0);
    QPainterPath path;
    for (std::size_t i = 0; i < points_.size(); ++i) {
        QPointF at(area.left() + (points_[i].time - start) / span * area.width(),
                   area.bottom() - (points_[i].value - bottom) / (top - bottom) * area.height());
        i == 0 ? path.moveTo(at) : path.lineTo(at);
    }
    QColor faint = text_;
    faint.setAlphaF(0.25);
    painter.setPen(QPen(faint, 1));
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    painter.setPen(QPen(line_, 1.5));
    painter.drawPath(path);
    painter.setPen(text_);
    painter.drawText(QRectF(0, 0, width(), kTextHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     format_ ? format_(high->value) : QString::number(high->value));
    const QRectF under(0, height() - kTextHeight, width(), kTextHeight);
    painter.drawText(under, Qt::AlignLeft | Qt::AlignVCenter, timeText(start, span));
    painter.drawText(under, Qt::AlignRight | Qt::AlignVCenter, timeText(end, span));
}

}  // namespace vigil
