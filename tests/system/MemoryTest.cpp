#include "system/Memory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/TestTree.h"

using namespace vigil;
using vigil::test::TempTree;

TEST(MemoryResource, ArithmeticGuardsItsTotal) {
    Memory::Sample empty;
    EXPECT_EQ(empty.usage(), 0);
    EXPECT_EQ(empty.percents(), std::make_tuple(0, 0, 0, 0));

    Memory::Sample s;
    s.wired = 125;
    s.active = 0;
    s.compressed = 0;
    s.free = 875;
    EXPECT_EQ(s.total(), 1000u);
    EXPECT_EQ(s.usage(), 13);  // 12.5 rounds away from zero
    s.compressed = 100;
    s.free = 775;
    EXPECT_EQ(s.used(), 125u);  // compressed is not in used...
    EXPECT_EQ(s.usage(), 23);   // ...but is in usage (22.5 -> 23)
    auto [w, a, c, f] = s.percents();
    EXPECT_EQ(w, 13);
    EXPECT_EQ(c, 10);
    EXPECT_EQ(f, 78);
    (void)a;
}

TEST(MemoryResource, FixtureMachinesAndFailures) {
    TempTree tree("zram");
    Memory memory(tree.root);
    EXPECT_EQ(memory.type(), SystemResourceType::mem);
    EXPECT_EQ(memory.physical(), 8000000ull * 1024);
    EXPECT_EQ(memory.total(), 0u);  // before the first update
    memory.update();
    EXPECT_EQ(memory.total(), memory.physical());
    EXPECT_EQ(memory.free(), 3000000ull * 1024);  // available memory, inactive included
    EXPECT_EQ(memory.compressed(), 549453824u);
    EXPECT_EQ(memory.swap(), std::make_tuple(8000000ull * 1024, 2000000ull * 1024));
    auto previous = memory.sample();

    tree.write("proc/meminfo", "MemTotal: banana kB\n");
    memory.update();  // a failed read keeps the previous sample
    EXPECT_EQ(memory.sample(), previous);
    EXPECT_EQ(memory.swap(), std::make_tuple(0ull, 0ull));

    // Swap asked between two samples comes from the last sample's read of the same file; with no
    // sample (or none lately) it is read at once.
    const std::string meminfo =
        "MemTotal: 8000000 kB\nMemFree: 1000000 kB\n"
        "MemAvailable: 3000000 kB\nSwapTotal: 4000 kB\nSwapFree: 1000 kB\n";
    tree.write("proc/meminfo", meminfo);
    memory.update();
    tree.write("proc/meminfo",
               "MemTotal: 8000000 kB\nMemFree: 1 kB\nSwapTotal: 9000 kB\nSwapFree: 9000 kB\n");
    EXPECT_EQ(memory.swap(), std::make_tuple(4000ull * 1024, 3000ull * 1024));
    EXPECT_EQ(Memory(tree.root).swap(), std::make_tuple(9000ull * 1024, 0ull));

    TempTree none;
    Memory missing(none.root);
    missing.update();
    EXPECT_EQ(missing.physical(), 0u);
    EXPECT_EQ(missing.usage(), 0);
}

TEST(MemoryResource, LiveMachineAgreesWithMeminfoAndFree) {
    Memory memory;
    memory.update();
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kb = 0, memTotal = 0;
    std::string unit;
    while (meminfo >> key >> kb) {
        std::getline(meminfo, unit);
        if (key == "MemTotal:")
            memTotal = kb * 1024;
    }
    EXPECT_EQ(memory.physical(), memTotal);
    EXPECT_EQ(memory.total(), memTotal);

    FILE* pipe = ::popen("free -b", "r");
    if (!pipe)
        GTEST_SKIP() << "free(1) is not available";
    char line[512];
    std::uint64_t total = 0, used = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        unsigned long long t = 0, u = 0;
        if (std::sscanf(line, "Mem: %llu %llu", &t, &u) == 2) {
            total = t;
            used = u;
        }
    }
    ::pclose(pipe);
    if (total == 0)
        GTEST_SKIP() << "free(1) printed no Mem: line";
    memory.update();
    // free(1) reports used = total - available; ours is wired + active (+ compressed, which free
    // counts as used too).
    const double ours = static_cast<double>(memory.used() + memory.compressed());
    EXPECT_NEAR(ours, static_cast<double>(used), 0.01 * static_cast<double>(total));
    EXPECT_NEAR(memory.usage(), static_cast<double>(used) * 100.0 / static_cast<double>(total),
                1.0);
}
