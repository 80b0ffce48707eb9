#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/Procfs.h"
#include "platform/Sysfs.h"

// One memory sample, in bytes except the three counters.
struct MEMData {
    std::uint64_t memFree;  // MemFree: memory nothing uses (free() of Memory adds inactive to it)
    std::uint64_t active;
    std::uint64_t inactive;
    std::uint64_t wired;
    std::uint64_t compressed;
    std::uint64_t pagesIn;
    std::uint64_t pagesOut;
    std::uint64_t pagesFault;
    std::uint64_t appMemory;
    std::uint64_t cachedFiles;
};

// Fills the record from the live machine: 1 on success, 0 on failure (with an error line; the
// record is left as it was).
int getMEMData(MEMData* data);

namespace vigil {

// Derives the record from the kernel's figures:
//   memFree + inactive = available memory (MemAvailable, or on kernels without it free + buffers
//     + cached + reclaimable slab - shared memory), split as MemFree and the reclaimable rest;
//   wired = SUnreclaim + KernelStack + PageTables + Unevictable;
//   compressed = zswap's pool plus the memory zram uses;
//   active = the rest of the memory in use, so that memFree + inactive + wired + compressed +
//   active is
//     MemTotal and active + wired + compressed is MemTotal - MemAvailable, the "used" of free(1);
//   appMemory = anonymous and shared memory; cachedFiles = buffers and page cache without shared
//     memory; pagesIn and pagesOut = vmstat's pgpgin and pgpgout (kilobytes) in pages of
//     `pageSize`; pagesFault = pgfault.
// nullopt when MemTotal or MemFree is missing or pageSize is not positive.
std::optional<MEMData> deriveMEMData(const platform::MemInfo& info, const platform::VmStat& vm,
                                     std::uint64_t zramUsed, long pageSize);

struct SwapUsage {
    std::uint64_t total = 0, used = 0;
};
std::optional<SwapUsage> deriveSwap(const platform::MemInfo& info);

class MemoryCollector {
  public:
    explicit MemoryCollector(std::string root = "/");
    int data(MEMData* data);
    // Total and used swap; nullopt when it cannot be read. Taken from the last sample while that
    // is younger than `kSwapFromSample` (it read the same file), read now otherwise.
    std::optional<SwapUsage> swap();
    // MemTotal; 0 when unknown.
    std::uint64_t physical();

    // A little over the memory task's 2 s interval, so that a view asking between two samples
    // never reads the file itself while sampling runs.
    static constexpr std::chrono::milliseconds kSwapFromSample{2500};
    // The zram devices are listed again this often, and when one has gone.
    static constexpr std::chrono::seconds kZramListInterval{30};

  private:
    platform::Read<std::uint64_t> zramMemoryUsed();

    struct SampledSwap {
        SwapUsage usage;
        std::chrono::steady_clock::time_point at;
    };
    std::mutex mutex_;
    std::optional<SampledSwap> sampledSwap_;
    std::optional<std::vector<platform::KeptFile>> zramFiles_;  // kept open between samples
    std::chrono::steady_clock::time_point zramListed_;
    platform::Procfs procfs_;
    platform::Sysfs sysfs_;
};

MemoryCollector& sharedMemoryCollector();

}  // namespace vigil
