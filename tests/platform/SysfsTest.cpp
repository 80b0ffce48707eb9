#include "platform/Sysfs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/TestTree.h"

using namespace vigil::platform;
using vigil::test::fixturePath;
using vigil::test::TempTree;

TEST(SysfsParse, CpuLists) {
    EXPECT_EQ(parseCpuList("0-3,6,8-9\n"), (std::vector<int>{0, 1, 2, 3, 6, 8, 9}));
    EXPECT_EQ(parseCpuList("0"), (std::vector<int>{0}));
    EXPECT_EQ(parseCpuList(""), (std::vector<int>{}));
    EXPECT_FALSE(parseCpuList("3-1"));
    EXPECT_FALSE(parseCpuList("0-"));
    EXPECT_FALSE(parseCpuList("a"));
    EXPECT_FALSE(parseCpuList("0-99999999"));
}

TEST(SysfsCores, FixtureMachines) {
    struct Row {
        const char* machine;
        std::int64_t physicalMax, physicalNow, logicalMax, logicalNow;
    };
    const Row rows[] = {
        {"multi-socket", 8, 8, 16, 16},   // two packages with the same core numbers
        {"hybrid-core", 14, 14, 20, 20},  // six cores with two threads, eight with one
        {"offline-core", 4, 3, 8, 6},     // the last core is offline and shows no topology
        {"zram", 4, 4, 4, 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.machine);
        auto counts = Sysfs(fixturePath(row.machine)).coreCounts();
        ASSERT_TRUE(counts);
        EXPECT_EQ(counts.value.physicalMax, row.physicalMax);
        EXPECT_EQ(counts.value.physicalNow, row.physicalNow);
        EXPECT_EQ(counts.value.logicalMax, row.logicalMax);
        EXPECT_EQ(counts.value.logicalNow, row.logicalNow);
    }
}

TEST(SysfsCores, MalformedTopologyIsAFailureNotACrash) {
    TempTree tree("zram");
    tree.write("sys/devices/system/cpu/cpu1/topology/core_id", "one\n");
    EXPECT_EQ(Sysfs(tree.root).coreCounts().outcome, Outcome::failure);
    tree.write("sys/devices/system/cpu/online", "0-\n");
    EXPECT_EQ(Sysfs(tree.root).coreCounts().outcome, Outcome::failure);
    tree.remove("sys/devices/system/cpu/online");
    EXPECT_EQ(Sysfs(tree.root).coreCounts().outcome, Outcome::absent);
}

TEST(SysfsCores, LiveMachineMatchesNproc) {
    auto counts = Sysfs().coreCounts();
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts.value.logicalNow, ::sysconf(_SC_NPROCESSORS_ONLN));
    EXPECT_GE(counts.value.logicalMax, counts.value.logicalNow);
    EXPECT_GE(counts.value.physicalNow, 1);
    EXPECT_LE(counts.value.physicalNow, counts.value.logicalNow);
}

TEST(SysfsThermal, StatesFromTripPoints) {
    ThermalZone zone{
        "thermal_zone0", "x86_pkg_temp", 50000, {{"passive", 95000}, {"critical", 105000}}};
    EXPECT_EQ(thermalStateOf(zone), ThermalState::nominal);
    zone.milliCelsius = 86000;
    EXPECT_EQ(thermalStateOf(zone), ThermalState::fair);
    zone.milliCelsius = 95000;
    EXPECT_EQ(thermalStateOf(zone), ThermalState::serious);
    zone.milliCelsius = 105000;
    EXPECT_EQ(thermalStateOf(zone), ThermalState::critical);
    // Disabled trip points (0) and zones without trip points never raise the state.
    EXPECT_EQ(thermalStateOf(ThermalZone{"z", "t", 90000, {{"passive", 0}}}),
              ThermalState::nominal);
    EXPECT_EQ(thermalStateOf(std::vector<ThermalZone>{}), ThermalState::nominal);
}

TEST(SysfsThermal, ThrottledMachineSkipsTheBrokenZone) {
    resetReportedErrors();
    testing::internal::CaptureStderr();
    auto zones = Sysfs(fixturePath("thermal-throttled")).thermalZones();
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(zones);
    EXPECT_EQ(zones.value.size(), 2u);
    EXPECT_EQ(thermalStateOf(zones.value), ThermalState::serious);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("thermal_zone2"), std::string::npos);
    // No thermal class at all: not on this machine.
    EXPECT_EQ(Sysfs(fixturePath("no-gpu")).thermalZones().outcome, Outcome::absent);
}

TEST(SysfsZram, MemoryUsedSumsDevices) {
    auto used = Sysfs(fixturePath("zram")).zramMemoryUsed();
    ASSERT_TRUE(used);
    EXPECT_EQ(used.value, 549453824u);
    EXPECT_EQ(Sysfs(fixturePath("no-swap")).zramMemoryUsed().outcome, Outcome::absent);
    EXPECT_FALSE(parseZramMemUsed("1 2"));
}
