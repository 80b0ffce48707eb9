#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/KeptFile.h"
#include "platform/Read.h"

namespace vigil::platform {

// The aggregate line of /proc/stat, in clock ticks. Fields the kernel does not print stay 0.
struct CpuTicks {
    std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0,
                  steal = 0;
    // The "processes" line of the same file: tasks (threads included) created since boot.
    std::optional<std::uint64_t> forks;
};

struct LoadAverage {
    double one = 0, five = 0, fifteen = 0;
    std::uint32_t running = 0;  // runnable scheduling entities
    std::uint32_t total = 0;    // every scheduling entity (thread) of the machine
    std::uint32_t lastPid = 0;  // the pid given out last; 0 when the kernel does not say
};

// /proc/meminfo in bytes. A line the kernel does not print is nullopt.
struct MemInfo {
    std::optional<std::uint64_t> memTotal, memFree, memAvailable, buffers, cached, swapCached,
        active, inactive, unevictable, swapTotal, swapFree, anonPages, shmem, sReclaimable,
        sUnreclaim, kernelStack, pageTables, zswap;
};

struct VmStat {
    std::optional<std::uint64_t> pgpgin, pgpgout, pgfault, pswpin, pswpout;
};

// Pure parsers over the text of the files. Each returns nullopt when the text does not hold what it
// must (a missing aggregate line, a field that is not a number).
std::optional<CpuTicks> parseCpuTicks(std::string_view procStat);
std::optional<std::int64_t> parseBootTime(std::string_view procStat);
std::optional<LoadAverage> parseLoadAverage(std::string_view procLoadavg);
// "model name", else "Hardware", else "Processor" (the first such line). nullopt when none.
std::optional<std::string> parseCpuBrand(std::string_view procCpuinfo);
// Never fails: lines that do not parse are skipped. `malformed` counts them.
MemInfo parseMemInfo(std::string_view procMeminfo, int* malformed = nullptr);
VmStat parseVmStat(std::string_view procVmstat);

// Reads the kernel's process file system under a root directory ("/" on a live machine, a fixture
// tree in tests). Results follow the three outcomes of Read; a file that exists but does not parse
// is a failure.
class Procfs {
  public:
    explicit Procfs(std::string root = "/");
    const std::string& root() const { return root_; }
    std::string path(std::string_view rel) const { return joinRoot(root_, rel); }

    Read<CpuTicks> cpuTicks() const;
    Read<std::int64_t> bootTime() const;
    Read<LoadAverage> loadAverage() const;
    Read<std::string> cpuBrand() const;
    Read<MemInfo> memInfo() const;
    Read<VmStat> vmStat() const;
    // The number of processes: numeric entries of /proc.
    Read<std::uint32_t> processCount() const;

    // Seconds the machine has been awake (CLOCK_MONOTONIC) and since boot including sleep
    // (CLOCK_BOOTTIME). These come from the running kernel whatever the root.
    static double awakeSeconds();
    static double sinceBootSeconds();

  private:
    std::string root_;
    // Reused between reads; a Procfs has one user at a time.
    mutable std::string buffer_;
    mutable KeptFile stat_, loadavg_, meminfo_, vmstat_;
};

}  // namespace vigil::platform
