#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vigil::platform {

// Figures of one NVIDIA card as the driver's management library gives them.
struct NvmlReading {
    std::optional<double> busyPercent;
    std::optional<std::uint64_t> memoryUsed, memoryTotal;  // bytes
    std::optional<double> temperatureC;
    std::optional<double> powerW;
};

// NVIDIA's management library (NVML), loaded at run time where the driver is installed: never a
// build dependency. Without the library, or when it does not start, every read is nullopt.
class Nvml {
  public:
    static constexpr const char* kLibrary = "libnvidia-ml.so.1";
    explicit Nvml(std::string library = kLibrary);
    ~Nvml();
    Nvml(const Nvml&) = delete;
    Nvml& operator=(const Nvml&) = delete;

    // Whether the library loaded and started.
    bool available();
    // The card at a PCI address ("0000:01:00.0"); nullopt when there is none.
    std::optional<NvmlReading> read(const std::string& pciAddress);

  private:
    struct Api;
    bool load();

    std::string library_;
    bool tried_ = false;
    void* handle_ = nullptr;
    Api* api_ = nullptr;
};

}  // namespace vigil::platform
