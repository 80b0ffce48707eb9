#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vigil::platform {
class NetworkLinks;
}

// One listed interface. The text pointers are valid only during the callback.
struct NetworkData {
    int64_t ibytes;
    int64_t obytes;
    const char* ipaddr;
    const char* mac;
    int ifindex;  // the kernel's index: a link re-created under the same name gets a new one
};

// What the device registry knows of an interface, read once when it is first seen.
struct NetworkExtra {
    int64_t linkSpeed;  // bits per second, 0 when the driver does not know it
    uint8_t isPrimary;
    uint8_t isWifi;
    const char* name;
};

using NetworkDataCallback =
    std::function<void(int64_t timestamp, const char* name, const NetworkData* data)>;
using NetworkExtraCallback = std::function<void(const NetworkExtra* extra)>;

// Reports every listed interface: up and running, not loopback, and either carrying a default route
// (whatever its kind, with or without an address: a bridge, a bond, a VPN tunnel) or Ethernet-type
// with a device behind it (unless virtual links are turned on) and a usable address. A port of a
// listed bridge or bond is left out, so that its bytes are counted once. The timestamp is in
// milliseconds on the monotonic clock, taken once per call.
void getNetworkData(const NetworkDataCallback& callback);
void getNetworkData(const vigil::platform::NetworkLinks& links,
                    const NetworkDataCallback& callback);

void getNetworkExtra(const char* bsdName, const NetworkExtraCallback& callback);
// The interface of the primary default route (the IPv4 one with the lowest metric, else IPv6),
// through the links getNetworkData keeps.
std::optional<std::string> getPrimaryNetworkInterface();
void getNetworkExtra(const vigil::platform::NetworkLinks& links, const char* bsdName,
                     const NetworkExtraCallback& callback);

// True when `host` (the public-address server's host name) resolves to an IPv4 address.
bool isConnectedToInternet(const std::string& host);
