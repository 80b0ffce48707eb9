#include "platform/Procfs.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/TestTree.h"

using namespace vigil::platform;
using vigil::test::TempTree;

TEST(ProcfsParse, CpuTicksTakesTheAggregateLineWithOldAndNewFieldCounts) {
    auto ticks = parseCpuTicks("cpu  10 2 30 400 5 6 7 8 0 0\ncpu0 1 1 1 1 1 1 1 1 0 0\n");
    ASSERT_TRUE(ticks);
    EXPECT_EQ(ticks->user, 10u);
    EXPECT_EQ(ticks->nice, 2u);
    EXPECT_EQ(ticks->system, 30u);
    EXPECT_EQ(ticks->idle, 400u);
    EXPECT_EQ(ticks->iowait, 5u);
    EXPECT_EQ(ticks->steal, 8u);
    // A 2.4 kernel prints only four fields; the rest stay 0.
    auto old = parseCpuTicks("cpu 1 2 3 4\n");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->idle, 4u);
    EXPECT_EQ(old->iowait, 0u);
    // Extra fields from a newer kernel are ignored.
    EXPECT_TRUE(parseCpuTicks("cpu 1 2 3 4 5 6 7 8 9 10 11 12\n"));

    // The fork count further down; absent or not a number, it is unknown, the ticks still hold.
    EXPECT_EQ(ticks->forks, std::nullopt);
    const std::string head = "cpu  10 2 30 400 5 6 7 8 0 0\ncpu0 1 1 1 1 1 1 1 1 0 0\n";
    const auto withForks =
        parseCpuTicks(head + "intr 5 0 1\nctxt 99\nbtime 17\nprocesses 4242\nprocs_running 1\n");
    ASSERT_TRUE(withForks);
    EXPECT_EQ(withForks->forks, 4242u);
    EXPECT_EQ(withForks->user, 10u);
    const auto badForks = parseCpuTicks(head + "processes -1\n");
    ASSERT_TRUE(badForks);
    EXPECT_EQ(badForks->forks, std::nullopt);
    // Only the first aggregate line counts.
    EXPECT_EQ(parseCpuTicks(head + "cpu 1 1 1 1\nprocesses 7\n")->user, 10u);
}

TEST(ProcfsParse, CpuTicksRejectsMissingOrJunkFields) {
    EXPECT_FALSE(parseCpuTicks("cpu 1 2 3\n"));
    EXPECT_FALSE(parseCpuTicks("cpu 1 2 x 4\n"));
    EXPECT_FALSE(parseCpuTicks("cpu 1 2 -3 4\n"));
    EXPECT_FALSE(parseCpuTicks("cpu0 1 2 3 4\n"));  // no aggregate line
    EXPECT_FALSE(parseCpuTicks(""));
    EXPECT_FALSE(parseCpuTicks("cpu 99999999999999999999999 1 2 3\n"));  // overflows 64 bits
}

TEST(ProcfsParse, BootTimeAndLoadAverage) {
    EXPECT_EQ(parseBootTime("cpu 1 2 3 4\nbtime 1700000000\n"), 1700000000);
    EXPECT_FALSE(parseBootTime("cpu 1 2 3 4\n"));
    EXPECT_FALSE(parseBootTime("btime soon\n"));

    auto load = parseLoadAverage("0.42 0.17 0.05 3/128 8121\n");
    ASSERT_TRUE(load);
    EXPECT_DOUBLE_EQ(load->one, 0.42);
    EXPECT_DOUBLE_EQ(load->fifteen, 0.05);
    EXPECT_EQ(load->running, 3u);
    EXPECT_EQ(load->total, 128u);
    EXPECT_EQ(load->lastPid, 8121u);
    EXPECT_EQ(parseLoadAverage("0.42 0.17 0.05 3/128\n")->lastPid, 0u);  // unknown
    EXPECT_EQ(parseLoadAverage("0.42 0.17 0.05 3/128 -4\n")->lastPid, 0u);
    EXPECT_FALSE(parseLoadAverage("0.42 0.17\n"));
    EXPECT_FALSE(parseLoadAverage("0.42 0.17 0.05 3-128 1\n"));
    EXPECT_FALSE(parseLoadAverage("0.42 0.17 0.05 9/3 1\n"));
    EXPECT_FALSE(parseLoadAverage("nan 0.17 0.05 1/3 1\n"));
}

TEST(ProcfsParse, BrandPrefersModelNameThenHardwareThenProcessor) {
    EXPECT_EQ(parseCpuBrand("processor\t: 0\nmodel name\t: Intel(R) Xeon(R)\n"),
              "Intel(R) Xeon(R)");
    EXPECT_EQ(parseCpuBrand("processor : 0\nProcessor : ARMv7\nHardware : BCM2835\n"), "BCM2835");
    EXPECT_EQ(parseCpuBrand("processor : 0\nProcessor : ARMv7 rev 4\n"), "ARMv7 rev 4");
    EXPECT_FALSE(parseCpuBrand("processor : 0\nmodel name :\n"));
}

TEST(ProcfsParse, MemInfoConvertsKilobytesAndCountsMalformedLines) {
    int malformed = 0;
    auto info = parseMemInfo(
        "MemTotal: 1000 kB\nMemFree: 10 kB extra\nMemAvailable: 500 kB\nHugePages_Total: 0\n"
        "garbage line\nSwapTotal:\n",
        &malformed);
    EXPECT_EQ(info.memTotal, 1024000u);
    EXPECT_FALSE(info.memFree);  // a line with an extra field is not trusted
    EXPECT_EQ(info.memAvailable, 512000u);
    EXPECT_FALSE(info.swapTotal);
    EXPECT_EQ(malformed, 3);
}

