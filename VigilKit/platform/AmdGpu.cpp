#include "platform/AmdGpu.h"

#include <algorithm>
#include <filesystem>

#include "platform/Read.h"

namespace vigil::platform {

namespace {

std::optional<std::uint64_t> readNumber(const std::string& path) {
    auto text = readAttribute(path);
    return text ? parseU64(text.value) : std::nullopt;
}

// The card's hwmon folder: the one entry below "<device>/hwmon".
std::optional<std::string> hwmonFolder(const std::string& deviceFolder) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(deviceFolder + "/hwmon", ec)) {
        if (entry.path().filename().string().rfind("hwmon", 0) == 0)
            return entry.path().string();
    }
    return std::nullopt;
}

}  // namespace

std::optional<double> readAmdGpuBusy(const std::string& deviceFolder) {
    auto busy = readNumber(deviceFolder + "/gpu_busy_percent");
    if (!busy)
        return std::nullopt;
    return std::clamp(static_cast<double>(*busy), 0.0, 100.0);
}

AmdGpuReading readAmdGpu(const std::string& deviceFolder) {
    AmdGpuReading r;
    r.busyPercent = readAmdGpuBusy(deviceFolder);
    r.vramUsed = readNumber(deviceFolder + "/mem_info_vram_used");
    r.vramTotal = readNumber(deviceFolder + "/mem_info_vram_total");
    if (r.vramTotal && *r.vramTotal == 0)
        r.vramTotal.reset();
    if (auto hwmon = hwmonFolder(deviceFolder)) {
        if (auto milli = readNumber(*hwmon + "/temp1_input"))
            r.temperatureC = static_cast<double>(*milli) / 1000.0;
        auto micro = readNumber(*hwmon + "/power1_average");
        if (!micro)
            micro = readNumber(*hwmon + "/power1_input");
        if (micro)
            r.powerW = static_cast<double>(*micro) / 1e6;
    }
    return r;
}

}  // namespace vigil::platform
