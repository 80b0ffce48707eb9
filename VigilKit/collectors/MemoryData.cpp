#include "collectors/MemoryData.h"

#include <unistd.h>

#include <algorithm>

#include "platform/Read.h"

using vigil::platform::Outcome;

namespace vigil {

namespace {
std::uint64_t value(const std::optional<std::uint64_t>& v) {
    return v.value_or(0);
}
std::uint64_t minus(std::uint64_t a, std::uint64_t b) {
    return a > b ? a - b : 0;
}
}  // namespace

std::optional<MEMData> deriveMEMData(const platform::MemInfo& info, const platform::VmStat& vm,
                                     std::uint64_t zramUsed, long pageSize) {
    if (!info.memTotal || !info.memFree || pageSize <= 0)
        return std::nullopt;
    const std::uint64_t total = *info.memTotal;
    std::uint64_t available = info.memAvailable
                                  ? *info.memAvailable
                                  : minus(value(info.memFree) + value(info.buffers) +
                                              value(info.cached) + value(info.sReclaimable),
                                          value(info.shmem));
    available = std::min(available, total);
    const std::uint64_t memFree = std::min(*info.memFree, available);
    const std::uint64_t inUse = total - available;

    MEMData d{};
    d.memFree = memFree;
    d.inactive = available - memFree;
    d.wired = std::min(inUse, value(info.sUnreclaim) + value(info.kernelStack) +
                                  value(info.pageTables) + value(info.unevictable));
    d.compressed = std::min(inUse - d.wired, value(info.zswap) + zramUsed);
    d.active = inUse - d.wired - d.compressed;
    d.appMemory = value(info.anonPages) + value(info.shmem);
    d.cachedFiles = minus(value(info.buffers) + value(info.cached), value(info.shmem));
    const auto page = static_cast<std::uint64_t>(pageSize);
    d.pagesIn = value(vm.pgpgin) / page * 1024 + value(vm.pgpgin) % page * 1024 / page;
    d.pagesOut = value(vm.pgpgout) / page * 1024 + value(vm.pgpgout) % page * 1024 / page;
    d.pagesFault = value(vm.pgfault);
    return d;
}

std::optional<SwapUsage> deriveSwap(const platform::MemInfo& info) {
    if (!info.swapTotal)
        return std::nullopt;
    SwapUsage swap;
    swap.total = *info.swapTotal;
    swap.used = minus(*info.swapTotal, value(info.swapFree));
    return swap;
}

MemoryCollector::MemoryCollector(std::string root) : procfs_(root), sysfs_(root) {}

int MemoryCollector::data(MEMData* data) {
    std::lock_guard<std::mutex> lock(mutex_);
    sampledSwap_.reset();
    auto info = procfs_.memInfo();
    if (!info) {
        platform::reportUnreadable("memory sample",
                                   info.outcome == Outcome::absent
                                       ? procfs_.path("/proc/meminfo") + ": missing"
                                       : info.error);
        return 0;
    }
    sampledSwap_ =
        SampledSwap{deriveSwap(info.value).value_or(SwapUsage{}), std::chrono::steady_clock::now()};
    auto vm = procfs_.vmStat();
    platform::reportIfFailed(vm, "memory sample");
    auto zram = zramMemoryUsed();
    platform::reportIfFailed(zram, "memory sample");
    auto derived =
        deriveMEMData(info.value, vm.value, zram ? zram.value : 0, ::sysconf(_SC_PAGESIZE));
    if (!derived) {
        platform::reportError("memory sample", "no page size");
        return 0;
    }
    *data = *derived;
    return 1;
}

platform::Read<std::uint64_t> MemoryCollector::zramMemoryUsed() {
    const auto now = std::chrono::steady_clock::now();
    if (!zramFiles_ || now - zramListed_ >= kZramListInterval) {
        zramFiles_ = sysfs_.zramStatFiles(sysfs_.zramDevices());
        zramListed_ = now;
    }
    bool gone = false;
    auto used = sysfs_.zramMemoryUsed(*zramFiles_, &gone);
    if (gone)
        zramFiles_.reset();
    return used;
}

std::optional<SwapUsage> MemoryCollector::swap() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sampledSwap_ && std::chrono::steady_clock::now() - sampledSwap_->at < kSwapFromSample)
        return sampledSwap_->usage;
    auto info = procfs_.memInfo();
    if (!info) {
        platform::reportUnreadable("swap", info.outcome == Outcome::absent
                                               ? procfs_.path("/proc/meminfo") + ": missing"
                                               : info.error);
        return std::nullopt;
    }
    // A kernel built without swap prints no swap lines: no swap space.
    return deriveSwap(info.value).value_or(SwapUsage{});
}

std::uint64_t MemoryCollector::physical() {
    std::lock_guard<std::mutex> lock(mutex_);
    auto info = procfs_.memInfo();
    platform::reportIfFailed(info, "memory size");
    return info ? value(info.value.memTotal) : 0;
}

MemoryCollector& sharedMemoryCollector() {
    static auto* collector = new MemoryCollector("/");
    return *collector;
}

}  // namespace vigil

int getMEMData(MEMData* data) {
    return vigil::sharedMemoryCollector().data(data);
}
