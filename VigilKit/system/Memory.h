#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>

#include "collectors/MemoryData.h"
#include "runtime/Atomic.h"
#include "system/SystemResource.h"

namespace vigil {

// How the machine's memory is used. update() runs on the background queue and publishes whole
// samples; a failed read keeps the previous sample.
class Memory : public SystemResource {
  public:
    struct Sample {
        // free is the memory available to programs: MemFree and what the kernel can reclaim.
        std::uint64_t wired = 0, active = 0, compressed = 0, free = 0, appMemory = 0,
                      cachedFiles = 0, pagesIn = 0, pagesOut = 0, pagesFault = 0;
        // wired + active + compressed + free
        std::uint64_t total() const { return wired + active + compressed + free; }
        // active + wired
        std::uint64_t used() const { return active + wired; }
        // (wired + active + compressed) of total, rounded half away from zero; 0 without a total.
        std::uint8_t usage() const;
        // wired, active, compressed, free, each a rounded percent of total (0s without a total).
        std::tuple<std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t> percents() const;
    };

    explicit Memory(std::string root = "/");

    SystemResourceType type() const override { return SystemResourceType::mem; }
    void update() override;

    std::shared_ptr<const Sample> sample() const { return sample_.value(); }

    std::uint64_t physical() const { return physical_; }
    std::uint64_t wired() const { return sample()->wired; }
    std::uint64_t active() const { return sample()->active; }
    std::uint64_t compressed() const { return sample()->compressed; }
    std::uint64_t free() const { return sample()->free; }
    std::uint64_t appMemory() const { return sample()->appMemory; }
    std::uint64_t cachedFiles() const { return sample()->cachedFiles; }
    std::uint64_t pagesIn() const { return sample()->pagesIn; }
    std::uint64_t pagesOut() const { return sample()->pagesOut; }
    std::uint64_t pagesFault() const { return sample()->pagesFault; }
    std::uint64_t total() const { return sample()->total(); }
    std::uint64_t used() const { return sample()->used(); }
    std::uint8_t usage() const { return sample()->usage(); }
    std::tuple<std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t> percents() const {
        return sample()->percents();
    }
    // (total, used) bytes of swap space, as of the last sample when that is recent, otherwise read
    // now on the caller's thread; (0, 0) when unknown.
    std::tuple<std::uint64_t, std::uint64_t> swap() const;

  private:
    MemoryCollector& collector() const;

    std::unique_ptr<MemoryCollector> own_;
    std::uint64_t physical_ = 0;
    Atomic<std::shared_ptr<const Sample>> sample_{std::make_shared<const Sample>()};
};

}  // namespace vigil
