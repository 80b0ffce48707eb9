// The battery details over the power-supply fixture machines: power states and their rows,
// figures and formats, health and temperature colours, the temperature unit, and the redraw on
// every change of the battery.

#include <QApplication>
#include <QMenu>

#include <filesystem>
#include <fstream>
#include <vector>

#include "Vigil_Today/DiskNetworkBatterySupport.h"
#include "details/BatteryViewController.h"
#include "settings/Defaults.h"
#include "support/QtTestApp.h"
#include "support/TempFolder.h"
#include "support/TestSupport.h"
#include "system/Battery.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"
#include "views/CallbackStackView.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

// A writable copy of a fixture machine with its battery resource in a System of its own.
class PowerMachine {
  public:
    // `without`: files ("BAT0/temp") taken out of the copy before the battery is first read.
    explicit PowerMachine(const std::string& scenario, double reread = 0,
                          const std::vector<std::string>& without = {}) {
        char pattern[] = "/tmp/vigil-batteryview-XXXXXX";
        root_ = ::mkdtemp(pattern);
        fs::copy(test::fixturePath(scenario), root_,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        for (const std::string& file : without)
            fs::remove(root_ + "/sys/class/power_supply/" + file);
        Battery::Options options;
        options.root = root_;
        options.watchKernel = false;
        options.rereadInterval = reread;
        battery = std::make_shared<Battery>(options);
        System::Resources resources;
        resources.battery = battery;
        system = std::make_unique<System>(resources, std::vector<System::TaskSpec>{});
    }
    ~PowerMachine() {
        system.reset();
        battery.reset();
        fs::remove_all(root_);
    }
    void write(const std::string& supply, const std::string& attribute, const std::string& value) {
        std::ofstream(root_ + "/sys/class/power_supply/" + supply + "/" + attribute)
            << value << "\n";
    }

    std::shared_ptr<Battery> battery;
    std::unique_ptr<System> system;

  private:
    std::string root_;
};

class BatteryDetailsTest : public test::QtTest {
  protected:
    void SetUp() override {
        test::QtTest::SetUp();
        defaults = std::make_unique<Defaults>("battery-details-test", folder.path());
        themes = std::make_unique<ThemeManager>(*defaults);
    }
    static QColor textColor(QLabel* label) { return label->palette().color(QPalette::WindowText); }

