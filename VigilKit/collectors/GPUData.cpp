#include "collectors/GPUData.h"

namespace vigil {
std::optional<platform::Blob> getActiveGPUDeviceID(const platform::DeviceRegistry& registry) {
    auto display = registry.mainDisplay();
    if (!display)
        return std::nullopt;
    return platform::asBlob(registry.searchProperty(*display, "device-id", /*upward=*/true));
}
}  // namespace vigil

std::optional<vigil::platform::Blob> getActiveGPUDeviceID() {
    static const vigil::platform::DeviceRegistry registry("/");
    return vigil::getActiveGPUDeviceID(registry);
}
