#include "system/CPU.h"

#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/Procfs.h"
#include "support/TestTree.h"

using namespace vigil;
using vigil::test::TempTree;

TEST(CPUResource, FixtureValuesAndIdenticalCounters) {
    TempTree tree("hybrid-core");
    CPU cpu(tree.root);
    EXPECT_EQ(cpu.type(), SystemResourceType::cpu);
    EXPECT_EQ(cpu.physicalCores(), 14);
    EXPECT_EQ(cpu.logicalCores(), 20);
    EXPECT_EQ(cpu.activeLogicalCores(), 20);
    EXPECT_EQ(cpu.bootTime(), 1700000000);
    // Before the first update every figure is 0.
    EXPECT_EQ(cpu.usage(), 0);
    EXPECT_EQ(cpu.processes(), 0u);

    cpu.update();
    EXPECT_NEAR(cpu.user() + cpu.sys() + cpu.idle(), 100.0, 1e-6);
    EXPECT_DOUBLE_EQ(cpu.usage(), cpu.user() + cpu.sys());
    EXPECT_EQ(cpu.threads(), 812u);
    // Nothing changed in /proc/stat: no tick elapsed, so 0 / 0 / 0.
    cpu.update();
    EXPECT_EQ(cpu.user() + cpu.sys() + cpu.idle(), 0);
    EXPECT_EQ(cpu.usage(), 0);

    tree.write("proc/stat", "cpu  100025 500 30015 900160 2000 100 900 0 0 0\nbtime 1700000000\n");
    cpu.update();
    EXPECT_DOUBLE_EQ(cpu.user(), 12.5);
    EXPECT_DOUBLE_EQ(cpu.sys(), 7.5);
    EXPECT_DOUBLE_EQ(cpu.usage(), 20.0);  // idle never counts
}

TEST(CPUResource, BrandIsComputedOnceAndWritable) {
    TempTree tree("thermal-throttled");
    CPU cpu(tree.root);
    EXPECT_EQ(cpu.brand(), "Intel Core i7-4870HQ 2.50GHz");
    tree.write("proc/cpuinfo", "model name : Something Else\n");
    EXPECT_EQ(cpu.brand(), "Intel Core i7-4870HQ 2.50GHz");  // cached
    cpu.setBrand("Mine");
    EXPECT_EQ(cpu.brand(), "Mine");
    EXPECT_EQ(cpu.thermalState(), CPU::ThermalState::serious);
    tree.write("sys/class/thermal/thermal_zone1/temp", "40000\n");
    EXPECT_EQ(cpu.thermalState(), CPU::ThermalState::nominal);  // read at each access
}

TEST(CPUResource, MissingFilesLeaveZerosAndUptimeIsTheEpochTime) {
    TempTree tree;
    CPU cpu(tree.root);
    EXPECT_EQ(cpu.bootTime(), 0);
    EXPECT_EQ(cpu.logicalCores(), 0);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    EXPECT_NEAR(static_cast<double>(cpu.uptime()), static_cast<double>(now.tv_sec), 2);
    cpu.update();
    EXPECT_EQ(cpu.usage(), 0);
    EXPECT_EQ(cpu.brand(), "");
    auto [one, five, fifteen] = cpu.loadavg();
    EXPECT_EQ(one + five + fifteen, 0);
}

TEST(CPUResource, LiveMachine) {
    CPU cpu;
    EXPECT_EQ(cpu.activeLogicalCores(), ::sysconf(_SC_NPROCESSORS_ONLN));
    EXPECT_GE(cpu.logicalCores(), cpu.activeLogicalCores());
    EXPECT_GE(cpu.activePhysicalCores(), 1);
    EXPECT_LE(cpu.activePhysicalCores(), cpu.activeLogicalCores());

    std::string stat = vigil::test::readText("/proc/stat");
    auto at = stat.find("\nbtime ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(cpu.bootTime(), std::stoll(stat.substr(at + 7)));

    // The load averages come with a sample and change every five seconds: compare with the file
    // read around the sample.
    std::string before = vigil::test::readText("/proc/loadavg");
    cpu.update();
    auto [one, five, fifteen] = cpu.loadavg();
    std::string after = vigil::test::readText("/proc/loadavg");
    auto matches = [&](const std::string& text) {
        double a = 0, b = 0, c = 0;
        std::sscanf(text.c_str(), "%lf %lf %lf", &a, &b, &c);
        return a == one && b == five && c == fifteen;
    };
    EXPECT_TRUE(matches(before) || matches(after)) << before << after;

    // Sample until at least one tick elapsed between two samples.
    cpu.update();
    bool ticked = false;
    for (int i = 0; i < 200 && !ticked; ++i) {
        struct timespec pause {
            0, 20 * 1000 * 1000
        };
        ::nanosleep(&pause, nullptr);
        cpu.update();
        ticked = cpu.user() + cpu.sys() + cpu.idle() > 0;
    }
    ASSERT_TRUE(ticked);
    EXPECT_NEAR(cpu.user() + cpu.sys() + cpu.idle(), 100.0, 1e-6);
    EXPECT_GT(cpu.processes(), 0u);
    EXPECT_GE(cpu.threads(), cpu.processes());

    // Sleep time is the gap between time since boot and time awake.
    double slept = platform::Procfs::sinceBootSeconds() - platform::Procfs::awakeSeconds();
    EXPECT_NEAR(static_cast<double>(cpu.sleepTime()), slept, 2.0);
    EXPECT_GE(cpu.uptime(), cpu.awakeTime() - 2);
    EXPECT_FALSE(cpu.brand().empty());
}
