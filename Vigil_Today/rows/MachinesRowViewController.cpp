#include "rows/MachinesRowViewController.h"

#include <QScrollBar>
#include <QVBoxLayout>

#include "details/MachineDetailsView.h"
#include "rows/MachineLine.h"
#include "rows/RowStyle.h"
#include "system/Formatting.h"
#include "system/Machines.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"

namespace vigil {

namespace {

std::string keyOf(const MachineState& machine) {
    return machine.source + "\n" + machine.figures.instance;
}

QString percentOf(const std::optional<int>& percent) {
    return percent ? QStringLiteral("%1 %").arg(*percent) : QStringLiteral("–");
}

QString rateOf(const std::optional<double>& rate) {
    return rate ? QString::fromStdString(bpsStr(*rate)) : QStringLiteral("–");
}

void setElided(QLabel& label, const QString& text, int width) {
    label.setText(label.fontMetrics().elidedText(text, Qt::ElideRight, std::max(width, 40)));
    label.setToolTip(text);
}

}  // namespace

MachinesRowViewController::MachinesRowViewController(Machines& machines, ThemeManager& themes)
    : machines_(machines), themes_(themes) {}

MachinesRowViewController::~MachinesRowViewController() = default;

QWidget* MachinesRowViewController::loadView() {
    auto* row = new QWidget();
    row->setObjectName(QStringLiteral("machinesRow"));
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(2);
    title_ = makeRowLabel(QStringLiteral("Machines"), 12, row);
    title_->setContentsMargins(16, 0, 16, 0);
    empty_ = makeRowLabel(QStringLiteral("No answer yet"), 11, row);
    empty_->setObjectName(QStringLiteral("machinesEmpty"));
    empty_->setContentsMargins(16, 0, 16, 0);
    scroll_ = new QScrollArea(row);
    scroll_->setObjectName(QStringLiteral("machinesScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->viewport()->setAutoFillBackground(false);
    linesBox_ = new QWidget();
    linesBox_->setAutoFillBackground(false);
    auto* linesLayout = new QVBoxLayout(linesBox_);
    linesLayout->setContentsMargins(0, 0, 0, 0);
    linesLayout->setSpacing(0);
    linesLayout->addStretch(1);
    scroll_->setWidget(linesBox_);
    details_ = new MachineDetailsView(machines_, row);
    details_->hide();
    layout->addWidget(title_);
    layout->addWidget(empty_);
    layout->addWidget(scroll_);
    layout->addWidget(details_);
    return row;
}

void MachinesRowViewController::viewDidLoad() {
    auto apply = [this](const Theme& theme) {
        theme.updateText(view());
        details_->applyTheme(theme);
    };
    apply(themes_.activeTheme());
    themes_.onThemeChange.listen(*this, apply);
}

void MachinesRowViewController::viewWillAppear() {
    update();
}

void MachinesRowViewController::fillLine(MachineLine& line, const MachineState& machine) const {
    const MachineFigures& f = machine.figures;
    const int textWidth = line.width() > 0 ? line.width() - 32 - 8 - 8 - 130 : 140;
    setElided(*line.name(), QString::fromStdString(f.name), textWidth);
    if (machine.reach == MachineReach::up) {
        line.dot()->setColor(FUIColor::brandSuccess());
        line.figures()->setText(QStringLiteral("CPU %1 · MEM %2 · DISK %3")
                                    .arg(machinePercentText(f.processorBusy),
                                         percentOf(f.memoryUsedPercent()),
                                         percentOf(f.diskUsedPercent())));
        line.rates()->setText(
            QStringLiteral("↑ %1  ↓ %2").arg(rateOf(f.uploadRate), rateOf(f.downloadRate)));
    } else {
        line.dot()->setColor(machine.reach == MachineReach::down ? FUIColor::brandWarning()
                                                                 : FUIColor::brandDanger());
        line.figures()->setText(machineStateText(machine));
        line.rates()->setText(QString());
    }
}

void MachinesRowViewController::update() {
    view();
    // The answers change at the sources' interval (5 s), not at each tick.
    const unsigned generation = machines_.generation();
    if (drawn_ == generation)
        return;
    drawn_ = generation;
    const std::vector<MachineState> machines = machines_.machines();
    auto* linesLayout = static_cast<QVBoxLayout*>(linesBox_->layout());
    while (lines_.size() < machines.size()) {
        auto* line = new MachineLine(linesBox_);
        line->setFixedHeight(kLineHeight);
        const int index = static_cast<int>(lines_.size());
        line->onclick = [this, index] { toggleDetails(index); };
        linesLayout->insertWidget(index, line);
        themes_.activeTheme().updateText(line);
        lines_.push_back(line);
    }
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        lines_[i]->setVisible(i < machines.size());
        if (i < machines.size())
            fillLine(*lines_[i], machines[i]);
    }
    const int shown = static_cast<int>(std::min<std::size_t>(machines.size(), kVisibleLines));
    scroll_->setFixedHeight(shown * kLineHeight);
    scroll_->setVerticalScrollBarPolicy(machines.size() > kVisibleLines ? Qt::ScrollBarAsNeeded
                                                                        : Qt::ScrollBarAlwaysOff);
    scroll_->setVisible(!machines.empty());
    empty_->setVisible(machines.empty());
    if (details_->isVisible()) {
        auto open = std::find_if(machines.begin(), machines.end(),
                                 [&](const MachineState& m) { return keyOf(m) == openInstance_; });
        if (open == machines.end())
            details_->hide();
        else
            details_->showMachine(*open);
    }
    noteHeight();
}

void MachinesRowViewController::noteHeight() {
    view()->layout()->activate();
    const int height = view()->sizeHint().height();
    if (height == height_)
        return;
    height_ = height;
    if (onHeightChanged)
        onHeightChanged();
}

void MachinesRowViewController::toggleDetails(int index) {
    const std::vector<MachineState> machines = machines_.machines();
    if (index < 0 || index >= static_cast<int>(machines.size()))
        return;
    const std::string key = keyOf(machines[index]);
    if (details_->isVisible() && key == openInstance_) {
        details_->hide();
    } else {
        openInstance_ = key;
        details_->showMachine(machines[index]);
        details_->setVisible(true);
    }
    noteHeight();
}

}  // namespace vigil
