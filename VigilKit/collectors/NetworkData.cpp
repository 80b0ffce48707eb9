#include "collectors/NetworkData.h"

#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "C/system/ErrorReport.h"
#include "C/system/Time.h"
#include "platform/NetworkLinks.h"
#include "platform/Wireless.h"

namespace {

const vigil::platform::NetworkLinks& systemLinks() {
    static const vigil::platform::NetworkLinks links("/");
    return links;
}

// Lower-case hex pairs joined by colons, as the kernel writes a link's address.
std::string macText(const vigil::platform::LinkRecord& link) {
    if (!link.hasMac)
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text(17, ':');
    for (std::size_t i = 0; i < 6; ++i) {
        text[3 * i] = kHex[link.mac[i] >> 4];
        text[3 * i + 1] = kHex[link.mac[i] & 0xf];
    }
    return text;
}

bool carriesDefaultRoute(const std::vector<vigil::platform::DefaultRoute>& routes,
                         const std::string& name) {
    return std::any_of(routes.begin(), routes.end(),
                       [&](const auto& route) { return route.interface == name; });
}

// An uplink (a link that carries a default route: a bridge, a bond, a VPN tunnel) is listed
// whatever its kind; other links only when they are Ethernet-type and, unless virtual links are
// listed, have a device behind them.
bool isListed(const vigil::platform::NetworkLinks& links, const vigil::platform::LinkRecord& link,
              bool uplink) {
    const bool upAndRunning = (link.flags & IFF_UP) && (link.flags & IFF_RUNNING);
    if (!upAndRunning || (link.flags & IFF_LOOPBACK))
        return false;
    if (uplink)
        return true;
    if (link.arpType != ARPHRD_ETHER)
        return false;
    return vigil::platform::NetworkLinks::listVirtualLinks() || links.isDeviceBacked(link.name);
}

int64_t asSigned(uint64_t counter) {
    return counter > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(counter);
}

}  // namespace

void getNetworkData(const NetworkDataCallback& callback) {
    getNetworkData(systemLinks(), callback);
}

void getNetworkData(const vigil::platform::NetworkLinks& links,
                    const NetworkDataCallback& callback) {
    const auto records = links.links();
    if (!records)
        return;
    const int64_t timestamp = Time_monotonicMilli();

    // The first usable address of each interface, in the kernel's order (IPv4 before IPv6).
    std::unordered_map<std::string, std::string> firstAddress;
    for (const auto& address : links.addresses()) {
        if (!address.address.empty())
            firstAddress.try_emplace(address.interface, address.address);
    }

    // Which links are listed: uplinks, and the other links that have an address. A port of a
    // listed bridge or bond is not: its bytes are the bridge's, and would be counted twice.
    const auto uplinks = links.defaultRoutes();
    std::vector<const vigil::platform::LinkRecord*> listed;
    std::unordered_set<int> listedIndexes;
    for (const auto& link : *records) {
        const bool uplink = carriesDefaultRoute(uplinks, link.name);
        if (!isListed(links, link, uplink))
            continue;
        if (!uplink && !firstAddress.count(link.name))
            continue;
        listed.push_back(&link);
        listedIndexes.insert(link.index);
    }

    static const std::string kNoAddress;
    for (const auto* link : listed) {
        if (link->master != 0 && listedIndexes.count(link->master))
            continue;
        const auto address = firstAddress.find(link->name);
        const std::string& ipaddr = address == firstAddress.end() ? kNoAddress : address->second;
        const std::string mac = macText(*link);
        const NetworkData data{asSigned(link->rxBytes), asSigned(link->txBytes), ipaddr.c_str(),
                               mac.c_str(), link->index};
        callback(timestamp, link->name.c_str(), &data);
    }
}

std::optional<std::string> getPrimaryNetworkInterface() {
    return systemLinks().defaultRouteInterface();
}

void getNetworkExtra(const char* bsdName, const NetworkExtraCallback& callback) {
    getNetworkExtra(systemLinks(), bsdName, callback);
}

void getNetworkExtra(const vigil::platform::NetworkLinks& links, const char* bsdName,
                     const NetworkExtraCallback& callback) {
    const std::string name = bsdName ? bsdName : "";
    if (!links.exists(name)) {
        vigil::reportError("network interface '" + name + "'", "no such interface");
        return;
    }
    NetworkExtra extra{};
    extra.linkSpeed = links.linkSpeed(name).value_or(0);
    extra.isPrimary = links.defaultRouteInterface() == name;
    std::string display;
    if (links.isWireless(name)) {
        extra.isWifi = 1;
        display = vigil::platform::wirelessNetworkName(name).value_or("");
        if (display.empty())
            display = "Wifi";
    } else if (const auto type = links.linkType(name); type && *type != ARPHRD_ETHER) {
        // A tunnel (tun, WireGuard: no link-layer type) or a dial-up link.
        display = *type == ARPHRD_NONE ? "VPN" : name;
    } else {
        display = links.usbProductName(name).value_or("");
        if (display.empty())
            display = "Ethernet";
    }
    if (display.size() > 255)
        display.resize(255);
    extra.name = display.c_str();
    callback(&extra);
}

bool isConnectedToInternet(const std::string& host) {
    if (host.empty())
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int status = getaddrinfo(host.c_str(), nullptr, &hints, &result);
    if (result)
        freeaddrinfo(result);
    return status == 0;
}
