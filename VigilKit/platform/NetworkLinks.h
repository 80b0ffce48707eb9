#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RouteWatch.h"

namespace vigil::platform {

// One network link as the kernel reports it (rtnetlink), with 64-bit byte counters.
struct LinkRecord {
    std::string name;
    int index = 0;
    unsigned flags = 0;    // IFF_* flags
    unsigned arpType = 0;  // ARPHRD_* link type (1 = Ethernet, which wireless links use too)
    std::array<uint8_t, 6> mac{};
    bool hasMac = false;
    uint64_t rxBytes = 0;
    uint64_t txBytes = 0;
    int master = 0;  // the index of the bridge or bond this link is a port of; 0 when none
};

// One interface address (IPv4 or IPv6) in numeric form.
struct AddressRecord {
    std::string interface;
    int family = 0;  // AF_INET or AF_INET6
    std::string address;
};

// The network links of this machine's network namespace, and what sysfs and procfs say about them.
// Files are read under `root` so tests can point it at a fixture tree; the link list itself comes
// from the kernel of the current network namespace.
//
// The links are sampled every second: the netlink socket is kept, per network namespace of the
// calling thread, and so are the link list, the addresses and (on the live system) the default
// routes and which links have a device; they are asked again only after the kernel has announced a
// change of routes, addresses or links. Between notices a sample reads only the byte counters.
// Safe to use from several threads.
class NetworkLinks {
  public:
    explicit NetworkLinks(std::string root = "/");

    // Every link in kernel (index) order; nullopt when the kernel could not be asked (an error
    // line has been written).
    std::optional<std::vector<LinkRecord>> links() const;
    // Every IPv4 and IPv6 address, in the kernel's order.
    std::vector<AddressRecord> addresses() const;

    // A link with a device behind it (/sys/class/net/<name>/device), unlike veth, bridge, bond,
    // tap and dummy links, which report the Ethernet type too.
    bool isDeviceBacked(const std::string& name) const;
    // Whether the link exists: asked from the kernel on the live system, from sysfs in a fixture.
    bool exists(const std::string& name) const;
    bool isWireless(const std::string& name) const;
    // The link's ARPHRD_* type from sysfs (1 = Ethernet, 65534 = none, as tun and WireGuard
    // links report); nullopt when it cannot be read.
    std::optional<unsigned> linkType(const std::string& name) const;
    // Link speed in bits per second; nullopt when the driver does not know it.
    std::optional<int64_t> linkSpeed(const std::string& name) const;
    // The `product` of the nearest USB device above the link's device.
    std::optional<std::string> usbProductName(const std::string& name) const;
    // The routes that carry the Internet's traffic (defaultRoutesOf), IPv4 and IPv6: from netlink
    // on the live system (a failed question gives the last answer), from /proc/net/route (the
    // main table, IPv4) in a fixture tree.
    std::vector<DefaultRoute> defaultRoutes() const;
    // The interface of the primary default route (primaryDefaultRoute), if there is one.
    std::optional<std::string> defaultRouteInterface() const;

    // Names of the links sysfs lists, sorted (for fixture trees).
    std::vector<std::string> sysfsLinkNames() const;

    // Whether links without a device behind them are listed. Off by default: on a container host
    // they would count every byte twice. Tests and `vigil-snapshot --all-interfaces` turn it on.
    static void setListVirtualLinks(bool list);
    static bool listVirtualLinks();

    const std::string& root() const { return root_; }

  private:
    struct Live;
    // The live machine's links, whose changes the kernel announces (not a fixture tree).
    bool isLive() const;
    // The answer kept in the `slot` of what is live, or `read` now (and kept when changes can be
    // followed).
    template <typename Slot, typename Read>
    auto kept(Slot slot, Read read) const;
    std::string classNet(const std::string& name) const;
    std::string root_;
    std::shared_ptr<Live> live_;
};

// Sets the byte counters of `records` from /proc/net/dev; false unless every record has exactly one
// well-formed line there.
bool applyNetDevCounters(std::string_view text, std::vector<LinkRecord>& records);

// Parses /proc/net/route (the main table): its up default routes and halves of them (IPv4), as
// defaultRoutesOf lists them.
std::vector<DefaultRoute> parseDefaultRoutes(const std::string& text);
// The interface of the primary default route of /proc/net/route's text.
std::optional<std::string> parseDefaultRouteInterface(const std::string& text);

// A link name that is safe to put into a sysfs path.
bool isPlainLinkName(const std::string& name);

}  // namespace vigil::platform
