#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vigil::platform {

// What amdgpu tells of a card in its sysfs folder: the busy share at this instant
// (gpu_busy_percent, which some chips refuse), video memory (mem_info_vram_used/_total), and the
// card's hwmon temperature (temp1_input) and power (power1_average, else power1_input).
struct AmdGpuReading {
    std::optional<double> busyPercent;
    std::optional<std::uint64_t> vramUsed, vramTotal;  // bytes
    std::optional<double> temperatureC;
    std::optional<double> powerW;
};

// Reads the PCI device folder of an amdgpu card ("<root>/sys/bus/pci/devices/0000:05:00.0").
// Files that are missing or refuse reading leave their figure unknown.
AmdGpuReading readAmdGpu(const std::string& deviceFolder);
// Only the busy share (cheap enough to read several times per sampling interval).
std::optional<double> readAmdGpuBusy(const std::string& deviceFolder);

}  // namespace vigil::platform
