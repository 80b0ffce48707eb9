#include "details/MemoryViewController.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "details/AlertBanner.h"
#include "details/HistorySection.h"
#include "host/Workspace.h"
#include "settings/WidgetDefaults.h"
#include "system/Formatting.h"
#include "system/Memory.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"
#include "ui/FUIFont.h"
#include "ui/FigureText.h"

namespace vigil {

MemoryViewController::MemoryViewController(System& system, Workspace& workspace,
                                           ThemeManager& themes, Defaults& defaults,
                                           QObject* parent)
    : TopApplicationsViewController(system, workspace, themes, defaults, parent),
      pieColors{FUIColor::alizarin(), FUIColor::peterRiver(), FUIColor::silver(),
                FUIColor::emerald()} {}

MemoryViewController::MemoryViewController(QObject* parent)
    : MemoryViewController(System::shared(), defaultWorkspace(), ThemeManager::shared(),
                           Defaults::shared(), parent) {}

QString MemoryViewController::swapText(uint64_t total, uint64_t used) {
    if (total == 0 && used == 0)
        return QStringLiteral("0 B");
    return QString::fromStdString(byteStr(used, ByteNotation::MB)) + QStringLiteral(" of ") +
           QString::fromStdString(byteStr(total, ByteNotation::MB));
}

QString MemoryViewController::memText(uint64_t bytes) {
    return QString::fromStdString(byteStr(bytes, ByteNotation::MB));
}

QWidget* MemoryViewController::loadView() {
    auto* root = new DetailRootView();
    root->setObjectName(nibName());
    auto* layout = new QVBoxLayout(root);
    layout->setContentsMargins(16, 10, 16, 8);
    layout->setSpacing(8);

    alertBanner = new AlertBanner(
        [](const ActiveAlert& alert) {
            return alert.kind == AlertKind::memoryLow || alert.kind == AlertKind::swapFilling;
        },
        root);
    alertBanner->setAlerts(alerts);
    layout->addWidget(alertBanner);

    // The pie beside its legend: wired, active, compressed, free.
    auto* split = new QHBoxLayout();
    split->setSpacing(14);
    pieChart = new PieChart(root);
    pieChart->setObjectName(QStringLiteral("pieChart"));
    pieChart->setFixedSize(76, 76);
    split->addWidget(pieChart);
    auto* legend = new QGridLayout();
    legend->setHorizontalSpacing(6);
    legend->setVerticalSpacing(1);
    const QString titles[] = {QStringLiteral("Wired"), QStringLiteral("Active"),
                              QStringLiteral("Compressed"), QStringLiteral("Free")};
    const QString names[] = {QStringLiteral("wired"), QStringLiteral("active"),
                             QStringLiteral("compressed"), QStringLiteral("free")};
    QLabel* values[4];
    for (int i = 0; i < 4; ++i) {
        auto* dot = new NoThemeField(QStringLiteral("●"), root);
        QPalette palette = dot->palette();
        palette.setColor(QPalette::WindowText, pieColors[static_cast<size_t>(i)]);
        dot->setPalette(palette);
        legend->addWidget(dot, i, 0);
        legend->addWidget(detailTitle(titles[i], root), i, 1);
        values[i] = detailValue(root, names[i]);
        legend->addWidget(values[i], i, 2);
    }
    legend->setColumnStretch(1, 1);
    wired = values[0];
    active = values[1];
    compressed = values[2];
    free = values[3];
    split->addLayout(legend, 1);
    layout->addLayout(split);

    // The totals and counters.
    auto* figures = new QGridLayout();
    figures->setHorizontalSpacing(6);
    figures->setVerticalSpacing(2);
    struct Row {
        QString title;
        QPointer<QLabel>* field;
        QString name;
    };
    const Row rows[] = {
        {QStringLiteral("Physical memory"), &physicalMemory, QStringLiteral("physicalMemory")},
        {QStringLiteral("Memory used"), &memoryUsed, QStringLiteral("memoryUsed")},
        {QStringLiteral("Cached files"), &cachedFiles, QStringLiteral("cachedFiles")},
        {QStringLiteral("Swap used"), &swap, QStringLiteral("swap")},
        {QStringLiteral("Page-ins"), &pageIns, QStringLiteral("pageIns")},
        {QStringLiteral("Page-outs"), &pageOuts, QStringLiteral("pageOuts")},
    };
    int line = 0;
    for (const Row& row : rows) {
        figures->addWidget(detailTitle(row.title, root), line, 0);
        *row.field = detailValue(root, row.name);
        figures->addWidget(*row.field, line, 1);
        ++line;
    }
    figures->setColumnStretch(0, 1);
    layout->addLayout(figures);

    historyPanel =
        HistorySection::make(root, {{"mem.usage", QStringLiteral("Used"), FUIColor::amethyst()}});
    if (historyPanel) {
        historyPanel->chart()->setFixedMaximum(100);
        historyPanel->chart()->formatValue = [](double v) {
            return QStringLiteral("%1%").arg(v, 0, 'f', 0);
        };
        historyPanel->setTopKind("mem",
                                 [](double v) { return memText(uint64_t(std::max(v, 0.0))); });
        layout->addWidget(historyPanel);
    }

    addApplicationsTable(root, layout);
    return root;
}

void MemoryViewController::viewDidLoad() {
    pieChart->setColorPoints(pieColors);
    reloadTable();
    physicalMemory->setText(QString::fromStdString(byteStr(system.mem().physical())));
    connectApplicationsTable();
    apply(themes_.activeTheme());
    themes_.onThemeChange.listen(*this, [this](const Theme& theme) { apply(theme); });
}

void MemoryViewController::viewWillAppear() {
    view();
    placeSeparator();
    system.start(system.apps());
    update();
}

void MemoryViewController::update() {
    view();
    auto sample = system.mem().sample();
    if (sample != shownSample_) {
        showFigures(*sample);
        shownSample_ = std::move(sample);
    }
    alertBanner->refresh();
    if (historyPanel)
        historyPanel->refresh();
    maybeUpdateAppsTable();
}

void MemoryViewController::showFigures(const Memory::Sample& sample) {
    pieChart->setDataPoints({static_cast<double>(sample.wired), static_cast<double>(sample.active),
                             static_cast<double>(sample.compressed),
                             static_cast<double>(sample.free)});
    showFigure(*wired, QString::fromStdString(byteStr(sample.wired)));
    showFigure(*active, QString::fromStdString(byteStr(sample.active)));
    showFigure(*compressed, QString::fromStdString(byteStr(sample.compressed, ByteNotation::MB)));
    showFigure(*free, QString::fromStdString(byteStr(sample.free)));
    showFigure(*memoryUsed, QString::fromStdString(byteStr(sample.used())));
    showFigure(*cachedFiles, QString::fromStdString(byteStr(sample.cachedFiles)));

    const auto [total, used] = system.mem().swap();
    showFigure(*swap, swapText(total, used));

    showFigure(*pageIns, numberFormatter.toString(static_cast<qulonglong>(sample.pagesIn)));
    showFigure(*pageOuts, numberFormatter.toString(static_cast<qulonglong>(sample.pagesOut)));
}

void MemoryViewController::maybeUpdateAppsTable() {
    std::vector<Applications::Process> top = system.apps().mem();
    std::vector<QString> shown;
    shown.reserve(top.size());
    for (const auto& process : top)
        shown.push_back(memText(process.mem));
    maybeReload(prevMemory, std::move(shown), std::move(top));
}

std::optional<TableCell> MemoryViewController::tableViewCell(int row, int column) const {
    return topApplicationCell(
        apps, row, column, themes_.activeTheme(),
        [](const Applications::Process& process) { return memText(process.mem); });
}

void MemoryViewController::apply(const Theme& theme) {
    theme.updateText(view());
    alertBanner->apply(theme);
    HistorySection::apply(historyPanel, theme);
    applyTableTheme(theme);
}

}  // namespace vigil
