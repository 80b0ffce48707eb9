#include "system/GPU.h"

#include <algorithm>
#include <cctype>

#include "collectors/GPUData.h"
#include "platform/AmdGpu.h"
#include "platform/Read.h"

namespace vigil {

namespace {
bool containsIgnoringCase(std::string_view text, std::string_view word) {
    auto it = std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
    return it != text.end();
}
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && containsIgnoringCase(a, b);
}

std::string driverOf(const std::string& deviceFolder) {
    auto uevent = platform::readFile(deviceFolder + "/uevent", 64 << 10);
    if (!uevent)
        return {};
    std::string_view text = uevent.value;
    for (auto at = text.find("DRIVER="); at != std::string_view::npos;
         at = text.find("DRIVER=", at + 1)) {
        if (at > 0 && text[at - 1] != '\n')
            continue;
        std::string_view driver = text.substr(at + 7);
        return std::string(platform::trim(driver.substr(0, driver.find('\n'))));
    }
    return {};
}

const platform::DrmUsage* drmUsageOf(const std::optional<platform::DrmUsageReport>& report,
                                     const std::string& pciAddress) {
    if (!report)
        return nullptr;
    auto it = report->byDevice.find(pciAddress);
    return it == report->byDevice.end() ? nullptr : &it->second;
}

// amdgpu's busy share is an instant reading: the figure shown is the mean of the last few.
constexpr std::size_t kBusyReadings = 3;
}  // namespace

GPU::GPU(std::string root, ActiveDeviceID activeDeviceID, std::string nvmlLibrary)
    : registry_(root),
      activeDeviceID_(std::move(activeDeviceID)),
      nvml_(std::move(nvmlLibrary)),
      drmScan_(root) {
    if (!activeDeviceID_) {
        activeDeviceID_ = [this] { return getActiveGPUDeviceID(registry_); };
    }
    for (const auto& entry : registry_.matching("IOPCIDevice")) {
        auto ioName = platform::asText(registry_.property(entry, "IOName"));
        if (!ioName || !equalsIgnoringCase(*ioName, "display"))
            continue;
        Pair pair;
        pair.deviceID =
            platform::asBlob(registry_.property(entry, "device-id")).value_or(platform::Blob{});
        auto model = platform::asBlob(registry_.property(entry, "model"));
        pair.name = model ? platform::cleanUtf8(std::string_view(
                                reinterpret_cast<const char*>(model->data()), model->size()))
                          : "Unknown";
        const bool integrated = registry_.graphicsKind(entry) == platform::GraphicsKind::integrated;
        Device device;
        device.usage.name = pair.name;
        device.usage.pciAddress = entry.name;
        device.usage.driver = driverOf(entry.path);
        device.usage.integrated = integrated;
        device.folder = entry.path;
        devices_.push_back(std::move(device));
        auto& slot = integrated ? integrated_ : discrete_;
        if (!slot)
            slot = std::move(pair);
    }
    std::stable_sort(devices_.begin(), devices_.end(), [](const Device& a, const Device& b) {
        return a.usage.integrated && !b.usage.integrated;
    });
    std::vector<Usage> known;
    for (const auto& device : devices_)
        known.push_back(device.usage);
    usage_.setValue(std::move(known));
    chooseCurrent();
}

void GPU::chooseCurrent() {
    std::optional<Pair> chosen = integrated_;
    if (auto id = activeDeviceID_(); id && discrete_ && discrete_->deviceID == *id)
        chosen = discrete_;
    current_.setValue(std::move(chosen));
}

void GPU::update() {
    chooseCurrent();
    if (samplesUsage_)
        sampleUsage();
}

// NVIDIA's own driver gives no DRM usage figures: the scan is for every other driver.
bool GPU::needsDrmScan() const {
    return std::any_of(devices_.begin(), devices_.end(),
                       [](const Device& d) { return d.usage.driver != "nvidia"; });
}

void GPU::readAmdGpu(Device& device, Usage& out) {
    auto reading = platform::readAmdGpu(device.folder);
    if (reading.busyPercent) {
        device.recentBusy.push_back(*reading.busyPercent);
        if (device.recentBusy.size() > kBusyReadings)
            device.recentBusy.erase(device.recentBusy.begin());
    } else {
        device.recentBusy.clear();  // the chip refuses it, or stopped answering
    }
    if (!device.recentBusy.empty()) {
        double sum = 0;
        for (double b : device.recentBusy)
            sum += b;
        out.busyPercent = sum / static_cast<double>(device.recentBusy.size());
    }
    out.memoryUsed = reading.vramUsed;
    out.memoryTotal = reading.vramTotal;
    out.temperatureC = reading.temperatureC;
    out.powerW = reading.powerW;
}

void GPU::sampleUsage() {
    std::optional<platform::DrmUsageReport> drm;
    if (needsDrmScan()) {
        auto sample = drmScan_.sample();
        drm = platform::compareDrmSamples(lastDrmSample_.value_or(platform::DrmSample{}), sample);
        lastDrmSample_ = std::move(sample);
    }
    std::vector<Usage> all;
    for (auto& device : devices_) {
        Usage u = device.usage;
        if (u.driver == "amdgpu")
            readAmdGpu(device, u);
        if (u.driver == "nvidia") {
            if (auto r = nvml_.read(u.pciAddress)) {
                u.busyPercent = r->busyPercent;
                u.memoryUsed = r->memoryUsed;
                u.memoryTotal = r->memoryTotal;
                u.temperatureC = r->temperatureC;
                u.powerW = r->powerW;
            }
        } else if (const platform::DrmUsage* seen = drmUsageOf(drm, u.pciAddress)) {
            // Only where some process of the user holds a client of the device: with none,
            // the user's share is nil but the device's own load is not known.
            if (!u.busyPercent)
                u.busyPercent = seen->busyPercent;
            if (!u.memoryUsed)
                u.memoryUsed = seen->memoryBytes;
        }
        all.push_back(std::move(u));
    }
    usage_.setValue(std::move(all));
    std::unordered_map<pid_t, double> shares;
    if (drm) {
        for (const auto& [pid, use] : drm->byProcess)
            if (use.busyPercent)
                shares.emplace(pid, *use.busyPercent);
    }
    processShares_.setValue(std::move(shares));
}

std::string GPU::name() const {
    auto c = current_.value();
    return c ? c->name : std::string();
}

bool GPU::isUsingIntegratedGPU() const {
    auto c = current_.value();
    if (!integrated_ || !c)
        return !integrated_ && !c;
    return integrated_->deviceID == c->deviceID;
}

}  // namespace vigil
