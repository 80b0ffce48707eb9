#include "TodayViewController.h"

#include <QEvent>
#include <QWindow>

#include <chrono>

#include "HostTestSupport.h"
#include "TodayViewControllerSupport.h"
#include "Updatable.h"
#include "details/BatteryViewController.h"
#include "details/CPUViewController.h"
#include "details/DiskListViewController.h"
#include "details/MemoryViewController.h"
#include "details/NetworkListViewController.h"
#include "host/PanelPlaceStore.h"
#include "host/PanelWindow.h"
#include "rows/FirstRowViewControllerWithBattery.h"
#include "rows/RowStyle.h"
#include "rows/SecondRowViewController.h"
#include "settings/SettingsViewController.h"
#include "settings/WidgetDefaults.h"
#include "support/QtTestApp.h"

namespace vigil {
namespace {

class TodayViewControllerTest : public test::QtTest {
  protected:
    test::WidgetMainQueue mainQueue;
};

using Rows = QList<ViewController*>;

TEST_F(TodayViewControllerTest, FirstStartWithAnEmptyStore) {
    test::WidgetMachine machine;
    TodayViewController today(machine.context());
    EXPECT_EQ(today.uiThread(), nullptr);
    today.view();

    WidgetListViewController& list = *today.listViewController();
    EXPECT_EQ(list.contents(), (Rows{&today.firstRow(), &today.secondRow()}));
    EXPECT_EQ(dynamic_cast<FirstRowViewControllerWithBattery*>(&today.firstRow()), nullptr);
    EXPECT_TRUE(machine.tasksRunning(true));
    EXPECT_EQ(&machine.navigator->list(), &list);
    EXPECT_EQ(machine.navigator->mainRows(), list.contents());
    ASSERT_NE(today.uiThread(), nullptr);
    EXPECT_EQ(today.uiThread()->status(), Timer::Status::started);
    EXPECT_DOUBLE_EQ(today.uiThread()->interval(), 1.1);
    EXPECT_EQ(list.minimumVisibleRowCount(), 4);
    EXPECT_FALSE(list.hasDividerLines());
    EXPECT_EQ(today.widgetMarginInsets(QMargins(5, 6, 7, 8)), QMargins());
    EXPECT_TRUE(today.widgetAllowsEditing());
    EXPECT_EQ(today.widgetListViewControllerForRow(1), &today.secondRow());
    EXPECT_EQ(today.widgetListViewControllerForRow(2), nullptr);
    std::optional<WidgetProviding::UpdateResult> result;
    today.widgetPerformUpdate([&](WidgetProviding::UpdateResult r) { result = r; });
    EXPECT_EQ(result, WidgetProviding::UpdateResult::newData);
}

TEST_F(TodayViewControllerTest, RowsAndRememberedDetailsFromTheStore) {
    {
        // Disk details belong to the first row, which is not shown.
        test::WidgetMachine machine;
        machine.defaults->set(WidgetDefaultsKeys::widgetRows(), int64_t{2});
        machine.defaults->set(WidgetDefaultsKeys::detailsView(), int64_t{3});
        TodayViewController today(machine.context());
        today.view();
        EXPECT_EQ(today.listViewController()->contents(), Rows{&today.secondRow()});
        for (const auto& task : machine.system->tasks()) {
            EXPECT_EQ(task->status() == Timer::Status::started,
                      task->group() == System::Group::network && !task->delayed())
                << toString(task->resource().type());
        }
    }
    {
        // No connection: the network details stay closed.
        test::WidgetMachine machine;
        machine.defaults->set(WidgetDefaultsKeys::widgetRows(), int64_t{0});
        machine.defaults->set(WidgetDefaultsKeys::detailsView(), int64_t{5});
        TodayViewController today(machine.context());
        today.view();
        EXPECT_EQ(today.listViewController()->contents(),
                  (Rows{&today.firstRow(), &today.secondRow()}));
    }
    {
        test::WidgetMachine machine("power-no-battery", test::WidgetMachine::Connection::local);
        machine.system->net().update();
        machine.defaults->set(WidgetDefaultsKeys::detailsView(), int64_t{5});
        TodayViewController today(machine.context());
        today.view();
        EXPECT_EQ(today.listViewController()->contents(),
                  (Rows{&today.firstRow(), &today.secondRow(),
                        &today.secondRow().networkListViewController()}));
    }
    {
        // Out of range, and the memory details with only the first row.
        test::WidgetMachine machine;
        machine.defaults->set(WidgetDefaultsKeys::widgetRows(), int64_t{7});
        machine.defaults->set(WidgetDefaultsKeys::detailsView(), int64_t{9});
        TodayViewController today(machine.context());
        today.view();
        EXPECT_EQ(today.listViewController()->contents().size(), 2);
        EXPECT_TRUE(machine.tasksRunning(true));
    }
    {
        // The memory details under the only row.
        test::WidgetMachine machine;
        machine.defaults->set(WidgetDefaultsKeys::widgetRows(), int64_t{1});
        machine.defaults->set(WidgetDefaultsKeys::detailsView(), int64_t{2});
        TodayViewController today(machine.context());
        today.view();
        EXPECT_EQ(today.listViewController()->contents(),
                  (Rows{&today.firstRow(), &today.firstRow().memoryViewController()}));
        EXPECT_EQ(today.firstRow().indicatorXPos(), 127.0);
        EXPECT_FALSE(today.firstRow().slider()->isHidden());
        // The system group, and the applications that the memory details start.
        for (const auto& task : machine.system->tasks()) {
            const bool app = task->resource().type() == SystemResourceType::app;
            EXPECT_EQ(task->status() == Timer::Status::started,
                      app || (task->group() == System::Group::system && !task->delayed()))
                << toString(task->resource().type());
        }
    }
}

TEST_F(TodayViewControllerTest, BatteryGaugeOnlyWhereThereIsABattery) {
    {
        test::WidgetMachine machine("power-no-battery");
        machine.defaults->set(WidgetDefaultsKeys::detailsView(), int64_t{4});
        TodayViewController today(machine.context());
        today.view();
        EXPECT_EQ(dynamic_cast<FirstRowViewControllerWithBattery*>(&today.firstRow()), nullptr);
        EXPECT_EQ(today.listViewController()->contents().size(), 2);
        EXPECT_EQ(today.firstRow().indicatorPositions().size(), 3u);
    }
    {
        test::WidgetMachine machine("power-discharging");
        machine.defaults->set(WidgetDefaultsKeys::detailsView(), int64_t{4});
        TodayViewController today(machine.context());
        today.view();
        auto* row = dynamic_cast<FirstRowViewControllerWithBattery*>(&today.firstRow());
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(today.listViewController()->contents(),
                  (Rows{row, &row->batteryViewController(), &today.secondRow()}));
        EXPECT_EQ(row->indicatorXPos(), 222.0);
    }
}

TEST_F(TodayViewControllerTest, EditingCollapsesStopsAndComesBack) {
    test::WidgetMachine machine;
    TodayViewController today(machine.context());
    today.view();
    today.firstRow().toggleDiskView();
    ASSERT_EQ(today.listViewController()->contents().size(), 3);
    int collapses = 0;
    Trackable owner;
    machine.navigator->onCollapse.listen(owner, [&] { ++collapses; });

    today.widgetDidBeginEditing();
    EXPECT_EQ(collapses, 1);
    EXPECT_EQ(today.listViewController()->contents(), Rows{&today.settings()});
    EXPECT_EQ(today.uiThread()->status(), Timer::Status::suspended);
    EXPECT_TRUE(machine.tasksRunning(false, true));
    EXPECT_EQ(viewAlpha(*today.firstRow().indicator()), 0.0);
    // The settings view forgets the open detail view when it appears, and may change the rows.
    EXPECT_EQ(machine.defaults->get(WidgetDefaultsKeys::detailsView()), 0);
    machine.defaults->set(WidgetDefaultsKeys::widgetRows(), int64_t{2});

    today.widgetDidEndEditing();
    EXPECT_EQ(today.listViewController()->contents(), Rows{&today.secondRow()});
    EXPECT_EQ(machine.navigator->mainRows(), Rows{&today.secondRow()});
    EXPECT_EQ(today.uiThread()->status(), Timer::Status::started);

    // What is stored when editing ends opens again.
    today.widgetDidBeginEditing();
    machine.defaults->set(WidgetDefaultsKeys::widgetRows(), int64_t{0});
    machine.defaults->set(WidgetDefaultsKeys::detailsView(), int64_t{3});
    today.widgetDidEndEditing();
    EXPECT_EQ(
        today.listViewController()->contents(),
        (Rows{&today.firstRow(), &today.firstRow().diskListViewController(), &today.secondRow()}));
    EXPECT_EQ(today.uiThread()->status(), Timer::Status::started);
    EXPECT_TRUE(machine.tasksRunning(true));
}

// A row that records the order of its updates.
class RecordingRow : public test::TestRow, public Updatable {
  public:
    RecordingRow(QString name, std::vector<QString>& log) : TestRow(name), name_(name), log_(log) {}
    void update() override { log_.push_back(name_); }

