#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>

#include "AlertOpenHandler.h"
#include "HostTestSupport.h"
#include "TodayViewController.h"
#include "TodayViewControllerSupport.h"
#include "Vigil_Today/CPUMemoryTestSupport.h"
#include "details/AlertBanner.h"
#include "details/BatteryViewController.h"
#include "details/CPUViewController.h"
#include "details/DiskListViewController.h"
#include "details/MemoryViewController.h"
#include "details/SensorsSection.h"
#include "host/PanelWindow.h"
#include "rows/FirstRowViewController.h"
#include "rows/FirstRowViewControllerWithBattery.h"
#include "settings/AlertRulesSection.h"
#include "settings/SettingsViewController.h"
#include "settings/WidgetDefaults.h"
#include "support/AlertsDriver.h"
#include "support/SessionBus.h"
#include "support/TempFolder.h"
#include "system/Alerts.h"
#include "system/Disk.h"
#include "system/Sensors.h"
#include "ui/Bar.h"

#include <unistd.h>

#include <mutex>

namespace vigil {
namespace {

using namespace std::chrono_literals;

class AlertViewsTest : public test::QtTest {
  protected:
    test::WidgetMainQueue mainQueue;
};

void pressKey(int key) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr) << "no widget has the keyboard focus";
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

QString spokenName(QWidget* view) {
    return QAccessible::queryAccessibleInterface(view)->text(QAccessible::Name);
}

AlertRuleConfig storedRule(Defaults& defaults, AlertKind kind) {
    for (const AlertRuleConfig& rule : alertRules(defaults)) {
        if (rule.kind == kind)
            return rule;
    }
    return defaultAlertRule(kind);
}

AlertFigures machineFigures(const Disk::Volume& root, double busy, double available,
                            int64_t volumeAvailablePercent, int64_t battery) {
    AlertFigures figures;
    figures.processorBusy = busy;
    figures.memoryAvailable = available;
    figures.volumes.push_back(
        {root.path, root.name, root.total / 100 * volumeAvailablePercent, root.total});
    figures.battery = AlertFigures::Battery{battery, true};
    return figures;
}

// The Alerts section of the settings, used as a person would: from the keyboard, by name, with
// levels that must not cross; what it stores is what the alerts read, and it looks right in both
// themes.
TEST_F(AlertViewsTest, SettingsListEveryRuleAndStoreLevelsThatNeverCross) {
    test::WidgetMachine machine;
    Defaults& defaults = *machine.defaults;
    AlertRuleConfig swap = defaultAlertRule(AlertKind::swapFilling);
    swap.warnLevel = 50;
    swap.clearLevel = 30;
    swap.minDuration = std::chrono::seconds(300);
    setAlertRules({swap}, defaults);

    test::AlertsDriver source(defaults);
    TodayViewController today(
        {*machine.system, *machine.navigator, defaults, *machine.themes, *source.alerts});
    today.view();
    MemoryPanelPlaceStore places;
    PanelWindow panel(today, places);
    panel.setPanelVisible(true);
    panel.activateWindow();
    panel.beginEditing();
    AlertRulesSection& section = *today.settings().alertRules;

    ASSERT_EQ(section.rules().size(), allAlertKinds().size());
    const auto& busy = section.controls(AlertKind::processorBusy);
    EXPECT_EQ(busy.enabled->text(), QStringLiteral("Processor busy"));
    EXPECT_TRUE(busy.enabled->isChecked());
    EXPECT_EQ(busy.warnLevel->value(), 90);
    EXPECT_EQ(busy.clearLevel->value(), 70);
    EXPECT_EQ(busy.warnLevel->text(), QStringLiteral("90\u00a0%"));
    EXPECT_EQ(section.controls(AlertKind::swapFilling).warnLevel->value(), 50);
    EXPECT_EQ(section.controls(AlertKind::temperatureHigh).warnLevel->suffix(),
              QStringLiteral("\u00a0°C below"));
    EXPECT_EQ(section.controls(AlertKind::volumeFillingFast).clearLevel->suffix(),
              QStringLiteral("\u00a0minutes"));
    EXPECT_EQ(section.controls(AlertKind::driveHealth).warnLevel, nullptr);

    // Tab walks a rule's switch, its two levels and its "back to normal" choice, each named
    // for a screen reader after the rule.
    busy.enabled->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(test::qtWaitUntil([&] { return busy.enabled->hasFocus(); }));
    pressKey(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), busy.warnLevel.data());
    EXPECT_EQ(spokenName(busy.warnLevel), QStringLiteral("Processor busy, warning level"));
    pressKey(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), busy.clearLevel.data());
    pressKey(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), busy.notifyCleared.data());
    EXPECT_EQ(spokenName(busy.notifyCleared),
              QStringLiteral("Processor busy: tell me when it is back to normal"));
    pressKey(Qt::Key_Space);
    EXPECT_TRUE(storedRule(defaults, AlertKind::processorBusy).notifyCleared);

    // A warning level moved past the clear level pushes it along, on its side of the warning
    // level: below for a rule that fires above, above for one that fires below.
    busy.warnLevel->setValue(60);
    EXPECT_EQ(busy.clearLevel->value(), 59);
    const auto& memory = section.controls(AlertKind::memoryLow);
    memory.warnLevel->setValue(20);
    EXPECT_EQ(memory.clearLevel->value(), 21);
    memory.clearLevel->setValue(5);  // refused: clamped to just above the warning level
    EXPECT_EQ(memory.clearLevel->value(), 21);
    memory.enabled->click();
    EXPECT_FALSE(memory.notifyCleared->isEnabled());

    const AlertRuleConfig storedBusy = storedRule(defaults, AlertKind::processorBusy);
    EXPECT_EQ(storedBusy.warnLevel, 60);
    EXPECT_EQ(storedBusy.clearLevel, 59);
    const AlertRuleConfig storedMemory = storedRule(defaults, AlertKind::memoryLow);
    EXPECT_FALSE(storedMemory.enabled);
    EXPECT_EQ(storedMemory.warnLevel, 20);
    EXPECT_EQ(storedMemory.clearLevel, 21);
    // The alerts read the new levels at once: 65 % busy is past the warning level now.
    AlertFigures busyAt65;
    busyAt65.processorBusy = 65;
    source.hold(busyAt65, 3min);
    EXPECT_TRUE(source.alerts->firing(AlertKind::processorBusy));
    // What the view does not show is kept.
    EXPECT_EQ(storedRule(defaults, AlertKind::swapFilling).minDuration, std::chrono::seconds(300));

    // Shown again, the view reads back what is stored.
    panel.endEditing();
    setAlertRules({defaultAlertRule(AlertKind::processorBusy)}, defaults);
    panel.beginEditing();
    EXPECT_EQ(busy.warnLevel->value(), 90);
    EXPECT_EQ(busy.clearLevel->value(), 70);

    // The settings as the panel shows them: the whole list, at the panel's width.
    for (const Themes* theme : {&Themes::light(), &Themes::dark()}) {
        machine.themes->setActiveTheme(*theme);
        test::settleAnimations(panel);
        QCoreApplication::processEvents();
        EXPECT_EQ(textColorOf(busy.enabled), theme->labelColor);
        QWidget& list = *panel.scrollArea()->widget();
        EXPECT_LE(list.width(), PanelWindow::kWidth);
        const QString path =
            QDir(test::galleryDir("Vigil_Today"))
                .filePath(theme->isDark ? "alert-settings-dark.png" : "alert-settings-light.png");
        EXPECT_TRUE(test::render(list).save(path)) << path.toStdString();
        std::printf("gallery: %s\n", qPrintable(path));
    }
    panel.endEditing();
    panel.hide();
}

