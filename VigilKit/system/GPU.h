#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/DeviceRegistry.h"
#include "platform/DrmFdinfo.h"
#include "platform/Nvml.h"
#include "runtime/Atomic.h"
#include "system/SystemResource.h"

namespace vigil {

// Which graphics processor drives the main display, on machines with an integrated and a discrete
// one, and how hard each one works. The devices are found once at construction; update()
// re-checks which one is in use and samples each device's figures: amdgpu's own files, NVIDIA's
// management library, else the DRM usage figures of the user's processes (drm fdinfo).
class GPU : public SystemResource {
  public:
    // A graphics processor: its model name and its device identifier.
    struct Pair {
        std::string name;
        platform::Blob deviceID;
        bool operator==(const Pair&) const = default;
    };
    using ActiveDeviceID = std::function<std::optional<platform::Blob>()>;

    // One device at work. A figure the driver does not give is nullopt.
    struct Usage {
        std::string name;
        std::string pciAddress;  // "0000:05:00.0"
        std::string driver;      // "amdgpu", "i915", "nvidia", ...
        bool integrated = false;
        std::optional<double> busyPercent;
        std::optional<std::uint64_t> memoryUsed, memoryTotal;  // bytes
        std::optional<double> temperatureC;
        std::optional<double> powerW;
    };

    // Reads the device registry under `root`. `activeDeviceID` names the identifier of the device
    // driving the main display (by default asked of the same registry).
    // `nvmlLibrary` is the NVIDIA management library's name or path.
    explicit GPU(std::string root = "/", ActiveDeviceID activeDeviceID = nullptr,
                 std::string nvmlLibrary = platform::Nvml::kLibrary);

    SystemResourceType type() const override { return SystemResourceType::gpu; }
    void update() override;

    // Whether update() samples each device's figures (on unless switched off before the first
    // update); off, it only re-checks which device is in use.
    void setSamplesUsage(bool on) { samplesUsage_ = on; }
    bool samplesUsage() const { return samplesUsage_; }

    // The model name of the device in use; empty when none is known.
    std::string name() const;
    bool isUsingIntegratedGPU() const;
    bool isUsingDiscreteGPU() const { return !isUsingIntegratedGPU(); }
    bool hasBoth() const { return integrated_.has_value() && discrete_.has_value(); }

    const std::optional<Pair>& integrated() const { return integrated_; }
    const std::optional<Pair>& discrete() const { return discrete_; }
    std::optional<Pair> current() const { return current_.value(); }

    // Every display device's figures of the last update, integrated first.
    std::vector<Usage> usage() const { return usage_.value(); }
    // The GPU share of each process that holds a DRM client, by pid (from drm fdinfo).
    std::unordered_map<pid_t, double> processShares() const { return processShares_.value(); }

  private:
    struct Device {
        Usage usage;                     // name, address, driver and kind
        std::string folder;              // the PCI device's folder under the root
        std::vector<double> recentBusy;  // amdgpu's last instant readings
    };
    void chooseCurrent();
    void sampleUsage();
    void readAmdGpu(Device& device, Usage& out);
    bool needsDrmScan() const;

    platform::DeviceRegistry registry_;
    ActiveDeviceID activeDeviceID_;
    std::optional<Pair> integrated_, discrete_;
    Atomic<std::optional<Pair>> current_;
    std::atomic<bool> samplesUsage_{true};

    // Touched by update() only (two updates never overlap).
    std::vector<Device> devices_;
    platform::Nvml nvml_;
    platform::DrmClientScan drmScan_;
    std::optional<platform::DrmSample> lastDrmSample_;
    Atomic<std::vector<Usage>> usage_;
    Atomic<std::unordered_map<pid_t, double>> processShares_;
};

}  // namespace vigil
