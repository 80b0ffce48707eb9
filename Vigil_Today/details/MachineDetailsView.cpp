#include "details/MachineDetailsView.h"

#include <QApplication>
#include <QDateTime>
#include <QVBoxLayout>

#include "settings/SettingsViewController.h"
#include "system/Formatting.h"
#include "system/Machines.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"
#include "ui/FUIFont.h"

namespace vigil {

namespace {

struct FigureChoice {
    const char* name;
    MachineFigure figure;
};
constexpr FigureChoice kFigures[] = {
    {"Processor", MachineFigure::processorBusy}, {"Memory used", MachineFigure::memoryUsed},
    {"Disk used", MachineFigure::diskUsed},      {"Download", MachineFigure::downloadRate},
    {"Upload", MachineFigure::uploadRate},       {"Load (1 min)", MachineFigure::load1}};

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QString bytesOf(const std::optional<double>& bytes) {
    return bytes ? text(byteStr(*bytes)) : QStringLiteral("unknown");
}

QString rateOf(const std::optional<double>& rate) {
    return rate ? text(bpsStr(*rate)) : QStringLiteral("unknown");
}

QString uptimeText(double seconds) {
    auto minutes = static_cast<long long>(seconds / 60);
    return QStringLiteral("%1 d %2 h %3 min")
        .arg(minutes / 1440)
        .arg(minutes / 60 % 24)
        .arg(minutes % 60);
}

QString figuresText(const MachineFigures& f) {
    QStringList lines;
    lines << QStringLiteral("Processor: %1")
                 .arg(f.processorBusy ? machinePercentText(f.processorBusy)
                                      : QStringLiteral("unknown"));
    lines << QStringLiteral("Memory: %1 of %2 (%3)")
                 .arg(bytesOf(f.memoryUsed), bytesOf(f.memoryTotal),
                      f.memoryUsedPercent() ? QStringLiteral("%1 %").arg(*f.memoryUsedPercent())
                                            : QStringLiteral("unknown"));
    lines << QStringLiteral("Disk (/): %1 of %2 (%3)")
                 .arg(bytesOf(f.diskUsed), bytesOf(f.diskTotal),
                      f.diskUsedPercent() ? QStringLiteral("%1 %").arg(*f.diskUsedPercent())
                                          : QStringLiteral("unknown"));
    lines << QStringLiteral("Upload: %1   Download: %2")
                 .arg(rateOf(f.uploadRate), rateOf(f.downloadRate));
    if (f.load1 && f.load5 && f.load15)
        lines << QStringLiteral("Load: %1  %2  %3")
                     .arg(*f.load1, 0, 'f', 2)
                     .arg(*f.load5, 0, 'f', 2)
                     .arg(*f.load15, 0, 'f', 2);
    if (f.uptime)
        lines << QStringLiteral("Up for %1").arg(uptimeText(*f.uptime));
    for (const auto& t : f.temperatures)
        lines << QStringLiteral("%1: %2").arg(text(t.name), text(degrees(t.celsius)));
    return lines.join(QLatin1Char('\n'));
}

QString formatOf(MachineFigure figure, double value) {
    switch (figure) {
        case MachineFigure::processorBusy:
            return QStringLiteral("%1 %").arg(value, 0, 'f', 0);
        case MachineFigure::memoryUsed:
        case MachineFigure::diskUsed:
            return text(byteStr(value));
        case MachineFigure::downloadRate:
        case MachineFigure::uploadRate:
            return text(bpsStr(value));
        case MachineFigure::load1:
            break;
    }
    return QString::number(value, 'f', 2);
}

}  // namespace

QString machinePercentText(const std::optional<double>& percent) {
    return percent ? QStringLiteral("%1 %").arg(*percent, 0, 'f', 0) : QStringLiteral("–");
}

QString machineStateText(const MachineState& machine) {
    QString state = machine.reach == MachineReach::down ? QStringLiteral("Down")
                                                        : QStringLiteral("Unreachable");
    if (!machine.lastAnswer)
        return state + QStringLiteral(" · never answered");
    auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(machine.lastAnswer->time_since_epoch())
            .count();
    auto when = QDateTime::fromSecsSinceEpoch(seconds);
    bool today = when.date() == QDate::currentDate();
    return state + QStringLiteral(" · last answer ") +
           when.toString(today ? QStringLiteral("HH:mm") : QStringLiteral("d MMM HH:mm"));
}

MachineDetailsView::MachineDetailsView(Machines& machines, QWidget* parent)
    : QWidget(parent), machines_(machines) {
    setObjectName(QStringLiteral("machineDetails"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 6, 16, 10);
    layout->setSpacing(6);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("machineTitle"));
    if (auto font = FUIFont::bold(13))
        title_->setFont(*font);
    figures_ = new QLabel(this);
    figures_->setObjectName(QStringLiteral("machineFigures"));
    figures_->setWordWrap(true);
    if (auto font = FUIFont::normal(12))
        figures_->setFont(*font);
    figure_ = new QComboBox(this);
    figure_->setObjectName(QStringLiteral("machineHistoryFigure"));
    for (const auto& choice : kFigures)
        figure_->addItem(QString::fromLatin1(choice.name));
    ranges_ = new SegmentedControl(
        {QStringLiteral("5 min"), QStringLiteral("1 h"), QStringLiteral("24 h"),
         QStringLiteral("7 d"), QStringLiteral("90 d")},
        this);
    ranges_->setObjectName(QStringLiteral("machineHistoryRange"));
    ranges_->selectSegment(1);
    chart_ = new MachineHistoryChart(this);
    layout->addWidget(title_);
    layout->addWidget(figures_);
    layout->addWidget(figure_);
    layout->addWidget(ranges_);
    layout->addWidget(chart_);
    QObject::connect(figure_, &QComboBox::activated, this, [this] { askHistory(); });
    ranges_->onChange = [this] { askHistory(); };
}

void MachineDetailsView::showMachine(const MachineState& machine) {
    bool another =
        machine.figures.instance != shown_.figures.instance || machine.source != shown_.source;
    shown_ = machine;
    title_->setText(QString::fromStdString(machine.figures.name));
    figures_->setText(
        machine.reach == MachineReach::up
            ? figuresText(machine.figures)
            : machineStateText(machine) +
                  (machine.error.empty() ? QString() : QStringLiteral("\n") + text(machine.error)));
    if (another)
        askHistory();
}

void MachineDetailsView::askHistory() {
    const int range = std::max(0, ranges_->selectedSegment());
    const MachineFigure figure = kFigures[std::max(0, figure_->currentIndex())].figure;
    const unsigned asked = ++asked_;
    chart_->setMessage(QStringLiteral("Asking…"));
    std::weak_ptr<void> alive = lifetimeToken();
    machines_.history(shown_, figure, kRanges[range], [this, alive, asked, figure](auto points) {
        if (!alive.lock() || asked != asked_)
            return;
        if (!points) {
            chart_->setMessage(QStringLiteral("History comes from a Prometheus server"));
            return;
        }
        chart_->setPoints(std::move(*points),
                          [figure](double value) { return formatOf(figure, value); });
    });
}

void MachineDetailsView::applyTheme(const Theme& theme) {
    theme.updateText(this);
    ranges_->setColors(theme.controllerColor, theme.labelColor);
    chart_->setColors(theme.infoColor, theme.labelColor);
    // The pop-up keeps the style's drawing; its colours follow the theme, as in the settings view.
    QPalette palette = QApplication::palette(figure_);
    if (theme.isDark) {
        for (auto role : {QPalette::Button, QPalette::Base})
            palette.setColor(role, FUIColor::wetAsphalt());
        for (auto role : {QPalette::ButtonText, QPalette::WindowText, QPalette::Text})
            palette.setColor(role, theme.labelColor);
    }
    figure_->setPalette(palette);
}

}  // namespace vigil
