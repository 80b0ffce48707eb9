#include "details/CPUViewController.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "details/AlertBanner.h"
#include "details/HistorySection.h"
#include "details/SensorsSection.h"
#include "host/Workspace.h"
#include "settings/WidgetDefaults.h"
#include "system/Formatting.h"
#include "system/GPU.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/AccessibleViews.h"
#include "ui/FUIColor.h"
#include "ui/FUIFont.h"
#include "ui/FigureText.h"
#include "views/CallbackStackView.h"
#include "views/MenuItemView.h"

namespace vigil {

namespace {

QLabel* bigValue(QWidget* parent, const QString& name) {
    auto* label = detailValue(parent, name);
    label->setAlignment(Qt::AlignCenter);
    if (auto font = FUIFont::light(20))
        label->setFont(*font);
    return label;
}

QLabel* centredTitle(const QString& text, QWidget* parent) {
    auto* label = detailTitle(text, parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// A device's figures, only those its driver gives: "37% busy · 192 MB of 512 MB · 46°C · 8.3 W";
// empty when it gives none.
QString usageText(const std::optional<GPU::Usage>& usage) {
    if (!usage)
        return {};
    QStringList parts;
    if (usage->busyPercent)
        parts << QStringLiteral("%1%\u00a0busy").arg(std::llround(*usage->busyPercent));
    // A figure and its unit stay on one line.
    auto bytes = [](std::uint64_t n) {
        return QString::fromStdString(byteStr(n)).replace(QLatin1Char(' '), QChar(0x00a0));
    };
    if (usage->memoryUsed && usage->memoryTotal)
        parts << QStringLiteral("%1 of %2")
                     .arg(bytes(*usage->memoryUsed), bytes(*usage->memoryTotal));
    else if (usage->memoryUsed)
        parts << bytes(*usage->memoryUsed) + QStringLiteral(" used");
    if (usage->temperatureC)
        parts << QString::fromStdString(degrees(*usage->temperatureC));
    if (usage->powerW)
        parts << QString::asprintf("%.1f\u00a0W", *usage->powerW);
    return parts.join(QStringLiteral(" · "));
}

// The first device of a kind among the sampled ones.
std::optional<GPU::Usage> usageOfKind(const std::vector<GPU::Usage>& all, bool integrated) {
    for (const auto& u : all) {
        if (u.integrated == integrated)
            return u;
    }
    return std::nullopt;
}

// A device's name with its figures on the next line, where it has any.
QString withUsage(QString line, const std::optional<GPU::Usage>& usage) {
    if (QString figures = usageText(usage); !figures.isEmpty())
        line += QLatin1Char('\n') + figures;
    return line;
}

// The graphics lines: both processors with their kind and the one in use, else the one known,
// each with its figures; empty when none is known.
QString graphicsText(const GPU& gpu) {
    const auto usage = gpu.usage();
    if (gpu.hasBoth()) {
        const bool integratedInUse = gpu.isUsingIntegratedGPU();
        // The kind and use wrap as one word (no-break spaces), never "in" and "use" apart.
        auto line = [](const std::string& name, const char* kind, bool inUse) {
            return QStringLiteral("%1 ·\u00a0%2%3")
                .arg(QString::fromStdString(name), QLatin1String(kind),
                     inUse ? QStringLiteral(",\u00a0in\u00a0use") : QString());
        };
        return withUsage(line(gpu.integrated()->name, "integrated", integratedInUse),
                         usageOfKind(usage, true)) +
               QLatin1Char('\n') +
               withUsage(line(gpu.discrete()->name, "discrete", !integratedInUse),
                         usageOfKind(usage, false));
    }
    const auto& only = gpu.integrated() ? gpu.integrated() : gpu.discrete();
    std::string name = gpu.name();
    if (name.empty() && only)
        name = only->name;
    if (name.empty())
        return {};
    std::optional<GPU::Usage> shown;
    for (const auto& u : usage) {
        if (u.name == name && !shown)
            shown = u;
    }
    return withUsage(QString::fromStdString(name), shown);
}

QString percentText(int64_t value) {
    return QString::number(value) + QLatin1Char('%');
}

}  // namespace

CPU::ThermalState thermalStateWith(CPU::ThermalState zones,
                                   const std::optional<Sensors::CPUTemperature>& sensor) {
    CPU::ThermalState own = CPU::ThermalState::nominal;
    if (sensor && sensor->critical && sensor->celsius >= *sensor->critical)
        own = CPU::ThermalState::critical;
    else if (sensor && sensor->max && sensor->celsius >= *sensor->max)
        own = CPU::ThermalState::serious;
    else if (sensor && sensor->max && sensor->celsius >= *sensor->max - 10)
        own = CPU::ThermalState::fair;
    return std::max(zones, own);
}

ThermalState thermometerState(CPU::ThermalState state) {
    switch (state) {
        case CPU::ThermalState::nominal:
            return ThermalState::nominal;
        case CPU::ThermalState::fair:
            return ThermalState::fair;
        case CPU::ThermalState::serious:
            return ThermalState::serious;
        case CPU::ThermalState::critical:
            return ThermalState::critical;
    }
    return ThermalState::nominal;
}

CPUViewController::CPUViewController(System& system, Workspace& workspace, ThemeManager& themes,
                                     Defaults& defaults, QObject* parent)
    : TopApplicationsViewController(system, workspace, themes, defaults, parent),
      settings_(defaults) {}

CPUViewController::CPUViewController(QObject* parent)
    : CPUViewController(System::shared(), defaultWorkspace(), ThemeManager::shared(),
                        Defaults::shared(), parent) {}

QString CPUViewController::dateFormat(const QLocale& locale) {
    if (locale.measurementSystem() == QLocale::ImperialUSSystem)
        return QStringLiteral("dddd d MMM, h:mm AP");
    return QStringLiteral("dddd d MMM, HH:mm");
}

QString CPUViewController::cpuText(double percent) {
    return QString::asprintf("%.1f%%", percent);
}

QString CPUViewController::gpuText(double percent) {
    return QStringLiteral("GPU\u00a0%1%").arg(std::llround(percent));
}

QWidget* CPUViewController::loadView() {
    auto* root = new DetailRootView();
    root->setObjectName(nibName());
    auto* layout = new QVBoxLayout(root);
    layout->setContentsMargins(16, 10, 16, 8);
    layout->setSpacing(8);

    alertBanner = new AlertBanner(
        [this](const ActiveAlert& alert) {
            if (alert.kind == AlertKind::processorBusy)
                return true;
            const auto sensor = cpuSensor();
            return alert.kind == AlertKind::temperatureHigh && sensor &&
                   sensor->source == alert.subject;
        },
        root);
    alertBanner->setAlerts(alerts);
    layout->addWidget(alertBanner);

    // User, system and idle shares.
    auto* shares = new QGridLayout();
    shares->setVerticalSpacing(0);
    const QString titles[] = {QStringLiteral("User"), QStringLiteral("System"),
                              QStringLiteral("Idle")};
    const QString names[] = {QStringLiteral("cpuUser"), QStringLiteral("cpuSys"),
                             QStringLiteral("cpuIdle")};
    QLabel* values[3];
    for (int i = 0; i < 3; ++i) {
        values[i] = bigValue(root, names[i]);
        shares->addWidget(values[i], 0, i);
        shares->addWidget(centredTitle(titles[i], root), 1, i);
    }
    cpuUser = values[0];
    cpuSys = values[1];
    cpuIdle = values[2];
    layout->addLayout(shares);

    // Load averages, then the counts, each figure in its own right-aligned column.
    auto* figures = new QGridLayout();
    figures->setHorizontalSpacing(6);
    figures->setVerticalSpacing(2);
    figures->addWidget(detailTitle(QStringLiteral("Load average"), root), 0, 0);
    loadAvg1m = detailValue(root, QStringLiteral("loadAvg1m"));
    loadAvg5m = detailValue(root, QStringLiteral("loadAvg5m"));
    loadAvg15m = detailValue(root, QStringLiteral("loadAvg15m"));
    figures->addWidget(loadAvg1m, 0, 1);
    figures->addWidget(loadAvg5m, 0, 2);
    figures->addWidget(loadAvg15m, 0, 3);
    figures->addWidget(detailTitle(QStringLiteral("Processes"), root), 1, 0);
    processes = detailValue(root, QStringLiteral("processes"));
    figures->addWidget(processes, 1, 1, 1, 3);
    figures->addWidget(detailTitle(QStringLiteral("Threads"), root), 2, 0);
    threads = detailValue(root, QStringLiteral("threads"));
    figures->addWidget(threads, 2, 1, 1, 3);
    for (int column = 1; column <= 3; ++column)
        figures->setColumnMinimumWidth(column, 44);
    figures->setColumnStretch(0, 1);
    layout->addLayout(figures);

    // Thermal state beside the processor and graphics names.
    auto* hardware = new QHBoxLayout();
    hardware->setSpacing(10);
    temp = new Thermometer(root);
    temp->setObjectName(QStringLiteral("temp"));
    temp->setFixedSize(64, 40);
    temp->setToolTip(QStringLiteral("Thermal state"));
    auto* thermal = new QVBoxLayout();
    thermal->setSpacing(0);
    thermal->addWidget(temp);
    cpuTemperature = detailValue(root, QStringLiteral("cpuTemperature"));
    cpuTemperature->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    thermal->addWidget(cpuTemperature);
    hardware->addLayout(thermal);
    auto* brands = new QVBoxLayout();
    brands->setSpacing(1);
    cpuBrand = detailValue(root, QStringLiteral("cpuBrand"));
    gpuBrand = detailValue(root, QStringLiteral("gpuBrand"));
    for (QLabel* brand : {cpuBrand.data(), gpuBrand.data()}) {
        brand->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        brand->setWordWrap(true);
        brands->addWidget(brand);
    }
    // Two graphics names wrap to several lines: the label takes the width it is given, not the
    // eighty characters a wrapping label asks for, so that its height follows that width.
    gpuBrand->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    hardware->addLayout(brands, 1);
    layout->addLayout(hardware);

    // The uptime row opens the menu of boot, awake and sleeping times.
    uptimeRow = new CallbackStackView(Qt::Horizontal, root);
    uptimeRow->setObjectName(QStringLiteral("uptimeRow"));
    uptimeRow->setCursor(Qt::PointingHandCursor);
    uptimeRow->addView(detailTitle(QStringLiteral("Uptime"), uptimeRow));
    uptime = detailValue(uptimeRow, QStringLiteral("uptime"));
    uptimeRow->addView(uptime);
    uptimeRow->stackLayout()->setStretch(1, 1);
    layout->addWidget(uptimeRow);

    uptimeMenu = new QMenu(root);
    uptimeMenu->setObjectName(QStringLiteral("uptimeMenu"));
    struct Item {
        QString title;
        QPointer<QLabel>* field;
        QString name;
    };
    const Item items[] = {
        {QStringLiteral("Boot time"), &itemBootTime, QStringLiteral("itemBootTime")},
        {QStringLiteral("Awake"), &itemAwakeTime, QStringLiteral("itemAwakeTime")},
        {QStringLiteral("Sleeping"), &itemSleepingTime, QStringLiteral("itemSleepingTime")},
    };
    for (const Item& item : items) {
        auto* view = new MenuItemView();
        auto* row = new QHBoxLayout(view);
        row->setContentsMargins(14, 3, 14, 3);
        row->setSpacing(12);
        auto* title = new NoThemeField(item.title, view);
        auto* value = new NoThemeField(view);
        value->setObjectName(item.name);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (auto font = FUIFont::normal(12)) {
            title->setFont(*font);
            value->setFont(*font);
        }
        row->addWidget(title);
        row->addWidget(value, 1);
        view->setMinimumWidth(260);
        view->addTo(uptimeMenu);
        *item.field = value;
    }

    historyPanel =
        HistorySection::make(root, {{"cpu.busy", QStringLiteral("Busy"), FUIColor::peterRiver()}});
    if (historyPanel) {
        historyPanel->chart()->setFixedMaximum(100);
        historyPanel->chart()->formatValue = [](double v) { return cpuText(v); };
        historyPanel->setTopKind("cpu", [](double v) { return cpuText(v); });
        layout->addWidget(historyPanel);
    }

    // Every sensor of the machine, by chip; hidden on a machine without any.
    sensorsSection = new SensorsSection(settings_, root);
    layout->addWidget(sensorsSection);

    // The heaviest applications, with the system monitor's button beside the heading.
    addApplicationsTable(root, layout);
    return root;
}

void CPUViewController::viewDidLoad() {
    uptimeRow->onclick = [this] { popUptime(); };
    const std::pair<QLabel*, const char*> figures[] = {{cpuUser, "User"},
                                                       {cpuSys, "System"},
                                                       {cpuIdle, "Idle"},
                                                       {loadAvg1m, "Load average over 1 minute"},
                                                       {loadAvg5m, "over 5 minutes"},
                                                       {loadAvg15m, "over 15 minutes"},
                                                       {processes, "Processes"},
                                                       {threads, "Threads"},
                                                       {uptime, "Uptime"}};
    for (const auto& [figure, name] : figures)
        markFigure(*figure, QString::fromLatin1(name));
    cpuBrand->setText(QString::fromStdString(system.cpu().brand()));
    connectApplicationsTable();
    const QDateTime boot = QDateTime::fromSecsSinceEpoch(system.cpu().bootTime());
    const QLocale locale;
    itemBootTime->setText(locale.toString(boot, dateFormat(locale)));
    setupTheme();
}

void CPUViewController::viewWillAppear() {
    view();
    placeSeparator();
    system.start(system.apps());
    system.start(system.gpu());
    system.start(SystemResourceType::sensors);
    if (const auto& sensors = system.resources().sensors)
        sensors->setPreferredCPUSensor(settings_.get(WidgetDefaultsKeys::cpuSensor()).value_or(""));
    update();
}

void CPUViewController::viewDidAppear() {
    temp->setValue(thermometerState(thermalState()));
}

void CPUViewController::viewWillDisappear() {
    system.stop(system.gpu());
    system.stop(SystemResourceType::sensors);
}

std::optional<Sensors::CPUTemperature> CPUViewController::cpuSensor() const {
    const auto& sensors = system.resources().sensors;
    return sensors ? sensors->cpuTemperature() : std::nullopt;
}

CPU::ThermalState CPUViewController::thermalState() const {
    return thermalStateWith(system.cpu().thermalState(), cpuSensor());
}

void CPUViewController::update() {
    view();
    CPU& cpu = system.cpu();
    const auto sample = cpu.sample();
    const int64_t user = std::llround(sample->user);
    const int64_t sys = std::llround(sample->sys);
    showFigure(*cpuUser, percentText(user));
    showFigure(*cpuSys, percentText(sys));
    showFigure(*cpuIdle, percentText(100 - user - sys));

    const auto [one, five, fifteen] = cpu.loadavg();
    showFigure(*loadAvg1m, QString::asprintf("%.2f", one));
    showFigure(*loadAvg5m, QString::asprintf("%.2f", five));
    showFigure(*loadAvg15m, QString::asprintf("%.2f", fifteen));

    showFigure(*processes, QString::number(sample->processes));
    showFigure(*threads, QString::number(sample->threads));
    const QString graphics = graphicsText(system.gpu());
    gpuBrand->setText(graphics);
    gpuBrand->setVisible(!graphics.isEmpty());
    showFigure(*uptime, QString::fromStdString(TimeFormat::uptime(cpu.uptime())));

    const auto sensor = cpuSensor();
    cpuTemperature->setText(sensor ? QString::fromStdString(degrees(sensor->celsius, settings_))
                                   : QString());
    cpuTemperature->setToolTip(sensor ? QString::fromStdString(sensor->source) : QString());
    cpuTemperature->setVisible(sensor.has_value());
    alertBanner->refresh();
    if (const auto& sensors = system.resources().sensors) {
        // The processor sensor's alert is said at the top already.
        sensorsSection->showAlerts(alerts, sensor ? sensor->source : std::string());
        sensorsSection->show(sensors->snapshot()->chips);
    }
    const CPU::ThermalState state = thermalStateWith(cpu.thermalState(), sensor);
    if (!prevThermalState || *prevThermalState != state) {
        prevThermalState = state;
        temp->setValue(thermometerState(state));
    }
    if (historyPanel)
        historyPanel->refresh();
    maybeUpdateAppsTable();
}

void CPUViewController::maybeUpdateAppsTable() {
    std::vector<Applications::Process> top = system.apps().cpu();
    std::vector<int64_t> cpuShown;
    cpuShown.reserve(top.size());
    for (const auto& process : top)
        cpuShown.push_back(std::isfinite(process.cpu) ? std::llround(process.cpu * 10) : 0);
    std::vector<std::optional<double>> gpu = graphicsShares(top);
    std::vector<int64_t> gpuShown;
    if (std::any_of(gpu.begin(), gpu.end(), [](const auto& share) { return share.has_value(); })) {
        for (const auto& share : gpu)
            gpuShown.push_back(share ? std::llround(*share) : -1);
    }
    if (cpuShown == prevCPU && gpuShown == prevGPU)
        return;
    prevCPU = std::move(cpuShown);
    prevGPU = std::move(gpuShown);
    apps = std::move(top);
    appsGPU = std::move(gpu);
    tableView->setValueColumns(prevGPU.empty() ? 1 : 2);
    reloadTable();
}

std::vector<std::optional<double>> CPUViewController::graphicsShares(
    const std::vector<Applications::Process>& top) const {
    std::vector<std::optional<double>> out(top.size());
    const auto& gpu = system.resources().gpu;
    const auto shares = gpu ? gpu->processShares() : std::unordered_map<pid_t, double>{};
    if (shares.empty())
        return out;
    const auto table = system.apps().processes();
    for (size_t row = 0; row < top.size(); ++row)
        out[row] = gpuShare(top[row], table, shares);
    return out;
}

std::optional<double> CPUViewController::gpuShare(const Applications::Process& app,
                                                  const std::vector<Applications::Process>& table,
                                                  const std::unordered_map<pid_t, double>& shares) {
    std::optional<double> sum;
    auto add = [&](int32_t pid) {
        if (auto found = shares.find(pid); found != shares.end())
            sum = sum.value_or(0) + found->second;
    };
    add(app.pid);
    for (const auto& process : table) {
        if (process.parentPid == app.pid && process.pid != app.pid)
            add(process.pid);
    }
    if (sum)
        sum = std::min(*sum, 100.0);
    return sum;
}

std::optional<TableCell> CPUViewController::tableViewCell(int row, int column) const {
    if (column == 2 && !prevGPU.empty()) {
        if (row < 0 || static_cast<size_t>(row) >= appsGPU.size())
            return std::nullopt;
        const auto& share = appsGPU[static_cast<size_t>(row)];
        return TableCell{QStringLiteral("gpuid"), share ? gpuText(*share) : QString(), std::nullopt,
                         themes_.activeTheme().labelColor};
    }
    return topApplicationCell(
        apps, row, column, themes_.activeTheme(),
        [](const Applications::Process& process) { return cpuText(process.cpu); });
}

void CPUViewController::popUptime() {
    CPU& cpu = system.cpu();
    itemAwakeTime->setText(QString::fromStdString(TimeFormat::uptime(cpu.awakeTime())));
    itemSleepingTime->setText(QString::fromStdString(TimeFormat::uptime(cpu.sleepTime())));
    uptimeMenu->popup(uptimeRow->mapToGlobal(QPoint(0, uptimeRow->height() + 4)));
}

void CPUViewController::setupTheme() {
    apply(themes_.activeTheme());
    themes_.onThemeChange.listen(*this, [this](const Theme& theme) { apply(theme); });
}

void CPUViewController::apply(const Theme& theme) {
    theme.updateText(view());
    temp->setIndicatorColor(theme.controllerColor);
    alertBanner->apply(theme);
    sensorsSection->apply(theme);
    HistorySection::apply(historyPanel, theme);
    applyTableTheme(theme);
}

}  // namespace vigil
