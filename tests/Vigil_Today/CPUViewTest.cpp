#include <QKeyEvent>
#include <QLocale>

#include <atomic>

#include "Vigil_Today/CPUMemoryTestSupport.h"
#include "details/CPUViewController.h"
#include "details/MemoryViewController.h"
#include "settings/SettingsViewController.h"
#include "settings/WidgetDefaults.h"
#include "system/Formatting.h"
#include "system/Sensors.h"
#include "views/CallbackStackView.h"

namespace vigil {
namespace {

class CPUViewTest : public test::QtTest {
  protected:
    test::FixtureMachine machine;
    test::TempDefaults store;
    test::RecordingWorkspace workspace;
    ThemeManager themes{store.defaults};
    CPUViewController details{*machine.system, workspace, themes, store.defaults};

    // Gives the applications 1300, 1400 and 1200 falling processor shares, in that order.
    void rankApplications() {
        machine.apps->update();
        machine.setProcField(1200, "stat", 14, "100");
        machine.setProcField(1300, "stat", 14, "100");
        machine.setProcField(1400, "stat", 14, "100");
        machine.apps->update();
        const auto start = std::chrono::steady_clock::now();
        test::waitUntil([&] {
            return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(30);
        });
        machine.setProcField(1200, "stat", 14, "101");
        machine.setProcField(1300, "stat", 14, "109");
        machine.setProcField(1400, "stat", 14, "105");
        machine.apps->update();
    }
    // A DRM client of the process in the graphics tree, as xe writes its fdinfo (recorded), with
    // the render engine's cycles against the engine's total; none closes it.
    void drmClient(int pid, int fd, std::optional<std::pair<int, int>> cycles) {
        const std::string proc = "proc/" + std::to_string(pid);
        const std::string info = proc + "/fdinfo/" + std::to_string(fd);
        if (!cycles) {
            std::filesystem::remove(machine.tree.path(info));
            return;
        }
        std::filesystem::create_directories(machine.tree.path(proc + "/fd"));
        const std::string link = machine.tree.path(proc + "/fd/" + std::to_string(fd));
        if (!std::filesystem::is_symlink(link))
            std::filesystem::create_symlink("/dev/dri/renderD128", link);
        machine.tree.write(info,
                           "pos:\t0\nflags:\t02100002\nmnt_id:\t27\nino:\t1203\ndrm-driver:\txe\n"
                           "drm-client-id:\t" +
                               std::to_string(pid) +
                               "\ndrm-pdev:\t0000:00:02.0\ndrm-resident-system:\t12 KiB\n"
                               "drm-cycles-rcs:\t" +
                               std::to_string(cycles->first) + "\ndrm-total-cycles-rcs:\t" +
                               std::to_string(cycles->second) + "\n");
    }
};

TEST_F(CPUViewTest, SharesRoundHalfAwayAndIdleIsWhatTheyLeave) {
    struct Case {
        int user, sys, idle;  // ticks of 1000
        const char *userText, *sysText, *idleText;
    };
    const Case cases[] = {
        {125, 34, 841, "13%", "3%", "84%"},
        {605, 395, 0, "61%", "40%", "-1%"},  // no idle time: not clamped
        {0, 0, 1000, "0%", "0%", "100%"},
    };
    details.view();
    for (const Case& c : cases) {
        machine.cpuTicks(c.user, c.sys, c.idle);
        details.update();
        EXPECT_EQ(details.cpuUser->text(), c.userText);
        EXPECT_EQ(details.cpuSys->text(), c.sysText);
        EXPECT_EQ(details.cpuIdle->text(), c.idleText);
    }
}

TEST_F(CPUViewTest, FiguresOfTheFixtureMachine) {
    machine.tree.write("proc/loadavg", "1.234 0.5 12 3/812 4242\n");
    machine.cpuTicks(125, 34, 841);
    details.view();
    EXPECT_EQ(details.cpuBrand->text(), "Intel Core i7-4870HQ 2.50GHz");
    details.viewWillAppear();
    EXPECT_EQ(details.loadAvg1m->text(), "1.23");
    EXPECT_EQ(details.loadAvg5m->text(), "0.50");
    EXPECT_EQ(details.loadAvg15m->text(), "12.00");
    EXPECT_EQ(details.threads->text(), "812");  // from loadavg's "3/812"
    EXPECT_EQ(details.processes->text(), "4");  // the fixture's four /proc/<pid> folders
    EXPECT_EQ(
        details.gpuBrand->text(),
        "Intel Corporation CometLake-H GT2 [UHD Graphics] ·\u00a0integrated,\u00a0in\u00a0use\n"
        "NVIDIA Corporation TU117M [GeForce GTX 1650 Mobile / Max-Q] ·\u00a0discrete");
    EXPECT_EQ(details.uptime->text().toStdString(), TimeFormat::uptime(machine.cpu->uptime()));
    EXPECT_TRUE(details.uptime->text().endsWith("minutes") ||
                details.uptime->text().endsWith("minute"));
    // The button carries the installed system monitor's name and a system monitor's icon.
    ASSERT_FALSE(workspace.icons.empty());
    EXPECT_EQ(workspace.icons.front(), QString::fromLatin1(kSystemMonitorIconName));
    EXPECT_EQ(details.systemMonitorButton->text(), "System Monitor");
    EXPECT_FALSE(details.systemMonitorButton->isHidden());
    details.systemMonitorButton->click();
    EXPECT_EQ(workspace.launched, (std::vector<SystemTool>{SystemTool::systemMonitor}));
}

TEST_F(CPUViewTest, BootTimeFollowsTheLocalesClock) {
    EXPECT_EQ(CPUViewController::dateFormat(QLocale(QLocale::English, QLocale::UnitedStates)),
              "dddd d MMM, h:mm AP");
    EXPECT_EQ(CPUViewController::dateFormat(QLocale(QLocale::German, QLocale::Germany)),
              "dddd d MMM, HH:mm");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    details.view();
    const QDateTime boot = QDateTime::fromSecsSinceEpoch(1700000000);  // the fixture's btime
    EXPECT_EQ(details.itemBootTime->text(), QLocale().toString(boot, "dddd d MMM, h:mm AP"));
    EXPECT_TRUE(details.itemBootTime->text().contains(boot.toString("MMM")));
    QLocale::setDefault(QLocale::system());

    details.uptimeRow->onclick();  // what a click on the row runs
    EXPECT_EQ(details.itemAwakeTime->text().toStdString(),
              TimeFormat::uptime(machine.cpu->awakeTime()));
    EXPECT_EQ(details.itemSleepingTime->text().toStdString(),
              TimeFormat::uptime(machine.cpu->sleepTime()));
    EXPECT_TRUE(details.uptimeMenu->isVisible());
    details.uptimeMenu->hide();
}

TEST_F(CPUViewTest, ThermometerIsSetOnlyWhenTheStateChanges) {
    details.view();
    ASSERT_EQ(machine.cpu->thermalState(), CPU::ThermalState::serious);
    details.update();  // the first update always sets it
    EXPECT_EQ(details.temp->value(), ThermalState::serious);
    EXPECT_EQ(details.prevThermalState, CPU::ThermalState::serious);
    const int swings = details.temp->rotationCount();
    details.update();
    EXPECT_EQ(details.temp->rotationCount(), swings);
    machine.tree.write("sys/class/thermal/thermal_zone1/temp", "40000\n");
    details.update();
    EXPECT_EQ(details.temp->value(), ThermalState::nominal);
    EXPECT_EQ(details.temp->rotationCount(), swings + 1);
    EXPECT_EQ(thermometerState(CPU::ThermalState::critical), ThermalState::critical);
    EXPECT_EQ(thermometerState(CPU::ThermalState::fair), ThermalState::fair);
}

TEST_F(CPUViewTest, StolenTicksAreBusy) {
    // A virtual machine's two samples. Between them: user 300, system 100, irq 20, softirq 30,
    // steal 250, idle 300 of 1000 ticks: user 30 %, system (100 + 20 + 30 + 250) = 40 %, idle
    // 30 %. Leaving steal out would read 300/750 = 40 % user and 150/750 = 20 % system.
    details.view();
    machine.tree.write("proc/stat", "cpu  1000 0 500 8000 100 0 0 200 0 0\nbtime 1700000000\n");
    machine.cpu->update();
    machine.tree.write("proc/stat", "cpu  1300 0 600 8300 100 20 30 450 0 0\nbtime 1700000000\n");
    machine.cpu->update();
    details.update();
    EXPECT_EQ(details.cpuUser->text(), "30%");
    EXPECT_EQ(details.cpuSys->text(), "40%");
    EXPECT_EQ(details.cpuIdle->text(), "30%");
}

TEST_F(CPUViewTest, AppearingStartsApplicationsAndGraphicsAndLeavingStopsGraphicsOnly) {
    store.defaults.set(WidgetDefaultsKeys::widgetRows(), int64_t{1});
    details.viewWillAppear();
    EXPECT_EQ(details.separatorLineConstraint, -1.0);
    EXPECT_EQ(machine.task(*machine.apps)->status(), Timer::Status::started);
    EXPECT_EQ(machine.task(*machine.gpu)->status(), Timer::Status::started);
    EXPECT_NE(machine.task(*machine.cpu)->status(), Timer::Status::started);  // not its business
    details.viewWillDisappear();
    EXPECT_EQ(machine.task(*machine.gpu)->status(), Timer::Status::suspended);
    EXPECT_EQ(machine.task(*machine.apps)->status(), Timer::Status::started);
    for (int64_t rows : {0, 2}) {
        store.defaults.set(WidgetDefaultsKeys::widgetRows(), rows);
        details.viewWillAppear();
        EXPECT_EQ(details.separatorLineConstraint, 0.0);
    }
}

TEST_F(CPUViewTest, HeaviestApplicationsInOrderReloadedOnlyWhenTheShownFigureChanges) {
    details.view();
    rankApplications();
    details.update();
    ASSERT_EQ(details.numberOfRows(), 3);
    EXPECT_EQ(details.apps[0].pid, 1300);
    EXPECT_EQ(details.apps[1].pid, 1400);
    EXPECT_EQ(details.apps[2].pid, 1200);
    for (int row = 0; row < 3; ++row) {
        const auto& process = details.apps[static_cast<size_t>(row)];
        EXPECT_EQ(details.tableView->item(row, 0)->text().toStdString(), process.name());
        EXPECT_EQ(details.tableView->item(row, 1)->text(),
                  QString::asprintf("%.1f%%", process.cpu));
        EXPECT_EQ(details.tableView->identifierAt(row, 0), "nameid");
        EXPECT_EQ(details.tableView->identifierAt(row, 1), "valueid");
        EXPECT_EQ(details.prevCPU[static_cast<size_t>(row)], std::llround(process.cpu * 10));
    }
    EXPECT_GT(details.apps[0].cpu, details.apps[1].cpu);
    const int reloads = details.tableView->reloadCount();
    details.update();  // the same list: no reload
    EXPECT_EQ(details.tableView->reloadCount(), reloads);

    // Cells: one decimal, title colour for names, nothing past the end.
    details.apps[0].cpu = 7.26;
    auto value = details.tableViewCell(0, 1);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->text, "7.3%");
    EXPECT_EQ(value->textColor, themes.activeTheme().labelColor);
    EXPECT_EQ(details.tableViewCell(0, 0)->textColor, themes.activeTheme().titleLabelColor);
    EXPECT_FALSE(details.tableViewCell(3, 0));
    EXPECT_EQ(details.tableViewCell(0, 2)->identifier, "");