  private:
    QString name_;
    std::vector<QString>& log_;
};

TEST_F(TodayViewControllerTest, RefreshTickUpdatesUpdatableRowsInOrder) {
    test::WidgetMachine machine;
    TodayViewController today(machine.context());
    today.view();
    std::vector<QString> log;
    RecordingRow a(QStringLiteral("a"), log), b(QStringLiteral("b"), log);
    test::TestRow plain(QStringLiteral("plain"));
    today.listViewController()->setContents({&b, &plain, &today.settings(), &a});
    today.refresh();
    EXPECT_EQ(log, (std::vector<QString>{"b", "a"}));

    // The timer ticks on the main queue about every 1.1 s.
    log.clear();
    ASSERT_TRUE(test::qtWaitUntil([&] { return log.size() >= 4; }, std::chrono::seconds(15)));
    EXPECT_EQ(log[0], "b");
    EXPECT_EQ(log[1], "a");
    today.listViewController()->setContents({});
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
  public:
    int count = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

TEST_F(TodayViewControllerTest, HiddenPanelPausesTheRowsWhileSamplingGoesOn) {
    test::WidgetMachine machine("power-no-battery", test::WidgetMachine::Connection::local);
    machine.setTraffic(1000, 500);
    TodayViewController today(machine.context());
    today.view();
    MemoryPanelPlaceStore places;
    PanelWindow panel(today, places);
    panel.setPanelVisible(true);
    ASSERT_TRUE(test::qtWaitUntil(
        [&] { return panel.windowHandle() && panel.windowHandle()->isExposed(); }));
    std::vector<QString> log;
    RecordingRow recording(QStringLiteral("recording"), log);
    today.listViewController()->setContents({&today.firstRow(), &recording});
    PaintCounter paints;
    today.firstRow().view()->installEventFilter(&paints);
    today.tick();
    EXPECT_FALSE(log.empty());
    ASSERT_TRUE(test::qtWaitUntil([&] { return paints.count > 0; }));

    panel.setPanelVisible(false);
    EXPECT_TRUE(today.isPaused());
    log.clear();
    paints.count = 0;
    const int64_t before = machine.system->net().aggregated().ibytes;
    today.tick();
    // The network is sampled on (its counters grow), while neither these ticks nor the timer's
    // touch the rows.
    ASSERT_TRUE(
        test::qtWaitUntil([&] { return machine.system->net().aggregated().ibytes > before + 2000; },
                          std::chrono::seconds(20)));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(paints.count, 0);
    EXPECT_TRUE(machine.tasksRunning(true));

    // Shown again: redrawn at once, not at the next tick.
    panel.setPanelVisible(true);
    EXPECT_FALSE(today.isPaused());
    EXPECT_EQ(log, std::vector<QString>{QStringLiteral("recording")});
    EXPECT_TRUE(test::qtWaitUntil([&] { return paints.count > 0; }));
    today.listViewController()->setContents({});
}

}  // namespace
}  // namespace vigil
