#include "collectors/CPUData.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/RunningApplicationsTestChild.h"
#include "support/TestSupport.h"
#include "support/TestTree.h"
#include "system/CPU.h"

using namespace vigil;
using vigil::test::TempTree;

TEST(CPULoadDerivation, PercentagesOfTheTicksBetweenSamples) {
    CPUTicks before{100, 50, 800, 50};
    CPUTicks after{150, 70, 900, 80};  // +50 user, +20 system, +100 idle, +30 nice
    auto load = deriveCPULoad(before, after);
    EXPECT_DOUBLE_EQ(load.user, 40.0);  // (30 + 50) / 200
    EXPECT_DOUBLE_EQ(load.system, 10.0);
    EXPECT_DOUBLE_EQ(load.idle, 50.0);
    EXPECT_DOUBLE_EQ(load.user + load.system + load.idle, 100.0);
}

TEST(CPULoadDerivation, NoTickElapsedGivesZeros) {
    CPUTicks same{5, 5, 5, 5};
    auto load = deriveCPULoad(same, same);
    EXPECT_EQ(load.user, 0);
    EXPECT_EQ(load.system, 0);
    EXPECT_EQ(load.idle, 0);
}

TEST(CPULoadDerivation, ThirtyTwoBitWrapIsASmallDifference) {
    CPUTicks before{0xFFFFFFF0u, 10, 0xFFFFFF00u, 0};
    CPUTicks after{0x10u, 20, 0x100u, 0};  // +32 user, +10 system, +512 idle
    bool reset = true;
    auto load = deriveCPULoad(before, after, &reset);
    EXPECT_FALSE(reset);
    EXPECT_NEAR(load.idle, 512.0 / 554.0 * 100, 1e-9);
    EXPECT_NEAR(load.user, 32.0 / 554.0 * 100, 1e-9);
}

TEST(CPULoadDerivation, ACounterThatGoesDownIsAReset) {
    bool reset = false;
    // A 64-bit counter going back, and a 32-bit one going back a little (not a wrap).
    auto load = deriveCPULoad(CPUTicks{1ull << 40, 0, 0, 0}, CPUTicks{5, 1, 1, 1}, &reset);
    EXPECT_TRUE(reset);
    EXPECT_EQ(load.user + load.system + load.idle, 0);
    deriveCPULoad(CPUTicks{1000, 0, 5000, 0}, CPUTicks{1010, 0, 4990, 0}, &reset);
    EXPECT_TRUE(reset);
}

TEST(CPUBrand, Cleaning) {
    EXPECT_EQ(cleanCPUBrand("Intel(R) Core(TM) i7-4870HQ CPU @ 2.50GHz"),
              "Intel Core i7-4870HQ 2.50GHz");
    EXPECT_EQ(cleanCPUBrand("  AMD   Ryzen 7 5800X 8-Core\tProcessor  "),
              "AMD Ryzen 7 5800X 8-Core Processor");
    EXPECT_EQ(cleanCPUBrand("Intel(R) Xeon(R) CPU E5-2690 v4 @ 2.60GHz"),
              "Intel Xeon E5-2690 v4 2.60GHz");
    EXPECT_EQ(cleanCPUBrand(""), "");
    // Longer than 64 bytes: cut without splitting a UTF-8 sequence.
    std::string longBrand(62, 'x');
    longBrand += "\xC3\xA9\xC3\xA9";
    EXPECT_EQ(cleanCPUBrand(longBrand), std::string(62, 'x') + "\xC3\xA9");
    EXPECT_EQ(cleanCPUBrand("Bad\xFFName"), "Bad\xEF\xBF\xBDName");
}

TEST(CPUCollector, FixtureMachinesGiveCountsAndLoad) {
    struct Row {
        const char* machine;
        const char* brand;
        std::int32_t physicalMax, logicalMax;
    };
    const Row rows[] = {
        {"multi-socket", "Intel Xeon Gold 6230 2.10GHz", 8, 16},
        {"hybrid-core", "12th Gen Intel Core i7-12700H", 14, 20},
        {"no-swap", "BCM2835", 2, 2},
        {"no-gpu", "AMD EPYC 7B13 64-Core Processor", 4, 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.machine);
        CPUCollector collector(vigil::test::fixturePath(row.machine));
        EXPECT_EQ(collector.brand(), row.brand);
        auto info = collector.hostInfo();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->physical_cpu_max, row.physicalMax);
        EXPECT_EQ(info->logical_cpu_max, row.logicalMax);
        EXPECT_EQ(collector.bootTime(), 1700000000);
        auto [one, five, fifteen] = collector.loadavg();
        EXPECT_DOUBLE_EQ(one, 1.25);
        EXPECT_DOUBLE_EQ(fifteen, 0.50);
        CPUData data{};
        EXPECT_EQ(collector.data(&data), 1);
        // The first sample is the average since boot.
        EXPECT_NEAR(data.user + data.system + data.idle, 100.0, 1e-6);
        EXPECT_EQ(data.processes, 4u);
        EXPECT_EQ(data.threads, 812u);
    }
}

