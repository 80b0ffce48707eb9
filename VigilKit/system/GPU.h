#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/DeviceRegistry.h"
#include "system/Atomic.h"
#include "system/SystemResource.h"

namespace vigil {

// Which graphics processor drives the main display, on machines with an integrated and a discrete
// one. The devices are found once at construction; update() only re-checks which one is in use.
class GPU : public SystemResource {
  public:
    // A graphics processor: its model name and its device identifier.
    struct Pair {
        std::string name;
        platform::Blob deviceID;
        bool operator==(const Pair&) const = default;
    };
    using ActiveDeviceID = std::function<std::optional<platform::Blob>()>;

    // Reads the device registry under `root`. `activeDeviceID` names the identifier of the device
    // driving the main display (by default asked of the same registry).
    explicit GPU(std::string root = "/", ActiveDeviceID activeDeviceID = nullptr);

    SystemResourceType type() const override { return SystemResourceType::gpu; }
    void update() override;

    // The model name of the device in use; empty when none is known.
    std::string name() const;
    bool isUsingIntegratedGPU() const;
    bool isUsingDiscreteGPU() const { return !isUsingIntegratedGPU(); }
    bool hasBoth() const { return integrated_.has_value() && discrete_.has_value(); }

    const std::optional<Pair>& integrated() const { return integrated_; }
    const std::optional<Pair>& discrete() const { return discrete_; }
    std::optional<Pair> current() const { return current_.value(); }

  private:
    void chooseCurrent();

    platform::DeviceRegistry registry_;
    ActiveDeviceID activeDeviceID_;
    std::optional<Pair> integrated_, discrete_;
    Atomic<std::optional<Pair>> current_;
};

}  // namespace vigil