TEST(ProcfsRead, ThreeOutcomesAndOneErrorLinePerFailure) {
    TempTree tree("this-machine");
    Procfs procfs(tree.root);
    EXPECT_TRUE(procfs.cpuTicks());
    EXPECT_TRUE(procfs.loadAverage());
    EXPECT_TRUE(procfs.memInfo());

    tree.remove("proc/loadavg");
    EXPECT_EQ(procfs.loadAverage().outcome, Outcome::absent);

    tree.write("proc/stat", "cpu 1 2\n");  // truncated
    auto ticks = procfs.cpuTicks();
    EXPECT_EQ(ticks.outcome, Outcome::failure);
    EXPECT_NE(ticks.error.find("proc/stat"), std::string::npos);

    resetReportedErrors();
    testing::internal::CaptureStderr();
    reportIfFailed(ticks, "processor ticks");
    reportIfFailed(ticks, "processor ticks");            // the same failure again is not repeated
    reportIfFailed(procfs.loadAverage(), "getloadavg");  // absent: silent
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("Error: processor ticks -- ", 0), 0u) << err;
}

TEST(ProcfsRead, ProcessCountCountsOnlyNumericFolders) {
    Procfs procfs(vigil::test::fixturePath("multi-socket"));
    auto count = procfs.processCount();
    ASSERT_TRUE(count);
    EXPECT_EQ(count.value, 4u);
}

TEST(ProcfsRead, ProcessCountReadsFoldersLargerThanOneBatch) {
    // More entries than one read of the folder returns, and names that only look like pids.
    char pattern[] = "/tmp/vigil-procfs-XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    std::filesystem::create_directories(root + "/proc");
    for (int pid = 1; pid <= 3000; ++pid)
        std::filesystem::create_directory(root + "/proc/" + std::to_string(pid));
    for (const char* name : {"0", "012", "12a", "self", "thread-self", "9x9"})
        std::filesystem::create_directory(root + "/proc/" + name);
    auto count = Procfs(root).processCount();
    std::filesystem::remove_all(root);
    ASSERT_TRUE(count);
    EXPECT_EQ(count.value, 3000u);
}

TEST(ProcfsRead, LiveMachineAgreesWithItsFiles) {
    Procfs procfs;
    auto boot = procfs.bootTime();
    ASSERT_TRUE(boot);
    EXPECT_GT(boot.value, 1000000000);
    // Awake time never exceeds time since boot.
    EXPECT_LE(Procfs::awakeSeconds(), Procfs::sinceBootSeconds() + 0.01);
    auto processes = procfs.processCount();
    ASSERT_TRUE(processes);
    EXPECT_GT(processes.value, 0u);
}

TEST(ProcfsRead, LiveFilesReadAgainThroughOneProcfsAreFresh) {
    Procfs procfs;
    const auto busyTicks = [](const CpuTicks& t) { return t.user + t.nice + t.system; };
    const auto firstTicks = procfs.cpuTicks();
    const auto firstVm = procfs.vmStat();
    ASSERT_TRUE(firstTicks && firstVm && firstVm.value.pgfault);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool ticksMoved = false, faultsMoved = false;
    while (!(ticksMoved && faultsMoved) && std::chrono::steady_clock::now() < deadline) {
        // Fresh pages fault in, and the busy loop adds processor ticks.
        void* pages =
            ::mmap(nullptr, 1 << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(pages, MAP_FAILED);
        std::memset(pages, 1, 1 << 20);
        ::munmap(pages, 1 << 20);
        const auto spinUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
        while (std::chrono::steady_clock::now() < spinUntil) {
        }
        const auto ticks = procfs.cpuTicks();
        const auto vm = procfs.vmStat();
        ASSERT_TRUE(ticks && vm && vm.value.pgfault);
        ticksMoved = busyTicks(ticks.value) > busyTicks(firstTicks.value);
        faultsMoved = *vm.value.pgfault > *firstVm.value.pgfault;
    }
    EXPECT_TRUE(ticksMoved);
    EXPECT_TRUE(faultsMoved);
}

TEST(ReadHelpersTest, CleanUtf8ReplacesEverySequenceThatIsNotUtf8) {
    const std::string replacement = "\xEF\xBF\xBD";
    // Well-formed text is kept, up to U+10FFFF.
    EXPECT_EQ(cleanUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"),
              "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF");
    // A surrogate half (U+D800), overlong forms of "/" in three and four bytes, a code point
    // above U+10FFFF, and lead bytes that no UTF-8 sequence starts with.
    EXPECT_EQ(cleanUtf8("\xED\xA0\x80"), replacement + replacement + replacement);
    EXPECT_EQ(cleanUtf8("\xE0\x80\xAF"), replacement + replacement + replacement);
    EXPECT_EQ(cleanUtf8("\xF0\x80\x80\xAF"), replacement + replacement + replacement + replacement);
    EXPECT_EQ(cleanUtf8("\xF4\x90\x80\x80"), replacement + replacement + replacement + replacement);
    EXPECT_EQ(cleanUtf8("\xF5\x80\x80\x80"), replacement + replacement + replacement + replacement);
    EXPECT_EQ(cleanUtf8("a\xFF"), "a" + replacement);
    // The cut never splits a sequence.
    EXPECT_EQ(cleanUtf8("ab\xE2\x82\xAC", 4), "ab");
}
