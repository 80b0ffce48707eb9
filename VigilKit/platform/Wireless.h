#pragma once

#include <optional>
#include <string>

namespace vigil::platform {

// The network name (SSID) a wireless link is associated with: asked from nl80211, else through the
// older wireless-extensions ioctl. nullopt when the link is not associated or not wireless.
std::optional<std::string> wirelessNetworkName(const std::string& interface);

}  // namespace vigil::platform