    // Selecting a row brings its application forward and clears the selection.
    std::vector<int32_t> activated;
    details.activate = [&](const Applications::Process& p) { activated.push_back(p.pid); };
    details.tableView->selectRow(1);
    EXPECT_EQ(activated, (std::vector<int32_t>{details.apps[1].pid}));
    EXPECT_TRUE(details.tableView->selectionModel()->selectedRows().isEmpty());
    // From the keyboard: the arrows move between rows and bring nothing forward; Enter does.
    EXPECT_EQ(details.tableView->focusPolicy(), Qt::TabFocus);
    details.tableView->setCurrentCell(-1, -1);
    for (int key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Up}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(details.tableView, &press);
    }
    EXPECT_EQ(activated.size(), 1u);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(details.tableView, &enter);
    EXPECT_EQ(activated, (std::vector<int32_t>{details.apps[1].pid, details.apps[1].pid}));

    test::renderOnTheme(details.view(), Themes::light(), "cpu-details-light");
    themes.setActiveTheme(Themes::dark());
    EXPECT_EQ(details.tableView->item(0, 0)->foreground().color(), Themes::dark().titleLabelColor);
    EXPECT_EQ(details.temp->indicatorColor(), Themes::dark().controllerColor);
    EXPECT_EQ(textColorOf(details.cpuUser), Themes::dark().labelColor);
    test::renderOnTheme(details.view(), Themes::dark(), "cpu-details-dark");
}

