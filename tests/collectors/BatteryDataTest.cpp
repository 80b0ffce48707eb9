#include <ctime>
#include <string>

#include "collectors/BatteryData.h"
#include "support/TestSupport.h"

namespace {

using vigil::PowerSupply;
using vigil::PowerSupplyInfo;

struct Report {
    bool called = false;
    BatteryData data{};
    std::string condition;
};

Report reportOf(const std::string& scenario) {
    Report report;
    getBatteryData(
        [&](const BatteryData* data) {
            report.called = true;
            report.data = *data;
            report.condition = data->condition;
        },
        vigil::test::fixturePath(scenario));
    return report;
}

// One row per fixture machine: the figures a person sees.
struct Row {
    const char* scenario;
    int32_t percent;
    int32_t current;
    int32_t timeToEmpty;
    int32_t timeToFull;
    bool charging;
    bool charged;
    int32_t watts;
    std::optional<int64_t> currentCapacity, maxCapacity, designCapacity, voltage, temperature;
    std::optional<bool> external;
};

TEST(BatteryDataTest, FixtureMachines) {
    const Row rows[] = {
        // Kernel time to full (7500 s) wins over charge / current (120 min).
        {"power-charging", 50, 1000, 0, 125, true, false, 0, 2000, 4000, 4400, 12000, 3050, true},
        // A driver with a negative current_now: 3000 mAh at 1500 mA = 2 h.
        {"power-discharging", 75, -1500, 120, 0, false, false, 0, 3000, 4000, 5000, 11400, 2870,
         false},
        // Energy through the design voltage of 15 V: 30 Wh = 2000 mAh; 30 Wh at 15 W = 2 h.
        {"power-energy", 50, -1000, 120, 0, false, false, 0, 2000, 4000, 4400, 15000, std::nullopt,
         false},
        // 40 + 10 Wh of 50 + 40 Wh: 55 % (an average of 80 % and 25 % would be 52 %); the USB-C
        // adapter gives 20 V x 3.25 A; 40 Wh short at 10 W = 4 h; the mouse battery is left out.
        {"power-two-batteries", 55, 800, 0, 240, true, false, 65, 4200, 8000, 8000, 12500, 2500,
         true},
        // Discharging without a current yet: still estimating.
        {"power-mains-offline", 90, 0, -1, 0, false, false, 0, 3600, 4000, 4000, 12000,
         std::nullopt, false},
        // Full with vanished attributes: what is stored follows from capacity and full charge.
        {"power-vanished", 100, 0, 0, 0, false, true, 0, 4000, 4000, 4000, 12600, std::nullopt,
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.scenario);
        const Report report = reportOf(row.scenario);
        ASSERT_TRUE(report.called);
        EXPECT_EQ(report.data.percent, row.percent);
        EXPECT_EQ(report.data.current, row.current);
        EXPECT_EQ(report.data.timeToEmpty, row.timeToEmpty);
        EXPECT_EQ(report.data.timeToFull, row.timeToFull);
        EXPECT_EQ(report.data.isCharging != 0, row.charging);
        EXPECT_EQ(report.data.isCharged != 0, row.charged);
        EXPECT_EQ(report.data.watts, row.watts);
        const auto registry = getBatteryRegistry(vigil::test::fixturePath(row.scenario));
        ASSERT_TRUE(registry);
        EXPECT_EQ(registry->currentCapacity, row.currentCapacity);
        EXPECT_EQ(registry->maxCapacity, row.maxCapacity);
        EXPECT_EQ(registry->designCapacity, row.designCapacity);
        EXPECT_EQ(registry->voltage, row.voltage);
        EXPECT_EQ(registry->temperature, row.temperature);
        EXPECT_EQ(registry->externalConnected, row.external);
        EXPECT_EQ(registry->batteryInstalled, true);
    }
}

TEST(BatteryDataTest, HealthConditionAndManufactureDate) {
    EXPECT_EQ(reportOf("power-charging").condition, "Normal");  // health "Good"
    EXPECT_EQ(reportOf("power-charging").data.hasACondition, 0);
    const Report hot = reportOf("power-mains-offline");
    EXPECT_EQ(hot.condition, "Overheat");
    EXPECT_EQ(hot.data.hasACondition, 1);

    const auto registry = getBatteryRegistry(vigil::test::fixturePath("power-charging"));
    ASSERT_TRUE(registry && registry->manufactureDate);
    EXPECT_EQ(*registry->manufactureDate, 15 | 3 << 5 | 36 << 9);
    EXPECT_EQ(registry->cycleCount, 120);
    EXPECT_EQ(registry->designCycleCount9C, std::nullopt);  // no such attribute on Linux
}

TEST(BatteryDataTest, GarbageGivesSafeValues) {
    testing::internal::CaptureStderr();
    const Report report = reportOf("power-garbage");
    const auto registry = getBatteryRegistry(vigil::test::fixturePath("power-garbage"));
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(report.called);
    EXPECT_EQ(report.data.percent, 0);  // neither stored charge nor a percentage is readable
    EXPECT_EQ(report.data.current, 0);
    EXPECT_EQ(report.data.timeToEmpty, -1);
    ASSERT_TRUE(registry);
    EXPECT_EQ(registry->currentCapacity, std::nullopt);
    EXPECT_EQ(registry->maxCapacity, 4000);
    EXPECT_EQ(registry->voltage, std::nullopt);
    EXPECT_EQ(registry->temperature, std::nullopt);
    EXPECT_EQ(registry->manufactureDate, std::nullopt);  // a year before 1980
    // No adapter online: the AC's "online" is garbage, and so it is not known to be external.
    EXPECT_EQ(registry->externalConnected, false);
}

TEST(BatteryDataTest, NoBatteryNoReport) {
    EXPECT_FALSE(reportOf("power-no-battery").called);
    EXPECT_FALSE(getBatteryRegistry(vigil::test::fixturePath("power-no-battery")));
    EXPECT_FALSE(reportOf("no-such-scenario").called);
}

TEST(BatteryDataTest, CombinesBatteriesWithoutStoredAmounts) {
    PowerSupplyInfo a;
    a.name = "BAT0";
    a.type = "Battery";
    a.status = "Discharging";
    a.capacity = 40;
    a.energyFull = 50'000'000;
    PowerSupplyInfo b = a;
    b.name = "BAT1";
    b.capacity = 100;
    b.energyFull = 10'000'000;
    b.status = "Full";
    // 20 Wh + 10 Wh of 60 Wh: 50 %, not the 70 % an average of the percentages gives.
    PowerSources sources = combinePowerSupplies({a, b});
    BatteryData data{};
    std::string storage;
    ASSERT_TRUE(batteryDataFrom(sources, data, storage));
    EXPECT_EQ(data.percent, 50);
    EXPECT_EQ(data.timeToEmpty, -1);  // no current or power known yet
    EXPECT_EQ(sources.battery->count, 2);

    // An empty battery bay is no battery in place.
    PowerSupplyInfo bay = a;
    bay.present = false;
    sources = combinePowerSupplies({bay});
    ASSERT_TRUE(sources.battery);
    EXPECT_FALSE(sources.battery->installed);
    EXPECT_EQ(batteryRegistry(sources).batteryInstalled, false);
}

TEST(BatteryDataTest, TimesAreCalculatingUntilKnown) {
    CombinedBattery b;
    b.status = "Charging";
    b.nowMAh = 1000;
    b.fullMAh = 3000;
    EXPECT_EQ(batteryTimeToFull(b), -1);
    b.currentMA = 0;
    EXPECT_EQ(batteryTimeToFull(b), -1);
    b.currentMA = 1000;
    EXPECT_EQ(batteryTimeToFull(b), 120);
    b.timeToFullMinutes = 30;
    EXPECT_EQ(batteryTimeToFull(b), 30);
    EXPECT_EQ(batteryTimeToEmpty(b), 0);  // not discharging
    b.status = "Discharging";
    b.currentMA = -1e-300;  // absurdly small: capped, never overflowing
    EXPECT_GE(batteryTimeToEmpty(b), 0);
    b.status = "Not charging";
    EXPECT_EQ(batteryTimeToFull(b), 0);
}

TEST(BatteryDataTest, UnpacksTheManufactureDate) {
    std::tm nowParts{};
    nowParts.tm_year = 2026 - 1900;
    nowParts.tm_mon = 2;
    nowParts.tm_mday = 15;
    nowParts.tm_isdst = -1;
    const std::time_t now = std::mktime(&nowParts);
    auto texts = unpackBatteryDate(15 | 3 << 5 | 36 << 9, now);
    EXPECT_EQ(texts.manufactured, "15 Mar 2016");
    EXPECT_EQ(texts.age, "10.0 years");
    // Month and day 0 count as January and the 1st for the age; the text keeps them.
    texts = unpackBatteryDate(0 | 0 << 5 | 46 << 9, now);
    EXPECT_EQ(texts.manufactured, "0 Jan 2026");
    EXPECT_EQ(texts.age, "0.2 years");
    EXPECT_EQ(unpackBatteryDate(1 | 12 << 5 | 40 << 9, now).manufactured, "1 Dec 2020");
    EXPECT_EQ(unpackBatteryDate(1 | 14 << 5 | 40 << 9, now).manufactured, "1 --- 2020");
}

}  // namespace