    test::TempFolder folder;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<ThemeManager> themes;
};

TEST_F(BatteryDetailsTest, DischargingShowsThePowerDrawAndTheFigures) {
    PowerMachine machine("power-discharging");
    BatteryViewController details(machine.system.get(), defaults.get(), themes.get());
    details.view();
    details.viewWillAppear();
    EXPECT_EQ(details.status->text(), "Discharging");
    EXPECT_FALSE(details.remainingStack->isHidden());
    EXPECT_TRUE(details.powerAdapterRow->isHidden());
    EXPECT_FALSE(details.powerUsageRow->isHidden());
    // 11.4 V at -1.5 A: 17.1 W drawn, shown as a positive whole number.
    EXPECT_EQ(details.watts->text(), "17 W");
    EXPECT_EQ(details.percent->text(), "75%");
    EXPECT_DOUBLE_EQ(details.percentBar->percent(), 75.0);
    EXPECT_EQ(details.remaining->text(), QString::fromStdString(machine.battery->timeRemaining()));
    EXPECT_EQ(details.health->text(), "80%");
    EXPECT_EQ(textColor(details.health), FUIColor::turquoise());
    // The kernel reports no design cycle count: no "of 0".
    ASSERT_EQ(machine.battery->designCycleCount(), std::nullopt);
    EXPECT_EQ(details.cycles->text(), "480");
    EXPECT_EQ(details.remainingChargeCapacity->text(), "3000 mAh");
    EXPECT_EQ(details.fullChargeCapacity->text(), "4000 mAh");
    EXPECT_EQ(details.designChargeCapacity->text(), "5000 mAh");
    EXPECT_EQ(details.temperature->text(), "29°");  // 28.7 °C
    EXPECT_EQ(details.temperatureFrame->color(), FUIColor::silver());
    EXPECT_FALSE(details.temperatureFrame->fill());

    // The electricity menu is filled when it pops up.
    details.view()->resize(320, 200);
    details.view()->show();
    test::click(*details.powerUsageRow, {5, 5});
    EXPECT_TRUE(test::qtWaitUntil([&] { return details.electricityMenu->isVisible(); }));
    EXPECT_EQ(details.itemVoltage->text(), "11400 mV");
    EXPECT_EQ(details.itemAmperage->text(), "-1500 mA");
    details.electricityMenu->hide();
    details.view()->hide();
}

TEST_F(BatteryDetailsTest, OnMainsPowerTheAdapterRowShows) {
    PowerMachine machine("power-charging");
    BatteryViewController details(machine.system.get(), defaults.get(), themes.get());
    details.view();
    EXPECT_EQ(details.status->text(), "Charging");
    EXPECT_FALSE(details.remainingStack->isHidden());
    EXPECT_FALSE(details.powerAdapterRow->isHidden());
    EXPECT_TRUE(details.powerUsageRow->isHidden());
    // The adapter does not report its power: unknown rather than "0 W".
    ASSERT_EQ(machine.battery->acWatts(), 0);
    EXPECT_EQ(details.powerAdapterWattage->text(), "-");
    EXPECT_EQ(details.remaining->text(), "2:05  until charged");
}

TEST_F(BatteryDetailsTest, FullyChargedHidesTheRemainingTime) {
    PowerMachine machine("power-charging", 0.05);
    machine.write("BAT0", "status", "Full");
    machine.write("BAT0", "charge_now", "4000000");
    machine.write("BAT0", "current_now", "0");
    BatteryViewController details(machine.system.get(), defaults.get(), themes.get());
    details.view();
    ASSERT_TRUE(test::waitUntil([&] { return details.status->text() == "Charged"; }));
    EXPECT_TRUE(details.remainingStack->isHidden());
    EXPECT_FALSE(details.powerAdapterRow->isHidden());
    EXPECT_TRUE(details.powerUsageRow->isHidden());

    // Unplugged: discharging, remaining time and power draw back, adapter gone.
    machine.write("AC", "online", "0");
    machine.write("BAT0", "status", "Discharging");
    machine.write("BAT0", "current_now", "-1000000");
    ASSERT_TRUE(test::waitUntil([&] { return details.status->text() == "Discharging"; }));
    EXPECT_FALSE(details.remainingStack->isHidden());
    EXPECT_TRUE(details.powerAdapterRow->isHidden());
    EXPECT_FALSE(details.powerUsageRow->isHidden());
    EXPECT_EQ(details.watts->text(), "12 W");  // 12 V at -1 A
}

TEST_F(BatteryDetailsTest, RedrawnOnEveryBatteryChangeNotByTheTick) {
    PowerMachine machine("power-discharging", 0.05);
    BatteryViewController details(machine.system.get(), defaults.get(), themes.get());
    details.view();
    ASSERT_EQ(details.percent->text(), "75%");
    details.update();  // the refresh tick changes nothing
    machine.write("BAT0", "charge_now", "1000000");
    EXPECT_TRUE(test::waitUntil([&] { return details.percent->text() == "25%"; }));
    EXPECT_EQ(details.remainingChargeCapacity->text(), "1000 mAh");
    EXPECT_DOUBLE_EQ(details.percentBar->percent(), 25.0);
}

TEST_F(BatteryDetailsTest, TemperatureInTheChosenUnitAndItsFrame) {
    PowerMachine machine("power-discharging", 0.05);
    BatteryViewController details(machine.system.get(), defaults.get(), themes.get());
    details.view();
    EXPECT_EQ(details.temperature->text(), "29°");
    // The settings view fires the battery's signal when the unit changes.
    defaults->set("temperature", int64_t{1});
    machine.battery->onBatteryChanged.fire();
    EXPECT_EQ(details.temperature->text(), "84°");  // 28.7 °C
    defaults->set("temperature", int64_t{0});

    struct Row {
        const char* tenths;
        bool alarm;
    };
    for (const Row& row : {Row{"109", true}, Row{"110", false}, Row{"340", false}, Row{"341", true},
                           Row{"250", false}}) {
        machine.write("BAT0", "temp", row.tenths);
        const double expected = std::stod(row.tenths) / 10.0;
        ASSERT_TRUE(test::waitUntil([&] { return machine.battery->temperature() == expected; }))
            << row.tenths;
        machine.battery->onBatteryChanged.fire();
        EXPECT_EQ(details.temperatureFrame->fill(), row.alarm) << row.tenths;
        EXPECT_EQ(details.temperatureFrame->color(),
                  row.alarm ? FUIColor::alizarin(0.5) : FUIColor::silver())
            << row.tenths;
    }
}

// The title beside a value in the facts, found by its text.
bool titleHidden(QWidget& view, const QString& title) {
    for (const QLabel* label : view.findChildren<QLabel*>()) {
        if (label->text() == title)
            return label->isHidden();
    }
    ADD_FAILURE() << "no title " << title.toStdString();
    return false;
}

TEST_F(BatteryDetailsTest, WhatTheBatteryDoesNotReportIsLeftOutNeverShownAsZero) {
    // This battery has no temperature, cycle count or date of manufacture.
    PowerMachine machine("power-mains-offline", 0.05);
    BatteryViewController details(machine.system.get(), defaults.get(), themes.get());
    QWidget& view = *details.view();
    details.viewWillAppear();
    EXPECT_TRUE(details.temperatureFrame->isHidden());
    EXPECT_TRUE(titleHidden(view, "Temperature"));
    EXPECT_FALSE(details.temperatureFrame->fill()) << "an unknown temperature is no alarm";
    EXPECT_TRUE(details.cycles->isHidden());
    EXPECT_TRUE(titleHidden(view, "Cycle Count"));
    EXPECT_TRUE(details.age->isHidden());
    EXPECT_TRUE(titleHidden(view, "Age"));
    EXPECT_TRUE(details.manufactured->isHidden());
    EXPECT_TRUE(titleHidden(view, "Manufactured"));
    EXPECT_FALSE(details.health->isHidden());
    EXPECT_EQ(details.health->text(), "100%");
    EXPECT_FALSE(titleHidden(view, "Health"));
    EXPECT_EQ(details.watts->text(), "-") << "discharging at 0 mA: the driver does not measure";

    // The temperature comes: its row comes back.
    machine.write("BAT0", "temp", "315");
    ASSERT_TRUE(test::waitUntil([&] { return details.temperature->text() == "32°"; }));
    EXPECT_FALSE(details.temperatureFrame->isHidden());
    EXPECT_FALSE(titleHidden(view, "Temperature"));
}

TEST_F(BatteryDetailsTest, WithoutCurrentDesignOrVoltageThoseFiguresAreUnknown) {
    PowerMachine machine("power-discharging", 0,
                         {"BAT0/current_now", "BAT0/charge_full_design", "BAT0/voltage_now",
                          "BAT0/voltage_min_design"});
    BatteryViewController details(machine.system.get(), defaults.get(), themes.get());
    details.view();
    EXPECT_EQ(details.status->text(), "Discharging");
    EXPECT_EQ(details.watts->text(), "-");
    EXPECT_EQ(details.designChargeCapacity->text(), "-");
    EXPECT_EQ(details.fullChargeCapacity->text(), "4000 mAh");
    EXPECT_TRUE(details.health->isHidden()) << "no design capacity, no health";
    details.popElectricity();
    EXPECT_EQ(details.itemVoltage->text(), "-");
    EXPECT_EQ(details.itemAmperage->text(), "-");
    details.electricityMenu->hide();
}

TEST_F(BatteryDetailsTest, LowHealthShowsInTheWarningColour) {
    PowerMachine machine("power-discharging", 0.05);
    BatteryViewController details(machine.system.get(), defaults.get(), themes.get());
    details.view();
    const QColor warning = themes->activeTheme().warningColor;
    ASSERT_NE(warning, FUIColor::turquoise());
    // 1 450 of 5 000 mAh: 29 %.
    machine.write("BAT0", "charge_full", "1450000");
    ASSERT_TRUE(test::waitUntil([&] { return details.health->text() == "29%"; }));
    EXPECT_EQ(textColor(details.health), warning);
    // 1 500 of 5 000 mAh: 30 %, back to turquoise.
    machine.write("BAT0", "charge_full", "1500000");
    ASSERT_TRUE(test::waitUntil([&] { return details.health->text() == "30%"; }));
    EXPECT_EQ(textColor(details.health), FUIColor::turquoise());
    // A healthy capacity but a condition reported by the battery: warning again.
    machine.write("BAT0", "charge_full", "4750000");
    machine.write("BAT0", "health", "Over voltage");
    ASSERT_TRUE(test::waitUntil([&] { return details.condition->text() == "Over voltage"; }));
    EXPECT_EQ(details.health->text(), "95%");
    EXPECT_EQ(textColor(details.health), warning);
}

TEST_F(BatteryDetailsTest, SeparatorFollowsTheRowsSetting) {
    PowerMachine machine("power-discharging");
    BatteryViewController details(machine.system.get(), defaults.get(), themes.get());
    defaults->set("widgetRows", int64_t{1});
    details.viewWillAppear();
    EXPECT_EQ(details.separatorLineConstraint, -1.0);
    defaults->set("widgetRows", int64_t{2});
    details.viewWillAppear();
    EXPECT_EQ(details.separatorLineConstraint, 0.0);
}

TEST_F(BatteryDetailsTest, ThemesColourTheBarAndTextsButNotTheHealth) {
    PowerMachine machine("power-discharging");
    BatteryViewController details(machine.system.get(), defaults.get(), themes.get());
    details.view();
    const Theme& dark = themes->themes[1];
    EXPECT_EQ(details.percentBar->color(), themes->themes[0].controllerColor);
    themes->setActiveTheme(dark);
    EXPECT_EQ(details.percentBar->color(), dark.controllerColor);
    EXPECT_EQ(textColorOf(details.status), dark.labelColor);
    EXPECT_EQ(textColorOf(details.watts), dark.labelColor);
    // The health keeps its own colour.
    EXPECT_EQ(textColorOf(details.health), FUIColor::turquoise());
    themes->setActiveTheme(themes->themes[0]);
}

TEST_F(BatteryDetailsTest, Gallery) {
    for (const char* scenario : {"power-discharging", "power-charging", "power-mains-offline"}) {
        PowerMachine machine(scenario);
        BatteryViewController details(machine.system.get(), defaults.get(), themes.get());
        details.viewWillAppear();
        for (int index : {0, 1}) {
            themes->setActiveTheme(themes->themes[static_cast<size_t>(index)]);
            test::saveDetailPicture(
                *details.view(), themes->activeTheme(),
                QStringLiteral("battery-details-") + QString::fromLatin1(scenario + 6));
        }
        themes->setActiveTheme(themes->themes[0]);
    }
}

}  // namespace
}  // namespace vigil