TEST(CPUCollector, CoreGoingOfflineBetweenSamples) {
    TempTree tree("offline-core");
    tree.write("sys/devices/system/cpu/online", "0-7\n");
    tree.write("proc/stat", "cpu  1000 0 500 8000 100 0 0 0 0 0\nbtime 1700000000\n");
    CPUCollector collector(tree.root);
    CPUData data{};
    collector.data(&data);
    // cpu7 goes offline; its idle time leaves the aggregate, which steps back.
    tree.write("sys/devices/system/cpu/online", "0-6\n");
    tree.write("proc/stat", "cpu  1100 0 520 7900 100 0 0 0 0 0\nbtime 1700000000\n");
    collector.data(&data);
    EXPECT_EQ(data.user + data.system + data.idle, 0);  // a reset, not a bogus figure
    tree.write("proc/stat", "cpu  1200 0 540 8060 100 0 0 0 0 0\nbtime 1700000000\n");
    collector.data(&data);
    EXPECT_NEAR(data.user, 100.0 * 100 / 280, 1e-9);
    EXPECT_NEAR(data.idle, 100.0 * 160 / 280, 1e-9);
}

// A machine of 256 logical cores (two sockets of 64 cores with two threads each), generated here:
// no such machine is at hand. The counts come from the topology, the load from the first line of
// /proc/stat whatever follows it.
TEST(CPUCollector, TwoHundredFiftySixLogicalCores) {
    TempTree tree;
    const auto stat = [](int user, int system, int idle) {
        std::string text = "cpu  " + std::to_string(user) + " 0 " + std::to_string(system) + " " +
                           std::to_string(idle) + " 0 0 0 0 0 0\n";
        for (int cpu = 0; cpu < 256; ++cpu)
            text += "cpu" + std::to_string(cpu) + " 100 0 50 1000 0 0 0 0 0 0\n";
        return text + "btime 1700000000\n";
    };
    for (int cpu = 0; cpu < 256; ++cpu) {
        const std::string topology =
            "sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        tree.write(topology + "physical_package_id", std::to_string(cpu / 128) + "\n");
        tree.write(topology + "core_id", std::to_string(cpu % 128 / 2) + "\n");
    }
    for (const char* list : {"present", "online", "possible"})
        tree.write(std::string("sys/devices/system/cpu/") + list, "0-255\n");
    tree.write("proc/stat", stat(25600, 12800, 256000));
    CPUCollector collector(tree.root);
    const auto info = collector.hostInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->physical_cpu_max, 128);
    EXPECT_EQ(info->logical_cpu_max, 256);
    CPUData data{};
    collector.data(&data);
    tree.write("proc/stat", stat(25600 + 2560, 12800 + 1280, 256000 + 8960));
    collector.data(&data);
    EXPECT_DOUBLE_EQ(data.user, 20.0);
    EXPECT_DOUBLE_EQ(data.system, 10.0);
    EXPECT_DOUBLE_EQ(data.idle, 70.0);
}

TEST(CPUCollector, StolenTicksCountAsBusy) {
    // Between the samples: user 300, nice 0, system 100, idle 300, iowait 0, irq 20, softirq 30,
    // steal 250 of 1000 ticks. User 30 %, system (100 + 20 + 30 + 250) = 40 %, idle 30 %.
    TempTree tree;
    tree.write("proc/stat", "cpu  1000 0 500 8000 100 0 0 200 0 0\n");
    CPUCollector collector(tree.root);
    CPUData data{};
    collector.data(&data);
    tree.write("proc/stat", "cpu  1300 0 600 8300 100 20 30 450 0 0\n");
    collector.data(&data);
    EXPECT_DOUBLE_EQ(data.user, 30.0);
    EXPECT_DOUBLE_EQ(data.system, 40.0);
    EXPECT_DOUBLE_EQ(data.idle, 30.0);
}