// A busy, short-of-memory machine whose root volume is almost full and whose battery runs out:
// each gauge turns to the danger colour and each view says which rule fired and since when;
// when the figures come back, so do the colours, and the views lose the line and its room.
TEST_F(AlertViewsTest, FiringRulesColourTheGaugesAndHeadTheirViews) {
    test::WidgetMachine machine("power-discharging", test::WidgetMachine::Connection::local);
    test::AlertsDriver source(*machine.defaults);
    WidgetContext context{*machine.system, *machine.navigator, *machine.defaults, *machine.themes,
                          *source.alerts};
    TodayViewController today(context);
    today.view();
    MemoryPanelPlaceStore places;
    PanelWindow panel(today, places);
    panel.setPanelVisible(true);
    auto* row = dynamic_cast<FirstRowViewControllerWithBattery*>(&today.firstRow());
    ASSERT_NE(row, nullptr);
    const auto root = machine.system->disk().HD();
    ASSERT_TRUE(root && root->total > 0);
    const Theme& theme = machine.themes->activeTheme();

    row->toggleCPUView();
    today.refresh();
    CPUViewController& cpu = row->cpuViewController();
    EXPECT_TRUE(cpu.alertBanner->isHidden());
    QCoreApplication::processEvents();
    const int quietHeight = cpu.view()->sizeHint().height();

    source.hold(machineFigures(*root, 97, 5, 1, 4), std::chrono::minutes(3));
    today.refresh();
    EXPECT_TRUE(row->cpuChart()->alarmed());
    EXPECT_EQ(row->cpuChart()->color(), theme.dangerColor);
    EXPECT_TRUE(row->memoryChart()->alarmed());
    EXPECT_TRUE(row->diskChart()->alarmed());
    EXPECT_EQ(row->batteryCircle()->color(), theme.dangerColor);
    EXPECT_FALSE(cpu.alertBanner->isHidden());
    EXPECT_TRUE(
        cpu.alertBanner->text().startsWith(QStringLiteral("Processor busy above 90 % since ")))
        << cpu.alertBanner->text().toStdString();
    EXPECT_EQ(textColorOf(cpu.alertBanner), theme.dangerColor);
    for (const Themes* shown : {&Themes::light(), &Themes::dark()}) {
        machine.themes->setActiveTheme(*shown);
        test::settleAnimations(panel);
        panel.fitToContents();
        QCoreApplication::processEvents();
        EXPECT_EQ(textColorOf(cpu.alertBanner), shown->dangerColor);
        const QString path =
            QDir(test::galleryDir("Vigil_Today"))
                .filePath(shown->isDark ? "alert-cpu-dark.png" : "alert-cpu-light.png");
        EXPECT_TRUE(test::render(panel).save(path)) << path.toStdString();
        std::printf("gallery: %s\n", qPrintable(path));
    }
    machine.themes->setActiveTheme(Themes::light());

    row->toggleMEMView();
    today.refresh();
    EXPECT_TRUE(row->memoryViewController().alertBanner->text().startsWith(
        QStringLiteral("Memory available below 10 % since ")));

    row->toggleDiskView();
    today.refresh();
    int volumesWithAlert = 0;
    for (const auto& volume : row->diskListViewController().contents()) {
        const bool isRoot = volume->volume.path == root->path;
        volumesWithAlert += volume->alertBanner->isHidden() ? 0 : 1;
        EXPECT_EQ(volume->alertBanner->isHidden(), !isRoot) << volume->volume.path;
        if (isRoot) {
            EXPECT_TRUE(volume->alertBanner->text().startsWith(QStringLiteral("Less than ")));
            EXPECT_EQ(volume->used->color(), Themes::light().dangerColor);
            // The dark theme draws the bar in one colour, but for an alert.
            machine.themes->setActiveTheme(Themes::dark());
            EXPECT_EQ(volume->used->color(), Themes::dark().dangerColor);
            machine.themes->setActiveTheme(Themes::light());
        }
    }
    EXPECT_EQ(volumesWithAlert, 1);
    const QString disksPath =
        QDir(test::galleryDir("Vigil_Today")).filePath("alert-disk-light.png");
    panel.fitToContents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(test::render(panel).save(disksPath));
    std::printf("gallery: %s\n", qPrintable(disksPath));

    row->toggleBatteryView();
    today.refresh();
    BatteryViewController& battery = row->batteryViewController();
    EXPECT_TRUE(battery.alertBanner->text().startsWith(QStringLiteral("Battery at or below 10 %")));

    // Back to normal: the colours follow the figures again, the lines go with their room.
    source.hold(machineFigures(*root, 20, 60, 50, 80), std::chrono::minutes(1));
    today.refresh();
    EXPECT_TRUE(battery.alertBanner->isHidden());
    EXPECT_FALSE(row->cpuChart()->alarmed());
    EXPECT_NE(row->cpuChart()->color(), theme.dangerColor);
    EXPECT_FALSE(row->memoryChart()->alarmed());
    EXPECT_FALSE(row->diskChart()->alarmed());
    row->toggleCPUView();
    today.refresh();
    QCoreApplication::processEvents();
    EXPECT_TRUE(cpu.alertBanner->isHidden());
    EXPECT_EQ(cpu.view()->sizeHint().height(), quietHeight);
    panel.hide();
}

