#include "system/GPU.h"

#include <algorithm>
#include <cctype>

#include "collectors/GPUData.h"

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
}  // namespace

GPU::GPU(std::string root, ActiveDeviceID activeDeviceID)
    : registry_(std::move(root)), activeDeviceID_(std::move(activeDeviceID)) {
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
        auto& slot = registry_.graphicsKind(entry) == platform::GraphicsKind::integrated
                         ? integrated_
                         : discrete_;
        if (!slot)
            slot = std::move(pair);
    }
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
