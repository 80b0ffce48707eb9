#include "ui/HistoryPanel.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

#include "history/History.h"
#include "ui/FUIFont.h"

namespace vigil {

namespace {

constexpr std::int64_t kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute,
                       kDay = 24 * kHour;

// How often the ranges of samples take the new ones: the short one every few seconds, the hour
// every minute. The coarser ranges are read again when their tier has a new point.
std::int64_t followingInterval(std::int64_t spanMs) {
    return spanMs <= 5 * kMinute ? 5 * kSecond : kMinute;
}

std::int64_t tierStep(HistoryTier tier) {
    return tier == HistoryTier::minute ? history::kMinuteMs : history::kQuarterMs;
}

QString css(const QColor& color) {
    return color.name(QColor::HexArgb);
}

}  // namespace

const std::vector<HistoryPanel::Range>& HistoryPanel::ranges() {
    // Samples come every 1 to 2 s, resting volumes every minute: a step over 90 s is a gap.
    static const std::vector<Range> all = {
        {QStringLiteral("5 min"), 5 * kMinute, 90 * kSecond},
        {QStringLiteral("1 h"), kHour, 90 * kSecond},
        {QStringLiteral("24 h"), kDay, 3 * kMinute},
        {QStringLiteral("7 d"), 7 * kDay, 45 * kMinute},
        {QStringLiteral("90 d"), 90 * kDay, 45 * kMinute},
    };
    return all;
}

HistoryPanel::HistoryPanel(History& history, std::vector<Line> lines, QWidget* parent)
    : QWidget(parent), history_(history), lines_(std::move(lines)) {
    clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto* row = new QHBoxLayout();
    row->setSpacing(0);
    const auto small = FUIFont::normal(11);
    for (std::size_t i = 0; i < ranges().size(); ++i) {
        auto* button = new QPushButton(ranges()[i].label, this);
        button->setObjectName(QStringLiteral("historyRange%1").arg(i));
        button->setCheckable(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setAccessibleName(QStringLiteral("History of the last %1").arg(ranges()[i].label));
        if (small)
            button->setFont(*small);
        QObject::connect(button, &QPushButton::clicked, this, [this, i] {
            setRange(int(i));
            if (onRangeChanged)
                onRangeChanged(int(i));
        });
        buttons_.push_back(button);
        row->addWidget(button);
    }
    layout->addLayout(row);

    chart_ = new HistoryChart(this);
    chart_->setObjectName(QStringLiteral("historyChart"));
    chart_->onPointChosen = [this](std::int64_t ms) { showTopApplications(ms); };
    layout->addWidget(chart_);

    topApplications_ = new QLabel(this);
    topApplications_->setObjectName(QStringLiteral("historyTopApplications"));
    topApplications_->setWordWrap(true);
    if (small)
        topApplications_->setFont(*small);
    topApplications_->hide();
    layout->addWidget(topApplications_);
    setRange(0);
}

void HistoryPanel::setLines(std::vector<Line> lines) {
    lines_ = std::move(lines);
    reload();
}

void HistoryPanel::setRange(int index) {
    range_ = index >= 0 && index < int(ranges().size()) ? index : 0;
    restyleButtons();
    topApplications_->hide();
    reload();
}

void HistoryPanel::setTopKind(std::string kind, std::function<QString(double)> formatValue) {
    topKind_ = std::move(kind);
    formatTopValue_ = std::move(formatValue);
    chart_->setToolTip(QString());
}

void HistoryPanel::setColors(const HistoryChart::Colors& colors, const QColor& selected) {
    chart_->setColors(colors);
    text_ = colors.text;
    selected_ = selected;
    QPalette palette = topApplications_->palette();
    palette.setColor(QPalette::WindowText, colors.text);
    topApplications_->setPalette(palette);
    restyleButtons();
}

void HistoryPanel::restyleButtons() {
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const bool on = int(i) == range_;
        buttons_[i]->setChecked(on);
        const QColor onText = selected_.lightness() > 128 ? QColor(44, 62, 80) : QColor(Qt::white);
        buttons_[i]->setStyleSheet(
            QStringLiteral("QPushButton { border: 1px solid %1; padding: 1px 4px; background: %2; "
                           "color: %3; border-radius: 0px; }")
                .arg(css(selected_), on ? css(selected_) : QStringLiteral("transparent"),
                     css(on ? onText : text_)));
    }
}

void HistoryPanel::refresh() {
    const Range& range = ranges()[std::size_t(range_)];
    const std::int64_t now = clock();
    const HistoryTier tier = history::tierFor(now - range.spanMs, now);
    if (history_.generation() != generation_) {
        reload();  // cleared since
    } else if (tier != HistoryTier::raw) {
        // A new point of the tier exists once a write has merged the minute or quarter it ends.
        if (history_.lastWriteMs() / tierStep(tier) != readWriteMs_ / tierStep(tier))
            reload();
    } else if (now - readAtMs_ >= followingInterval(range.spanMs) && !appendRecent(now)) {
        reload();
    }
}

// Adds the samples taken since the last read from the history's memory, and lets those older
// than the range go; false when the memory no longer reaches back to the last read.
bool HistoryPanel::appendRecent(std::int64_t now) {
    const Range& range = ranges()[std::size_t(range_)];
    std::vector<HistoryChart::Series> series = chart_->series();
    if (series.size() != lines_.size())
        return false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        auto& points = series[i].points;
        const std::int64_t afterMs = points.empty() ? readFromMs_ - 1 : points.back().ms;
        const auto fresh = history_.recentSamples(lines_[i].series, afterMs);
        if (!fresh)
            return false;
        for (const auto& sample : *fresh)
            points.push_back({sample.ms, sample.value});
        const auto kept = std::find_if(points.begin(), points.end(), [&](const auto& point) {
            return point.ms >= now - range.spanMs;
        });
        points.erase(points.begin(), kept);
    }
    readAtMs_ = now;
    chart_->setTimeRange(now - range.spanMs, now, range.gapMs);
    chart_->setSeries(std::move(series));
    return true;
}

void HistoryPanel::reload() {
    const Range& range = ranges()[std::size_t(range_)];
    const std::int64_t now = clock();
    readAtMs_ = now;
    readFromMs_ = now - range.spanMs;
    generation_ = history_.generation();
    readWriteMs_ = history_.lastWriteMs();
    std::vector<HistoryChart::Series> series;
    for (const auto& line : lines_) {
        HistoryChart::Series drawn{line.name, line.color, {}};
        for (const auto& point : history_.points(line.series, now - range.spanMs, now + 1))
            drawn.points.push_back({point.ms, point.value});
        series.push_back(std::move(drawn));
    }
    chart_->setTimeRange(now - range.spanMs, now, range.gapMs);
    chart_->setSeries(std::move(series));
}

void HistoryPanel::showTopApplications(std::int64_t ms) {
    if (topKind_.empty())
        return;
    const QString minute = QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm"));
    const auto apps = history_.top(ms, topKind_);
    QString text;
    if (apps.empty()) {
        text =
            QStringLiteral("No applications recorded at %1 (they are kept two days)").arg(minute);
    } else {
        text = QStringLiteral("At %1:").arg(minute);
        for (const auto& app : apps) {
            text +=
                QStringLiteral("\n%1  %2")
                    .arg(QString::fromStdString(app.name),
                         formatTopValue_ ? formatTopValue_(app.value) : QString::number(app.value));
        }
    }
    topApplications_->setText(text);
    topApplications_->show();
}

}  // namespace vigil
