#include <QImage>

#include "TodayViewControllerSupport.h"
#include "details/CPUViewController.h"
#include "details/DiskListViewController.h"
#include "details/MemoryViewController.h"
#include "details/NetworkListViewController.h"
#include "rows/FirstRowViewController.h"
#include "rows/FirstRowViewControllerWithBattery.h"
#include "rows/RowStyle.h"
#include "rows/SecondRowViewController.h"
#include "settings/WidgetDefaults.h"
#include "support/QtTestApp.h"
#include "system/Applications.h"
#include "system/Battery.h"
#include "system/CPU.h"
#include "system/Disk.h"
#include "system/Memory.h"
#include "system/Network.h"

namespace vigil {
namespace {

class RowTest : public test::QtTest {
  protected:
    test::WidgetMainQueue mainQueue;
};

const Theme& light() {
    return Themes::light();
}

TEST_F(RowTest, SecondRowWithoutConnectionReadsZeroAndKeepsTheListClosed) {
    test::WidgetMachine machine("power-no-battery", test::WidgetMachine::Connection::none);
    ASSERT_EQ(machine.system->net().connection(), Network::ConnectionType::none);
    SecondRowViewController row(machine.context());
    WidgetListViewController list;
    list.setContents({&row});
    machine.navigator->setList(list);

    row.update();
    EXPECT_EQ(row.upload()->text(), QStringLiteral("\u2191 0.0 KB/s"));
    EXPECT_EQ(row.download()->text(), QStringLiteral("0.0 KB/s \u2193"));
    EXPECT_EQ(row.netIndicator()->color(), light().dangerColor);

    test::click(*row.netStackView(), QPointF(20, 10));
    EXPECT_EQ(list.contents().size(), 1);

    // A list opened while connected closes at the next refresh once the connection is gone.
    machine.navigator->toggleSecondRow(row.networkListViewController());
    ASSERT_EQ(list.contents().size(), 2);
    row.update();
    EXPECT_EQ(list.contents(), QList<ViewController*>{&row});
    EXPECT_EQ(machine.defaults->get(WidgetDefaultsKeys::detailsView()), 0);
}

TEST_F(RowTest, SecondRowWithLocalConnectionShowsRatesAndOpensTheList) {
    test::WidgetMachine machine("power-no-battery", test::WidgetMachine::Connection::local);
    machine.setTraffic(2048, 1024);
    machine.system->net().update();
    ASSERT_EQ(machine.system->net().connection(), Network::ConnectionType::local);
    SecondRowViewController row(machine.context());
    WidgetListViewController list;
    list.setContents({&row});
    machine.navigator->setList(list);

    row.update();
    EXPECT_EQ(row.netIndicator()->color(), light().warningColor);
    EXPECT_EQ(row.upload()->text(), QStringLiteral("\u2191 1.0 KB/s"));
    EXPECT_EQ(row.download()->text(), QStringLiteral("2.0 KB/s \u2193"));

    test::click(*row.netStackView(), QPointF(20, 10));
    EXPECT_EQ(list.contents(), (QList<ViewController*>{&row, &row.networkListViewController()}));
    EXPECT_EQ(machine.defaults->get(WidgetDefaultsKeys::detailsView()), 5);
}

TEST_F(RowTest, BatteryRingColours) {
    const Theme& t = light();
    EXPECT_EQ(batteryRingColor(t, false, false, 25), t.successColor);
    EXPECT_EQ(batteryRingColor(t, false, false, 24), t.warningColor);
    EXPECT_EQ(batteryRingColor(t, false, false, 20), t.warningColor);
    EXPECT_EQ(batteryRingColor(t, false, false, 19), t.dangerColor);
    EXPECT_EQ(batteryRingColor(t, false, true, 5), t.infoColor);
    EXPECT_EQ(batteryRingColor(t, false, true, 90), t.infoColor);
    EXPECT_EQ(batteryRingColor(t, true, true, 100), t.successColor);
}

TEST_F(RowTest, BatteryRowShowsTheFixtureCharge) {
    test::WidgetMachine machine("power-discharging");
    ASSERT_TRUE(machine.system->battery().hasBattery());
    FirstRowViewControllerWithBattery row(machine.context());
    row.view();
    EXPECT_EQ(row.indicatorPositions(), (std::vector<double>{29.0, 94.0, 159.0, 222.0}));
    // The fixture's battery: 75 %, on battery, not full.
    EXPECT_DOUBLE_EQ(row.batteryCircle()->percent(), 75.0);
    EXPECT_EQ(row.batteryCircle()->color(), machine.themes->activeTheme().successColor);
    // Each gauge column sits over its indicator position.
    const QWidget* columns[] = {row.cpuStackView(), row.memoryStackView(), row.diskStackView(),
                                row.batteryStackView()};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(columns[i]->x() + columns[i]->width() / 2,
                  int(row.indicatorPositions()[size_t(i)]) + row.kIndicatorSize / 2)
            << i;
    }
    const auto* title = row.batteryStackView()->findChild<TitleField*>();
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(textColorOf(title), machine.themes->activeTheme().titleLabelColor);
    // The dark theme recolours the ring and the title too.
    machine.themes->setActiveTheme(Themes::dark());
    EXPECT_EQ(textColorOf(title), Themes::dark().titleLabelColor);
    EXPECT_EQ(row.batteryCircle()->color(), Themes::dark().successColor);
}

TEST_F(RowTest, FirstRowGaugesFollowTheResources) {
    test::WidgetMachine machine;
    FirstRowViewController row(machine.context());
    row.update();
    // this-machine's fixture: 5 % of its memory is in use. The processor's first sample depends on
    // when the task ran; the disk gauge shows the live root volume.
    EXPECT_DOUBLE_EQ(row.cpuChart()->percent(), machine.system->cpu().usage());
    EXPECT_EQ(row.cpuChart()->myLabel->text(),
              QString::asprintf("%.0f%%", std::round(machine.system->cpu().usage())));
    EXPECT_DOUBLE_EQ(row.memoryChart()->percent(), 5.0);
    EXPECT_EQ(row.memoryChart()->myLabel->text(), QStringLiteral("5%"));
    EXPECT_DOUBLE_EQ(row.diskChart()->percent(), double(machine.system->disk().usage()));

    // The theme's colours reach the gauges and the indicator.
    machine.themes->setActiveTheme(Themes::dark());
    EXPECT_EQ(row.cpuChart()->successColor(), Themes::dark().successColor);
    EXPECT_EQ(row.diskChart()->dangerColor(), Themes::dark().dangerColor);
    EXPECT_EQ(row.indicator()->color(), Themes::dark().controllerColor);
}

TEST_F(RowTest, SliderHidesWhileOnlyTheFirstRowIsShownAndNothingIsOpen) {
    test::WidgetMachine machine;
    machine.defaults->set(WidgetDefaultsKeys::widgetRows(), int64_t{1});
    FirstRowViewController row(machine.context());
    WidgetListViewController list;
    list.setContents({&row});
    machine.navigator->setList(list);
    EXPECT_TRUE(row.slider()->isHidden());

    test::click(*row.cpuStackView(), QPointF(30, 30));
    EXPECT_EQ(list.contents(), (QList<ViewController*>{&row, &row.cpuViewController()}));
    EXPECT_FALSE(row.slider()->isHidden());
    EXPECT_EQ(row.indicatorXPos(), 41.0);
    ASSERT_TRUE(test::qtWaitUntil([&] { return viewAlpha(*row.indicator()) == 1.0; }));

    test::click(*row.cpuStackView(), QPointF(30, 30));
    EXPECT_EQ(list.contents(), QList<ViewController*>{&row});
    EXPECT_TRUE(row.slider()->isHidden());
    ASSERT_TRUE(test::qtWaitUntil([&] { return viewAlpha(*row.indicator()) == 0.0; }));
}

TEST_F(RowTest, SwitchingToDiskStopsApplicationsAndSlidesTheIndicator) {
    test::WidgetMachine machine;
    FirstRowViewController row(machine.context());
    SecondRowViewController second(machine.context());
    WidgetListViewController list;
    list.setContents({&row, &second});
    machine.navigator->setList(list);

    row.toggleCPUView();
    machine.system->start(machine.system->apps());
    const auto appsRunning = [&] {
        for (const auto& task : machine.system->tasks()) {
            if (task->resource().type() == SystemResourceType::app)
                return task->status() == Timer::Status::started;
        }
        return false;
    };
    ASSERT_TRUE(appsRunning());

    row.toggleDiskView();
    EXPECT_EQ(list.contents(),
              (QList<ViewController*>{&row, &row.diskListViewController(), &second}));
    EXPECT_FALSE(appsRunning());
    ASSERT_NE(row.slideAnimation(), nullptr);
    EXPECT_EQ(row.slideAnimation()->duration(), 350);
    EXPECT_EQ(row.slideAnimation()->easingCurve(), easeOutCurve());
    EXPECT_EQ(viewAlpha(*row.indicator()), 1.0);
    EXPECT_EQ(row.indicatorXPos(), 210.0);
    ASSERT_TRUE(test::qtWaitUntil([&] { return row.indicator()->x() == 210; }));
    EXPECT_EQ(machine.defaults->get(WidgetDefaultsKeys::detailsView()), 3);

    // The collapse signal hides the dot at once.
    machine.navigator->collapse();
    EXPECT_EQ(viewAlpha(*row.indicator()), 0.0);
}

}  // namespace
}  // namespace vigil