// The processor's sensor and a drive's near their critical limits: the processor view says so at
// its top, the sensors section names the drive's sensor and shows its reading in the danger colour.
TEST_F(AlertViewsTest, TemperatureAlertsHeadTheProcessorViewAndMarkTheirSensor) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "reading a sensors fixture needs root (a private mount namespace)";
    test::FixtureMachine machine;
    test::TempDefaults store;
    test::RecordingWorkspace workspace;
    ThemeManager themes{store.defaults};
    System::Resources resources = machine.system->resources();
    resources.sensors = std::make_shared<Sensors>(test::fixturePath("sensors-desktop"));
    resources.sensors->update();
    System system(resources, {});
    test::AlertsDriver source(store.defaults);
    AlertFigures hot;
    hot.temperatures = {{"coretemp-isa-0000/Package id 0", "Package id 0", 97, 100, 100},
                        {"nvme-pci-0100/Composite", "Composite", 83, 81.85, 84.85}};
    source.hold(hot, 1min);

    CPUViewController cpu(system, workspace, themes, store.defaults);
    cpu.alerts = source.alerts.get();
    cpu.viewWillAppear();
    EXPECT_TRUE(cpu.alertBanner->text().startsWith(
        QStringLiteral("Package id 0: within 5 °C of its critical limit")))
        << cpu.alertBanner->text().toStdString();
    SensorsSection& sensors = *cpu.sensorsSection;
    EXPECT_TRUE(sensors.alertBanner->text().startsWith(QStringLiteral("Composite: within 5 °C")))
        << sensors.alertBanner->text().toStdString();
    EXPECT_FALSE(sensors.alertBanner->text().contains(QStringLiteral("Package id 0")));
    const auto reading = [&](const char* id) {
        return sensors.findChild<QLabel*>(QString::fromLatin1(id));
    };
    ASSERT_NE(reading("nvme-pci-0100/Composite"), nullptr);
    EXPECT_EQ(textColorOf(reading("nvme-pci-0100/Composite")), Themes::light().dangerColor);
    EXPECT_EQ(textColorOf(reading("nct6798-isa-0290/SYSTIN")), Themes::light().labelColor);
    test::renderOnTheme(cpu.view(), Themes::light(), "alert-sensors-light");
    themes.setActiveTheme(Themes::dark());
    EXPECT_EQ(textColorOf(reading("nvme-pci-0100/Composite")), Themes::dark().dangerColor);
    test::renderOnTheme(cpu.view(), Themes::dark(), "alert-sensors-dark");

    // Cooled down past the clear levels.
    hot.temperatures[0].celsius = 60;
    hot.temperatures[1].celsius = 40;
    source.hold(hot, 1min);
    cpu.update();
    EXPECT_TRUE(cpu.alertBanner->isHidden());
    EXPECT_TRUE(sensors.alertBanner->isHidden());
    EXPECT_EQ(textColorOf(reading("nvme-pci-0100/Composite")), Themes::dark().labelColor);
    cpu.viewWillDisappear();
}

