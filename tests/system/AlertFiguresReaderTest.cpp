#include "system/AlertFiguresReader.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "support/TestTree.h"
#include "system/Battery.h"
#include "system/Memory.h"

namespace vigil {
namespace {

std::vector<AlertRuleConfig> defaultRules() {
    std::vector<AlertRuleConfig> rules;
    for (auto kind : allAlertKinds())
        rules.push_back(defaultAlertRule(kind));
    return rules;
}

// A machine with zram swap and a discharging battery, whose tasks rest (no view shows them): the
// reader samples what the rules need itself.
TEST(AlertFiguresReader, ReadsAMachineFromItsFilesSamplingRestingResources) {
    test::TempTree tree("zram");
    std::filesystem::copy(test::fixturePath("power-discharging") + "/sys", tree.root + "/sys",
                          std::filesystem::copy_options::recursive);
    System::Resources resources;
    resources.mem = std::make_shared<Memory>(tree.root);
    Battery::Options battery;
    battery.root = tree.root;
    battery.watchKernel = false;
    battery.rereadInterval = 0;
    resources.battery = std::make_shared<Battery>(battery);
    System system(resources, productionTaskSpecs(resources));
    AlertFiguresReader reader(system, tree.root);

    auto figures = reader.read(defaultRules());
    EXPECT_EQ(figures.processorBusy, std::nullopt);  // one count of the ticks: no share yet
    EXPECT_EQ(figures.memoryAvailable, 37.5);        // 3000000 of 8000000 kB
    EXPECT_EQ(figures.swapUsed, 25);                 // 2000000 of 8000000 kB
    ASSERT_TRUE(figures.battery);
    EXPECT_EQ(figures.battery->percent, 75);
    EXPECT_TRUE(figures.battery->discharging);
    EXPECT_TRUE(figures.volumes.empty());  // a System without volumes or sensors
    EXPECT_TRUE(figures.temperatures.empty());

    // 1000 ticks later, 950 of them busy; the memory runs low.
    tree.write("proc/stat", "cpu  100800 500 30150 900050 2000 100 900 0 0 0\n");
    auto meminfo = test::readText(tree.root + "/proc/meminfo");
    meminfo.replace(meminfo.find("MemAvailable:   3000000"), 23, "MemAvailable:    400000");
    tree.write("proc/meminfo", meminfo);
    figures = reader.read(defaultRules());
    EXPECT_EQ(figures.processorBusy, 95);
    EXPECT_EQ(figures.memoryAvailable, 5);

    // Rules switched off cost no reading.
    std::vector<AlertRuleConfig> onlyBattery{defaultAlertRule(AlertKind::batteryLow)};
    figures = reader.read(onlyBattery);
    EXPECT_EQ(figures.processorBusy, std::nullopt);
    EXPECT_EQ(figures.memoryAvailable, std::nullopt);
    EXPECT_TRUE(figures.battery);
}

}  // namespace
}  // namespace vigil