// The graphics column: each listed application's share of the graphics processor from the DRM
// clients its processes hold (drm fdinfo of the graphics tree), present only while one holds any.
TEST_F(CPUViewTest, GraphicsColumnWhileAnApplicationHoldsTheGPURendered) {
    details.view();
    rankApplications();
    drmClient(1300, 5, std::pair{1000, 10000});
    drmClient(1200, 4, std::pair{500, 10000});
    machine.gpu->update();
    details.update();
    // One reading only: no share yet, no column.
    EXPECT_EQ(details.tableView->columnCount(), 2);
    drmClient(1300, 5, std::pair{1372, 11000});
    drmClient(1200, 4, std::pair{530, 11000});
    machine.gpu->update();
    details.update();
    ASSERT_EQ(details.tableView->columnCount(), 3);
    ASSERT_EQ(details.numberOfRows(), 3);
    const std::map<int32_t, QString> expected{
        {1300, "GPU\u00a037%"}, {1400, ""}, {1200, "GPU\u00a03%"}};
    for (int row = 0; row < 3; ++row) {
        const auto pid = details.apps[static_cast<size_t>(row)].pid;
        EXPECT_EQ(details.tableView->item(row, 2)->text(), expected.at(pid)) << pid;
        EXPECT_EQ(details.tableView->identifierAt(row, 2), "gpuid");
    }
    // Rendered with the desktop fixture's sensors where they can be read (as root, in a private
    // mount namespace), so that the column shows with the sensors section above it.
    System::Resources withSensors = machine.system->resources();
    if (::geteuid() == 0) {
        withSensors.sensors = std::make_shared<Sensors>(test::fixturePath("sensors-desktop"));
        withSensors.sensors->update();
    }
    System shownSystem(withSensors, {});
    CPUViewController shown(shownSystem, workspace, themes, store.defaults);
    shown.viewWillAppear();
    ASSERT_EQ(shown.tableView->columnCount(), 3);
    test::renderOnTheme(shown.view(), Themes::light(), "cpu-details-gpu-column-light");
    themes.setActiveTheme(Themes::dark());
    EXPECT_EQ(details.tableView->item(0, 2)->foreground().color(), Themes::dark().labelColor);
    test::renderOnTheme(shown.view(), Themes::dark(), "cpu-details-gpu-column-dark");
    shown.viewWillDisappear();

    // Both close their DRM files: the column goes.
    drmClient(1300, 5, std::nullopt);
    drmClient(1200, 4, std::nullopt);
    machine.gpu->update();
    details.update();
    EXPECT_EQ(details.tableView->columnCount(), 2);
    EXPECT_TRUE(details.prevGPU.empty());
}

