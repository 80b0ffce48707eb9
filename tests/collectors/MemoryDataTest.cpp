#include "collectors/MemoryData.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/TestTree.h"

using namespace vigil;
using vigil::platform::MemInfo;
using vigil::platform::VmStat;

namespace {
std::uint64_t sum(const MEMData& d) {
    return d.memFree + d.inactive + d.wired + d.compressed + d.active;
}
}  // namespace

TEST(MemoryDerivation, PartsAddUpToTheTotalAndUsedIsTotalMinusAvailable) {
    MemInfo info;
    info.memTotal = 1000 << 20;
    info.memFree = 100 << 20;
    info.memAvailable = 400 << 20;
    info.sUnreclaim = 30 << 20;
    info.kernelStack = 10 << 20;
    info.pageTables = 5 << 20;
    info.unevictable = 5 << 20;
    info.zswap = 20 << 20;
    VmStat vm;
    vm.pgpgin = 8;  // kilobytes
    vm.pgfault = 77;
    auto d = deriveMEMData(info, vm, 30 << 20, 4096);
    ASSERT_TRUE(d);
    EXPECT_EQ(sum(*d), *info.memTotal);
    EXPECT_EQ(d->memFree + d->inactive, *info.memAvailable);
    EXPECT_EQ(d->wired, 50u << 20);
    EXPECT_EQ(d->compressed, 50u << 20);
    EXPECT_EQ(d->active + d->wired + d->compressed, *info.memTotal - *info.memAvailable);
    EXPECT_EQ(d->pagesIn, 2u);  // 8 kB in 4 kB pages
    EXPECT_EQ(d->pagesFault, 77u);
    // With 16 kB pages the same kilobytes are fewer pages.
    EXPECT_EQ(deriveMEMData(info, vm, 0, 16384)->pagesIn, 0u);
}

TEST(MemoryDerivation, OddFiguresNeverUnderflow) {
    MemInfo info;
    info.memTotal = 1000;
    info.memFree = 5000;       // more free than total
    info.memAvailable = 9000;  // more available than total
    info.sUnreclaim = 1ull << 50;
    auto d = deriveMEMData(info, VmStat{}, 1ull << 60, 4096);
    ASSERT_TRUE(d);
    EXPECT_EQ(sum(*d), 1000u);
    EXPECT_EQ(d->active + d->wired + d->compressed, 0u);
    info.memTotal.reset();
    EXPECT_FALSE(deriveMEMData(info, VmStat{}, 0, 4096));
    info.memTotal = 1000;
    EXPECT_FALSE(deriveMEMData(info, VmStat{}, 0, 0));
}

TEST(MemoryCollector, FixtureMachines) {
    const long page = ::sysconf(_SC_PAGESIZE);
    {
        MemoryCollector c(vigil::test::fixturePath("zram"));
        MEMData d{};
        ASSERT_EQ(c.data(&d), 1);
        EXPECT_EQ(sum(d), 8000000ull * 1024);
        EXPECT_EQ(d.compressed, 549453824u);  // what zram holds
        EXPECT_EQ(d.pagesIn, 4000000ull * 1024 / static_cast<std::uint64_t>(page));
        auto swap = c.swap();
        ASSERT_TRUE(swap);
        EXPECT_EQ(swap->total, 8000000ull * 1024);
        EXPECT_EQ(swap->used, 2000000ull * 1024);
    }
    {
        // An old kernel without MemAvailable and without swap.
        MemoryCollector c(vigil::test::fixturePath("no-swap"));
        MEMData d{};
        ASSERT_EQ(c.data(&d), 1);
        // free + buffers + cached + reclaimable slab - shared memory, capped at the total.
        const std::uint64_t available = (100000ull + 20000 + 300000 + 30000 - 10000) * 1024;
        EXPECT_EQ(d.memFree + d.inactive, available);
        EXPECT_EQ(c.swap()->total, 0u);
        EXPECT_EQ(c.physical(), 1000000ull * 1024);
    }
}

TEST(MemoryCollector, ZramDevicesThatGoAreNoticedAndTheListIsReadAgain) {
    vigil::test::TempTree tree("zram");
    MemoryCollector c(tree.root);
    MEMData d{};
    ASSERT_EQ(c.data(&d), 1);
    EXPECT_EQ(d.compressed, 549453824u);
    // zram0 is reset and another device set up in its place.
    tree.remove("sys/block/zram0");
    tree.write("sys/block/zram1/mm_stat", "1048576 262144 300000000 0 300000000 0 0 0 0\n");
    ASSERT_EQ(c.data(&d), 1);
    EXPECT_EQ(d.compressed, 0u) << "the device that went holds nothing";
    ASSERT_EQ(c.data(&d), 1);
    EXPECT_EQ(d.compressed, 300000000u) << "the list is read again after a device went";
}

TEST(MemoryCollector, FailedReadLeavesTheRecordAndWritesOneLine) {
    vigil::test::TempTree tree("multi-socket");
    MemoryCollector c(tree.root);
    MEMData d{};
    d.active = 12345;
    tree.write("proc/meminfo", "MemFree: 10 kB\n");  // no MemTotal
    vigil::platform::resetReportedErrors();
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.data(&d), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(d.active, 12345u);
    EXPECT_EQ(err.rfind("Error: memory sample -- ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    tree.remove("proc/meminfo");
    EXPECT_EQ(c.data(&d), 0);
    EXPECT_FALSE(c.swap());
}

TEST(MemoryCollector, EveryFixtureMachineAddsUpToItsTotal) {
    for (const char* machine : {"this-machine", "multi-socket", "hybrid-core", "offline-core",
                                "thermal-throttled", "no-swap", "zram", "two-gpu", "no-gpu"}) {
        SCOPED_TRACE(machine);
        MemoryCollector c(vigil::test::fixturePath(machine));
        MEMData d{};
        ASSERT_EQ(c.data(&d), 1);
        EXPECT_EQ(sum(d), c.physical());
        EXPECT_GT(d.active + d.wired, 0u);
        ASSERT_TRUE(c.swap());
        EXPECT_LE(c.swap()->used, c.swap()->total);
    }
}
