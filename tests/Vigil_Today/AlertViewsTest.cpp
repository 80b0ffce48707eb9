#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>

#include "AlertOpenHandler.h"
#include "HostTestSupport.h"
#include "TodayViewController.h"
#include "TodayViewControllerSupport.h"
#include "Vigil_Today/CPUMemoryTestSupport.h"
#include "details/CPUViewController.h"
#include "details/DiskListViewController.h"
#include "details/MemoryViewController.h"
#include "host/PanelWindow.h"
#include "rows/FirstRowViewController.h"
#include "settings/AlertRulesSection.h"
#include "settings/SettingsViewController.h"
#include "system/Alerts.h"
#include "system/Disk.h"

namespace vigil {
namespace {

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

    TodayViewController today(machine.context());
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
              QStringLiteral("\u00a0°C"));
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
    QScrollArea* scroll = panel.scrollArea();
    const QPoint top = shown->view()->mapTo(scroll->widget(), QPoint(0, 0));
    const int scrolled = scroll->verticalScrollBar()->value();
    EXPECT_GE(top.y() + shown->view()->height(), scrolled);
    EXPECT_LE(top.y(), scrolled + scroll->viewport()->height());
    panel.hide();
}

}  // namespace
}  // namespace vigil