// The sensors are read only while a view shows a temperature: with the panel open and no details,
// the production tasks leave them alone; the processor details read them while they are shown.
TEST_F(CPUViewTest, SensorsAreReadOnlyWhileTheProcessorDetailsShow) {
    std::atomic<int> reads{0};
    System::Resources resources;
    resources.cpu = machine.cpu;
    resources.mem = machine.mem;
    resources.apps = machine.apps;
    resources.gpu = machine.gpu;
    resources.sensors = std::make_shared<Sensors>(machine.tree.root, [&reads] {
        ++reads;
        return std::vector<platform::SensorChip>{};
    });
    System panel(resources, productionTaskSpecs(resources));
    ASSERT_EQ(reads, 1);  // the first sample, as the task is made
    panel.start(System::Group::all);
    // Two processor samples later (1.1 s apart; the sensors' would be 2 s), still that one read:
    // the sample after the ticks move shows a load, the one after it none.
    machine.tree.write("proc/stat",
                       "cpu  200000 500 30000 900000 2000 100 900 0 0 0\nbtime 1700000000\n");
    ASSERT_TRUE(test::waitUntil([&] { return machine.cpu->sample()->user > 0; }));
    ASSERT_TRUE(test::waitUntil([&] { return machine.cpu->sample()->user == 0; }));
    EXPECT_EQ(reads, 1);

    CPUViewController shown(panel, workspace, themes, store.defaults);
    shown.viewWillAppear();
    EXPECT_TRUE(test::waitUntil([&] { return reads >= 3; }, std::chrono::seconds(15)));
    shown.viewWillDisappear();
    for (const auto& task : panel.tasks()) {
        if (task->resource().type() == SystemResourceType::sensors) {
            EXPECT_EQ(task->status(), Timer::Status::suspended);
        }
    }
    panel.stop();
}

}  // namespace
}  // namespace vigil

