#include "system/Memory.h"

#include <cmath>

namespace vigil {

namespace {
std::uint8_t roundedPercent(std::uint64_t part, std::uint64_t total) {
    if (total == 0)
        return 0;
    double v = std::round(static_cast<double>(part) / static_cast<double>(total) * 100.0);
    if (!(v >= 0))
        return 0;
    return static_cast<std::uint8_t>(std::min(v, 100.0));
}
}  // namespace

std::uint8_t Memory::Sample::usage() const {
    return roundedPercent(wired + active + compressed, total());
}

std::tuple<std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t> Memory::Sample::percents()
    const {
    std::uint64_t t = total();
    return {roundedPercent(wired, t), roundedPercent(active, t), roundedPercent(compressed, t),
            roundedPercent(free, t)};
}

Memory::Memory(std::string root) {
    if (root != "/")
        own_ = std::make_unique<MemoryCollector>(root);
    physical_ = collector().physical();
}

MemoryCollector& Memory::collector() const {
    return own_ ? *own_ : sharedMemoryCollector();
}

void Memory::update() {
    MEMData data{};
    int result = own_ ? own_->data(&data) : getMEMData(&data);
    if (result < 1)
        return;
    auto next = std::make_shared<Sample>();
    next->free = data.memFree + data.inactive;
    next->active = data.active;
    next->wired = data.wired;
    next->compressed = data.compressed;
    next->pagesIn = data.pagesIn;
    next->pagesOut = data.pagesOut;
    next->pagesFault = data.pagesFault;
    next->appMemory = data.appMemory;
    next->cachedFiles = data.cachedFiles;
    sample_.setValue(std::move(next));
}

std::tuple<std::uint64_t, std::uint64_t> Memory::swap() const {
    auto usage = collector().swap();
    if (!usage)
        return {0, 0};
    return {usage->total, usage->used};
}

}  // namespace vigil