TEST(CPUCollector, BrokenFilesGiveZerosAndOneErrorLine) {
    TempTree tree("multi-socket");
    CPUCollector collector(tree.root);
    CPUData data{};
    collector.data(&data);
    tree.write("proc/stat", "cpu  1 2 three 4\n");  // a line with a field that is not a number
    tree.write("proc/loadavg", "1.0 2.0\n");        // truncated
    vigil::platform::resetReportedErrors();
    testing::internal::CaptureStderr();
    EXPECT_EQ(collector.data(&data), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(data.user + data.system + data.idle, 0);
    EXPECT_EQ(data.processes, 0u);
    EXPECT_EQ(data.threads, 0u);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    // Missing files: the boot time and brand are 0 and empty, nothing aborts.
    tree.remove("proc");
    EXPECT_EQ(collector.bootTime(), 0);
    EXPECT_EQ(collector.brand(), "");
    auto [one, five, fifteen] = collector.loadavg();
    EXPECT_EQ(one + five + fifteen, 0);
    EXPECT_EQ(collector.data(&data), 1);
}

TEST(CPUCollector, ThermalZonesAreKeptAndOnlyTheirTemperaturesReadAgain) {
    TempTree tree("thermal-throttled");
    CPUCollector collector(tree.root);
    testing::internal::CaptureStderr();  // zone 2's temperature is garbage
    EXPECT_EQ(collector.thermalState(), vigil::platform::ThermalState::serious);
    testing::internal::GetCapturedStderr();
    tree.write("sys/class/thermal/thermal_zone1/temp", "40000\n");
    EXPECT_EQ(collector.thermalState(), vigil::platform::ThermalState::nominal);
    tree.write("sys/class/thermal/thermal_zone0/temp", "104000\n");
    EXPECT_EQ(collector.thermalState(), vigil::platform::ThermalState::critical);
    // A zone that goes away sends the collector back to the listing.
    tree.remove("sys/class/thermal/thermal_zone0");
    testing::internal::CaptureStderr();
    EXPECT_EQ(collector.thermalState(), vigil::platform::ThermalState::nominal);
    testing::internal::GetCapturedStderr();
    tree.write("sys/class/thermal/thermal_zone1/temp", "96000\n");
    EXPECT_EQ(collector.thermalState(), vigil::platform::ThermalState::serious);
}

TEST(CPUCollector, LoadAveragesComeWithTheSample) {
    TempTree tree("multi-socket");
    tree.write("proc/loadavg", "0.25 1.50 3.75 2/300 99\n");
    vigil::CPU cpu(tree.root);
    cpu.update();
    EXPECT_EQ(cpu.loadavg(), std::make_tuple(0.25, 1.50, 3.75));
    tree.write("proc/loadavg", "4.00 2.00 1.00 2/300 99\n");
    EXPECT_EQ(cpu.loadavg(), std::make_tuple(0.25, 1.50, 3.75)) << "until the next sample";
    cpu.update();
    EXPECT_EQ(cpu.loadavg(), std::make_tuple(4.0, 2.0, 1.0));
    tree.write("proc/loadavg", "garbage\n");
    testing::internal::CaptureStderr();
    cpu.update();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(cpu.loadavg(), std::make_tuple(0.0, 0.0, 0.0));
}

TEST(CPUCollector, ProcessesAreCountedAgainWhenTasksComeOrGo) {
    TempTree tree("multi-socket");  // four processes, 54321 forks, 812 threads
    CPUCollector collector(tree.root);
    auto processes = [&] {
        CPUData data{};
        collector.data(&data);
        return data.processes;
    };
    auto writeCounters = [&](int forks, int threads) {
        tree.write("proc/stat", "cpu  1 0 1 10 0 0 0 0\nprocesses " + std::to_string(forks) + "\n");
        tree.write("proc/loadavg", "1.0 1.0 1.0 1/" + std::to_string(threads) + " 9\n");
    };
    writeCounters(100, 800);
    EXPECT_EQ(processes(), 4u);
    tree.write("proc/5000/stat", "5000 (new) S 1\n");
    EXPECT_EQ(processes(), 4u) << "no task created or reaped: the last count stands";
    writeCounters(101, 801);
    EXPECT_EQ(processes(), 5u);
    // One reaped and another created: the same thread total, but a fork more.
    tree.remove("proc/5000");
    tree.write("proc/5001/stat", "5001 (new) S 1\n");
    tree.write("proc/5002/stat", "5002 (new) S 1\n");
    writeCounters(102, 801);
    EXPECT_EQ(processes(), 6u);
    // Reaped only: the thread total goes down.
    tree.remove("proc/5001");
    writeCounters(102, 800);
    EXPECT_EQ(processes(), 5u);
    // Without the fork count every sample counts.
    tree.write("proc/stat", "cpu  1 0 1 10 0 0 0 0\n");
    tree.remove("proc/5002");
    EXPECT_EQ(processes(), 4u);
    tree.write("proc/5003/stat", "5003 (new) S 1\n");
    EXPECT_EQ(processes(), 5u);
}

TEST(CPUCollector, TheProcessCountFollowsTheLiveMachine) {
    CPUCollector collector("/");
    const vigil::platform::Procfs procfs("/");
    // Equal to a walk of /proc taken just before and just after, while nothing came or went then.
    auto agreesWithAWalk = [&] {
        return vigil::test::waitUntil([&] {
            const auto before = procfs.processCount();
            CPUData data{};
            collector.data(&data);
            const auto after = procfs.processCount();
            return before && after && before.value == after.value && data.processes == before.value;
        });
    };
    EXPECT_TRUE(agreesWithAWalk());
    std::vector<std::unique_ptr<vigil::test::Child>> children;
    for (int i = 0; i < 3; ++i)
        children.push_back(
            std::make_unique<vigil::test::Child>(std::vector<std::string>{"sleep", "1000"}));
    EXPECT_TRUE(agreesWithAWalk()) << "three processes more";
    children.clear();
    EXPECT_TRUE(agreesWithAWalk()) << "three processes less";
}