// The notification's "Open": the panel shows (out of the settings too) with the view that tells
// of the rule, a volume's alert with that volume's own view in sight.
TEST_F(AlertViewsTest, OpenShowsThePanelWithTheRulesView) {
    test::WidgetMachine machine;
    TodayViewController today(machine.context());
    today.view();
    MemoryPanelPlaceStore places;
    PanelWindow panel(today, places);
    const Alerts::OpenHandler open = alertOpenHandler(panel, today);
    FirstRowViewController& row = today.firstRow();
    NavigationController& navigator = *machine.navigator;

    open(AlertKind::temperatureHigh, "coretemp-isa-0000/Package id 0");
    EXPECT_TRUE(panel.isVisible());
    EXPECT_TRUE(navigator.isVisible(&row.cpuViewController()));
    open(AlertKind::processorBusy, "");  // already open: stays open
    EXPECT_TRUE(navigator.isVisible(&row.cpuViewController()));

    panel.hide();
    panel.beginEditing();
    open(AlertKind::swapFilling, "");
    EXPECT_TRUE(panel.isVisible());
    EXPECT_FALSE(panel.isEditing());
    EXPECT_TRUE(navigator.isVisible(&row.memoryViewController()));

    const auto volumes = machine.system->disk().volumes();
    ASSERT_FALSE(volumes.empty());
    const Disk::Volume& last = std::prev(volumes.end())->second;
    open(AlertKind::volumeLow, last.path);
    DiskListViewController& disks = row.diskListViewController();
    EXPECT_TRUE(navigator.isVisible(&disks));
    DiskViewController* shown = nullptr;
    for (const auto& view : disks.contents()) {
        if (view->volume.path == last.path)
            shown = view.get();
    }
    ASSERT_NE(shown, nullptr);
    // The view brought into sight is the volume's own; a drive that holds no listed volume leaves
    // the whole list in sight.
    EXPECT_EQ(today.showAlertDetails(AlertKind::volumeFillingFast, last.path), shown->view());
    EXPECT_EQ(today.showAlertDetails(AlertKind::driveHealth, "sdzz"), disks.view());
    EXPECT_TRUE(navigator.isVisible(&disks));
    // Without the first row there is no detail view to open; the panel shows all the same.
    panel.hide();
    machine.defaults->set(WidgetDefaultsKeys::widgetRows(), rawValue(WidgetRowsDefaults::network));
    panel.beginEditing();
    open(AlertKind::memoryLow, "");
    EXPECT_TRUE(panel.isVisible());
    EXPECT_FALSE(navigator.isVisible(&row.memoryViewController()));
    panel.hide();
}

