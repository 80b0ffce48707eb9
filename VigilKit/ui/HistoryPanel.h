#pragma once

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/HistoryChart.h"

namespace vigil {

class History;

// A detail view's history: the range buttons (5 min, 1 h, 24 h, 7 days, 90 days), the chart of
// the view's main series read from the history, and, where the view names a kind of top list,
// the applications recorded for the minute of a clicked point. Reads the file on the main thread
// (the history's reading connection, a few thousand points at most) when the range or the lines
// change. Then the ranges of samples (5 minutes, 1 hour) take the new samples from the
// history's memory every 5 s or every minute, and the coarser ranges read the file again when
// their tier has a new point (the first write after a minute or a quarter ends).
class HistoryPanel : public QWidget {
  public:
    struct Line {
        std::string series;  // "cpu.busy"
        QString name;        // in the tip; may be empty with one line
        QColor color;
    };
    struct Range {
        QString label;
        std::int64_t spanMs;
        std::int64_t gapMs;  // the longest step drawn as a line in that range's tier
    };
    static const std::vector<Range>& ranges();

    HistoryPanel(History& history, std::vector<Line> lines, QWidget* parent = nullptr);

    // Replaces the series shown (another volume or link) and reads them.
    void setLines(std::vector<Line> lines);
    // Selects a range by index (out of range: the first) and reads it.
    void setRange(int index);
    int range() const { return range_; }
    // Told when the user picks a range.
    std::function<void(int index)> onRangeChanged;
    // The top list ("cpu" or "mem") that a click shows; empty for none.
    void setTopKind(std::string kind, std::function<QString(double)> formatValue);
    void setColors(const HistoryChart::Colors& colors, const QColor& selected);
    // The time (milliseconds since the epoch) the panel reads up to; the wall clock by default.
    std::function<std::int64_t()> clock;

    // Reads the range from the history now.
    void reload();
    // Follows the samples: takes the new ones, or reads again once the range's tier has a new
    // point (the views call it at each of their samples).
    void refresh();
    void showTopApplications(std::int64_t ms);

    HistoryChart* chart() const { return chart_; }
    QLabel* topApplications() const { return topApplications_; }
    QPushButton* rangeButton(int index) const { return buttons_.at(std::size_t(index)); }

  private:
    void restyleButtons();
    bool appendRecent(std::int64_t now);

    History& history_;
    std::vector<Line> lines_;
    int range_ = 0;
    std::string topKind_;
    std::function<QString(double)> formatTopValue_;
    std::int64_t readAtMs_ = 0;    // when the chart was last brought up to date
    std::int64_t readFromMs_ = 0;  // the start of the range the file was last read for
    std::uint64_t generation_ = 0;
    std::int64_t readWriteMs_ = 0;  // the history's last write when the file was last read
    HistoryChart* chart_;
    QLabel* topApplications_;
    std::vector<QPushButton*> buttons_;
    QColor text_, selected_;
};

}  // namespace vigil
