#pragma once

#include <optional>

#include "platform/DeviceRegistry.h"

namespace vigil {
// The "device-id" of the graphics device that drives the main display, searched from that device
// upward; nullopt when not found.
std::optional<platform::Blob> getActiveGPUDeviceID(const platform::DeviceRegistry& registry);
}  // namespace vigil

// The same on the live machine.
std::optional<vigil::platform::Blob> getActiveGPUDeviceID();