// The whole way from a person's click: the notification server sends "open", the alerts call
// the program's handler on the main queue, the panel shows the memory view.
TEST_F(AlertViewsTest, OpenClickedOnTheNotificationShowsTheMemoryView) {
    test::PrivateBus bus;
    if (!bus.started())
        GTEST_SKIP() << "dbus-daemon could not be started (apt-get install dbus-daemon)";
    test::NotificationServer server(bus.address());
    ASSERT_TRUE(server.ready());
    test::WidgetMachine machine;
    test::AlertsDriver source(*machine.defaults, bus.address());
    TodayViewController today(
        {*machine.system, *machine.navigator, *machine.defaults, *machine.themes, *source.alerts});
    today.view();
    MemoryPanelPlaceStore places;
    PanelWindow panel(today, places);
    source.alerts->setOpenHandler(alertOpenHandler(panel, today));

    AlertFigures low;
    low.memoryAvailable = 5;
    source.hold(low, 70s);
    ASSERT_TRUE(test::qtWaitUntil([&] { return !server.received().empty(); }));
    EXPECT_FALSE(panel.isVisible());
    server.invokeAction(server.received().front().id, "open");
    EXPECT_TRUE(test::qtWaitUntil([&] {
        return panel.isVisible() &&
               machine.navigator->isVisible(&today.firstRow().memoryViewController());
    }));
    source.alerts->setOpenHandler(nullptr);
    panel.hide();
}

}  // namespace
}  // namespace vigil
