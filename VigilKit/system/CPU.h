#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "collectors/CPUData.h"
#include "platform/Sysfs.h"
#include "runtime/Atomic.h"
#include "system/SystemResource.h"

namespace vigil {

// Processor load since the previous sample, task counts, core counts, brand, boot time and the
// derived uptimes, load averages and thermal state. update() runs on the background queue; every
// reader sees whole samples.
class CPU : public SystemResource {
  public:
    using ThermalState = platform::ThermalState;

    // One sample of the load figures, published whole.
    struct Sample {
        double user = 0, sys = 0, idle = 0;
        std::uint32_t processes = 0, threads = 0;
        double load1 = 0, load5 = 0, load15 = 0;  // the kernel's averages, read with the rest
    };

    // Reads the machine under `root` ("/" is the live machine, whose collector is shared).
    explicit CPU(std::string root = "/");

    SystemResourceType type() const override { return SystemResourceType::cpu; }
    void update() override;

    std::shared_ptr<const Sample> sample() const { return sample_.value(); }
    double user() const { return sample()->user; }
    double sys() const { return sample()->sys; }
    double idle() const { return sample()->idle; }
    std::uint32_t processes() const { return sample()->processes; }
    std::uint32_t threads() const { return sample()->threads; }
    // user + sys of one sample.
    double usage() const;

    std::int64_t physicalCores() const { return physicalCores_; }
    std::int64_t logicalCores() const { return logicalCores_; }
    std::int64_t activePhysicalCores() const { return activePhysicalCores_; }
    std::int64_t activeLogicalCores() const { return activeLogicalCores_; }
    std::int64_t bootTime() const { return bootTime_; }

    // Computed on first read, then kept; writable.
    std::string brand() const;
    void setBrand(std::string brand);

    ThermalState thermalState() const;
    // Wall-clock seconds since boot.
    std::int64_t uptime() const;
    // Seconds awake since boot (sleep excluded), truncated.
    std::int64_t awakeTime() const;
    std::int64_t sleepTime() const;
    // The load averages of the last sample (the kernel itself updates them every 5 s).
    std::tuple<double, double, double> loadavg() const;

  private:
    CPUCollector& collector() const;

    std::unique_ptr<CPUCollector> own_;  // for a root other than "/"
    Atomic<std::shared_ptr<const Sample>> sample_{std::make_shared<const Sample>()};
    std::int64_t physicalCores_ = 0, logicalCores_ = 0, activePhysicalCores_ = 0,
                 activeLogicalCores_ = 0, bootTime_ = 0;
    mutable Atomic<std::optional<std::string>> brand_;
};

}  // namespace vigil