namespace vigil {
namespace {

// The graphics lines on a machine with no graphics device, one, and two of other makers, with
// the figures each driver gives.
TEST(CPUViewGraphicsTest, NamesWhatIsKnownAndIsLeftOutWithoutIt) {
    test::qtApp();
    struct Case {
        const char* fixture;
        const char* text;
        const char* gallery;
    };
    const Case cases[] = {
        {"no-gpu", "", "cpu-details-no-gpu"},
        {"multi-socket", "ASPEED Technology, Inc. ASPEED Graphics Family", "cpu-details-one-gpu"},
        {"hybrid-amd-nvidia",
         "Advanced Micro Devices, Inc. [AMD/ATI] Cezanne [Radeon Vega Series / Radeon Vega Mobile "
         "Series] ·\u00a0integrated,\u00a0in\u00a0use\n"
         "37%\u00a0busy · 192\u00a0MB of 512\u00a0MB · 46° · 8.3\u00a0W\n"
         "NVIDIA Corporation GA106M [GeForce RTX 3060 Mobile / Max-Q] ·\u00a0discrete\n"
         "71%\u00a0busy · 1.50\u00a0GB of 6\u00a0GB · 63° · 42.5\u00a0W",
         "cpu-details-two-gpus"},
        {"intel-arc",
         "Intel Corporation Alder Lake-S GT1 [UHD Graphics 770] ·\u00a0integrated\n"
         "Intel Corporation DG2 [Arc A770] ·\u00a0discrete,\u00a0in\u00a0use",
         nullptr},
    };
    for (const Case& c : cases) {
        System::Resources resources;
        resources.cpu = std::make_shared<CPU>(test::fixturePath("no-gpu"));
        // NVIDIA's figures from the tests' stand-in for the driver's library.
        auto gpu = std::make_shared<GPU>(test::fixturePath(c.fixture), nullptr, VIGIL_NVML_STANDIN);
        gpu->update();
        resources.gpu = gpu;
        resources.mem = std::make_shared<Memory>(test::fixturePath("no-gpu"));
        Applications::Options options;
        options.interval = 0;
        resources.apps = std::make_shared<Applications>(options);
        System system(resources, {});
        resources.cpu->update();
        test::TempDefaults store;
        test::RecordingWorkspace workspace;
        ThemeManager themes(store.defaults);
        CPUViewController details(system, workspace, themes, store.defaults);
        details.viewWillAppear();
        EXPECT_EQ(details.gpuBrand->text().toStdString(), c.text) << c.fixture;
        EXPECT_EQ(details.gpuBrand->isHidden(), *c.text == '\0') << c.fixture;
        if (c.gallery) {
            test::renderOnTheme(details.view(), Themes::light(),
                                (std::string(c.gallery) + "-light").c_str());
            themes.setActiveTheme(Themes::dark());
            test::renderOnTheme(details.view(), Themes::dark(),
                                (std::string(c.gallery) + "-dark").c_str());
        }
    }
}

// This machine's figures, icons and applications, through the desktop's workspace.
TEST(CPUMemoryLiveTest, ThisMachineRendered) {
    test::qtApp();
    System::Resources resources;
    resources.cpu = std::make_shared<CPU>();
    resources.gpu = std::make_shared<GPU>();
    resources.mem = std::make_shared<Memory>();
    Applications::Options options;
    options.interval = 0;
    resources.apps = std::make_shared<Applications>(options);
    System system(resources, {});
    resources.cpu->update();
    resources.mem->update();
    resources.apps->update();
    test::TempDefaults store;
    ThemeManager themes(store.defaults);
    CPUViewController cpu(system, defaultWorkspace(), themes, store.defaults);
    MemoryViewController memory(system, defaultWorkspace(), themes, store.defaults);
    cpu.viewWillAppear();
    memory.viewWillAppear();
    EXPECT_GT(cpu.processes->text().toLongLong(), 0);
    EXPECT_FALSE(cpu.cpuBrand->text().isEmpty() && cpu.uptime->text().isEmpty());
    EXPECT_FALSE(memory.physicalMemory->text().isEmpty());
    test::renderOnTheme(cpu.view(), Themes::light(), "cpu-details-live");
    themes.setActiveTheme(Themes::dark());
    test::renderOnTheme(memory.view(), Themes::dark(), "memory-details-live");
}

// The processor's temperature under the thermometer, from the sensor chosen by rule on two fixture
// machines (read through libsensors with the tree mounted over /sys in a private mount namespace).
TEST(CPUViewSensorTest, TemperatureBesideTheThermalStateRendered) {
    if (::geteuid() != 0)
        GTEST_SKIP()
            << "reading a fixture's sensors needs root for a mount namespace (CI runs as root)";
    test::qtApp();
    struct Case {
        const char* fixture;
        const char* text;
        const char* source;
        const char* gallery;
        const Theme& theme;
    };
    const Case cases[] = {
        {"sensors-desktop", "45°", "coretemp-isa-0000/Package id 0", "cpu-details-sensor-light",
         Themes::light()},
        {"sensors-amd-laptop", "63°", "k10temp-pci-00c3/Tctl", "cpu-details-sensor-dark",
         Themes::dark()},
    };
    for (const Case& c : cases) {
        System::Resources resources;
        resources.cpu = std::make_shared<CPU>(test::fixturePath("no-gpu"));
        resources.gpu = std::make_shared<GPU>(test::fixturePath("no-gpu"));
        resources.mem = std::make_shared<Memory>(test::fixturePath("no-gpu"));
        Applications::Options options;
        options.interval = 0;
        resources.apps = std::make_shared<Applications>(options);
        resources.sensors = std::make_shared<Sensors>(test::fixturePath(c.fixture));
        System system(resources, {});
        resources.cpu->update();
        resources.sensors->update();
        test::TempDefaults store;
        test::RecordingWorkspace workspace;
        ThemeManager themes(store.defaults);
        themes.setActiveTheme(c.theme);
        CPUViewController details(system, workspace, themes, store.defaults);
        details.viewWillAppear();
        EXPECT_EQ(details.cpuTemperature->text().toStdString(), c.text) << c.fixture;
        EXPECT_EQ(details.cpuTemperature->toolTip().toStdString(), c.source);
        test::renderOnTheme(details.view(), c.theme, c.gallery);
        if (std::string(c.fixture) != "sensors-desktop")
            continue;

        // Picking another sensor in the settings is stored and followed at the next sample.
        SettingsViewController settings(themes, store.defaults, system);
        settings.viewWillAppear();
        QComboBox* box = settings.cpuSensorSettings;
        ASSERT_EQ(box->count(), 8);  // automatic, 3 coretemp, 2 nct6798 (one ignored), 2 nvme
        EXPECT_EQ(box->itemText(0).toStdString(), "Automatic");
        box->setCurrentIndex(box->findData(QStringLiteral("nct6798-isa-0290/CPUTIN")));
        settings.cpuSensorSettingsChanged();
        EXPECT_EQ(store.defaults.get(WidgetDefaultsKeys::cpuSensor()), "nct6798-isa-0290/CPUTIN");
        resources.sensors->update();
        details.update();
        EXPECT_EQ(details.cpuTemperature->text().toStdString(), "40°");
        test::renderOnTheme(settings.view(), Themes::light(), "settings-cpu-sensor-light");
        themes.setActiveTheme(Themes::dark());
        test::renderOnTheme(settings.view(), Themes::dark(), "settings-cpu-sensor-dark");
    }
    // A sensor at its chip's maximum outweighs cool thermal zones; none leaves the zones' state.
    using S = CPU::ThermalState;
    EXPECT_EQ(thermalStateWith(S::nominal, Sensors::CPUTemperature{"x", 81, 80.0, 100.0}),
              S::serious);
    EXPECT_EQ(thermalStateWith(S::nominal, Sensors::CPUTemperature{"x", 100, 80.0, 100.0}),
              S::critical);
    EXPECT_EQ(thermalStateWith(S::nominal, Sensors::CPUTemperature{"x", 71, 80.0, std::nullopt}),
              S::fair);
    EXPECT_EQ(thermalStateWith(S::serious, std::nullopt), S::serious);
}

}  // namespace
}  // namespace vigil
