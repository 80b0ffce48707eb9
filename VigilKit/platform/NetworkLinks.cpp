#include "platform/NetworkLinks.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/link.h>
#include <netlink/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/KeptFile.h"
#include "platform/Read.h"
#include "platform/RouteWatch.h"

namespace vigil::platform {

namespace {

std::atomic<bool> listVirtual{false};

struct SocketDeleter {
    void operator()(nl_sock* sock) const { nl_socket_free(sock); }
};
struct CacheDeleter {
    void operator()(nl_cache* cache) const { nl_cache_free(cache); }
};

LinkRecord toRecord(rtnl_link* link) {
    LinkRecord record;
    if (const char* name = rtnl_link_get_name(link))
        record.name = name;
    record.index = rtnl_link_get_ifindex(link);
    record.flags = rtnl_link_get_flags(link);
    record.arpType = rtnl_link_get_arptype(link);
    if (nl_addr* addr = rtnl_link_get_addr(link); addr && nl_addr_get_len(addr) == 6) {
        std::memcpy(record.mac.data(), nl_addr_get_binary_addr(addr), 6);
        record.hasMac = true;
    }
    record.rxBytes = rtnl_link_get_stat(link, RTNL_LINK_RX_BYTES);
    record.txBytes = rtnl_link_get_stat(link, RTNL_LINK_TX_BYTES);
    record.master = rtnl_link_get_master(link);
    return record;
}

void reportNetlinkError(int err) {
    reportError("netlink links", nl_geterror(err));
}

// The calling thread's network namespace (its inode), 0 when unknown. A thread moves to another
// namespace only by calling unshare or setns itself, and the widget's threads never do, so each
// thread resolves /proc/thread-self/ns/net (a walk through /proc that would cost every network
// sample) when it first asks, and again every half minute in case a host program moved it. A
// forked child's thread has another kernel id and resolves its own.
ino_t currentNetworkNamespace() {
    constexpr auto kRecheck = std::chrono::seconds(30);
    struct Resolved {
        pid_t thread = 0;
        ino_t inode = 0;
        std::chrono::steady_clock::time_point at;
    };
    thread_local Resolved resolved;
    const pid_t caller = ::gettid();
    const auto now = std::chrono::steady_clock::now();
    if (resolved.thread == caller && resolved.inode != 0 && now - resolved.at < kRecheck)
        return resolved.inode;
    struct stat info {};
    if (::stat("/proc/thread-self/ns/net", &info) != 0)
        return 0;
    resolved = Resolved{caller, info.st_ino, now};
    return info.st_ino;
}

std::vector<AddressRecord> readAddresses() {
    std::vector<AddressRecord> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        reportError("getifaddrs", std::strerror(errno));
        return result;
    }
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_name == nullptr)
            continue;
        const int family = entry->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6)
            continue;
        const socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        char text[NI_MAXHOST] = {};
        if (getnameinfo(entry->ifa_addr, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) !=
            0) {
            continue;
        }
        result.push_back({entry->ifa_name, family, text});
    }
    freeifaddrs(list);
    return result;
}

}  // namespace

// What the links keep between samples, for the network namespace it was asked in.
struct NetworkLinks::Live {
    std::mutex mutex;
    ino_t namespaceId = 0;
    std::unique_ptr<nl_sock, SocketDeleter> socket;
    std::unique_ptr<nl_cache, CacheDeleter> cache;
    std::unique_ptr<RouteWatch> watch;  // null: no change notices, nothing is kept
    std::optional<std::vector<AddressRecord>> addresses;
    std::optional<std::vector<DefaultRoute>> defaultRoutes;
    std::vector<DefaultRoute> lastDefaultRoutes;   // kept through a failed question
    std::optional<std::vector<LinkRecord>> links;  // as last listed; counters are read anew
    std::map<std::string, std::optional<bool>> deviceBacked;
    // Opened in the namespace above, and closed when the caller's namespace changes.
    KeptFile counterFile{"/proc/thread-self/net/dev"};
    std::string counterText;  // reused for each read of the counters

    // Starts again in another namespace, and forgets what changed since the last call.
    void sync() {
        const ino_t current = currentNetworkNamespace();
        if (current == 0 || current != namespaceId) {
            cache.reset();
            socket.reset();
            watch.reset();
            counterFile.close();
            forgetListed();
            lastDefaultRoutes.clear();
            namespaceId = current;
            if (current != 0) {
                auto opened = std::make_unique<RouteWatch>();
                if (opened->open())
                    watch = std::move(opened);
            }
            return;
        }
        if (!watch || watch->drain())
            forgetListed();
    }
    void forgetListed() {
        addresses.reset();
        defaultRoutes.reset();
        links.reset();
        deviceBacked.clear();
    }
    bool keeps() const { return watch != nullptr; }

    // Every link with its counters, from the kernel's link dump.
    std::optional<std::vector<LinkRecord>> listLinks() {
        if (!socket) {
            std::unique_ptr<nl_sock, SocketDeleter> sock(nl_socket_alloc());
            if (!sock) {
                reportError("netlink links", "cannot allocate a netlink socket");
                return std::nullopt;
            }
            if (int err = nl_connect(sock.get(), NETLINK_ROUTE); err < 0) {
                reportNetlinkError(err);
                return std::nullopt;
            }
            nl_cache* raw = nullptr;
            if (int err = rtnl_link_alloc_cache(sock.get(), AF_UNSPEC, &raw); err < 0) {
                reportNetlinkError(err);
                return std::nullopt;
            }
            cache.reset(raw);
            socket = std::move(sock);
        } else if (int err = nl_cache_refill(socket.get(), cache.get()); err < 0) {
            reportNetlinkError(err);
            cache.reset();
            socket.reset();
            return std::nullopt;
        }
        std::vector<LinkRecord> records;
        for (nl_object* object = nl_cache_get_first(cache.get()); object != nullptr;
             object = nl_cache_get_next(object)) {
            records.push_back(toRecord(reinterpret_cast<rtnl_link*>(object)));
        }
        std::sort(records.begin(), records.end(),
                  [](const LinkRecord& a, const LinkRecord& b) { return a.index < b.index; });
        return records;
    }

    // The default routes as last asked, or asked now. A question that fails answers what was
    // known before and is asked again next time: only a notice that a route went away clears it.
    std::vector<DefaultRoute> currentDefaultRoutes() {
        if (defaultRoutes)
            return *defaultRoutes;
        std::optional<std::vector<DefaultRoute>> asked;
        if (watch) {
            asked = watch->defaultRoutes();
        } else if (auto routes = RouteWatch::queryRoutes()) {
            asked = defaultRoutesOf(*routes);
        }
        if (!asked)
            return lastDefaultRoutes;
        lastDefaultRoutes = *asked;
        if (keeps())
            defaultRoutes = std::move(asked);
        return lastDefaultRoutes;
    }

    // The links listed before, with the counters read now from the calling thread's namespace;
    // false when a listed link has no well-formed line there (renamed or gone in between).
    bool readCounters(std::vector<LinkRecord>& records) {
        if (counterFile.readInto(counterText, nullptr, 1 << 20) != Outcome::value) {
            return false;
        }
        return applyNetDevCounters(counterText, records);
    }
};

bool isPlainLinkName(const std::string& name) {
    return !name.empty() && name.size() < IFNAMSIZ && name.find('/') == std::string::npos &&
           name != "." && name != "..";
}

NetworkLinks::NetworkLinks(std::string root)
    : root_(std::move(root)), live_(std::make_shared<Live>()) {}

void NetworkLinks::setListVirtualLinks(bool list) {
    listVirtual = list;
}
bool NetworkLinks::listVirtualLinks() {
    return listVirtual;
}

std::optional<std::vector<LinkRecord>> NetworkLinks::links() const {
    std::lock_guard lock(live_->mutex);
    live_->sync();
    // Links change with a notice; their counters do not. Between notices only the counters are
    // read, which costs one small text file instead of a dump of every link attribute.
    if (live_->links) {
        std::vector<LinkRecord> records = *live_->links;
        if (live_->readCounters(records))
            return records;
        live_->links.reset();
    }
    auto records = live_->listLinks();
    if (records && live_->keeps())
        live_->links = records;
    return records;
}

bool NetworkLinks::isLive() const {
    return root_.empty() || root_ == "/";
}

template <typename Slot, typename Read>
auto NetworkLinks::kept(Slot slot, Read read) const {
    std::lock_guard lock(live_->mutex);
    live_->sync();
    auto& answer = slot(*live_);
    if (answer)
        return *answer;
    auto fresh = read();
    if (live_->keeps())
        answer = fresh;
    return fresh;
}

std::vector<AddressRecord> NetworkLinks::addresses() const {
    return kept(
        [](Live & live) -> auto& { return live.addresses; }, readAddresses);
}

std::string NetworkLinks::classNet(const std::string& name) const {
    return joinRoot(root_, "/sys/class/net/" + name);
}

bool NetworkLinks::isDeviceBacked(const std::string& name) const {
    if (!isPlainLinkName(name))
        return false;
    const auto hasDevice = [&] {
        std::error_code error;
        return std::filesystem::exists(classNet(name) + "/device", error);
    };
    if (!isLive())
        return hasDevice();  // a fixture's tree changes without notice
    return kept([&](Live& live) -> std::optional<bool>& { return live.deviceBacked[name]; },
                hasDevice);
}

bool NetworkLinks::exists(const std::string& name) const {
    if (!isPlainLinkName(name))
        return false;
    if (isLive())
        return if_nametoindex(name.c_str()) != 0;
    std::error_code error;
    return std::filesystem::exists(classNet(name), error);
}

bool NetworkLinks::isWireless(const std::string& name) const {
    if (!isPlainLinkName(name))
        return false;
    std::error_code error;
    return std::filesystem::exists(classNet(name) + "/wireless", error) ||
           std::filesystem::exists(classNet(name) + "/phy80211", error);
}

std::optional<unsigned> NetworkLinks::linkType(const std::string& name) const {
    if (!isPlainLinkName(name))
        return std::nullopt;
    const auto text = readAttribute(classNet(name) + "/type");
    const auto type = text ? parseU64(text.value) : std::nullopt;
    if (!type || *type > 0xffff)
        return std::nullopt;
    return static_cast<unsigned>(*type);
}

std::optional<int64_t> NetworkLinks::linkSpeed(const std::string& name) const {
    if (!isPlainLinkName(name))
        return std::nullopt;
    const auto text = readAttribute(classNet(name) + "/speed");
    if (!text || text.value.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long megabits = std::strtoll(text.value.c_str(), &end, 10);
    // -1 is the kernel's "unknown"; anything beyond 100 Tbit/s is garbage.
    if (errno != 0 || end == text.value.c_str() || megabits <= 0 || megabits > 100'000'000) {
        return std::nullopt;
    }
    return static_cast<int64_t>(megabits) * 1'000'000;
}

std::optional<std::string> NetworkLinks::usbProductName(const std::string& name) const {
    if (!isPlainLinkName(name))
        return std::nullopt;
    std::error_code error;
    const auto device = std::filesystem::canonical(classNet(name) + "/device", error);
    if (error)
        return std::nullopt;
    // Walk up from the link's device: the first folder with idVendor is the USB device.
    for (auto dir = device; dir.has_relative_path(); dir = dir.parent_path()) {
        if (dir.filename() == "devices")
            break;
        if (std::filesystem::exists(dir / "idVendor", error)) {
            auto product = readAttribute((dir / "product").string());
            if (product && !product.value.empty())
                return product.value;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::vector<DefaultRoute> NetworkLinks::defaultRoutes() const {
    if (!isLive()) {
        // A fixture's route file changes without notice.
        const Read<std::string> text = readFile(joinRoot(root_, "/proc/net/route"));
        return text ? parseDefaultRoutes(text.value) : std::vector<DefaultRoute>{};
    }
    std::lock_guard lock(live_->mutex);
    live_->sync();
    return live_->currentDefaultRoutes();
}

std::optional<std::string> NetworkLinks::defaultRouteInterface() const {
    const auto primary = primaryDefaultRoute(defaultRoutes());
    if (!primary || primary->interface.empty())
        return std::nullopt;
    return primary->interface;
}

std::vector<std::string> NetworkLinks::sysfsLinkNames() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(joinRoot(root_, "/sys/class/net"), error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool applyNetDevCounters(std::string_view text, std::vector<LinkRecord>& records) {
    std::vector<bool> found(records.size(), false);
    size_t matched = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // "  name: rx_bytes rx_packets (6 more receive fields) tx_bytes ..."; the two header
        // lines have their colon-free "|" columns.
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = trim(line.substr(0, colon));
        const auto record = std::find_if(records.begin(), records.end(),
                                         [&](const LinkRecord& r) { return r.name == name; });
        if (record == records.end())
            continue;
        std::string_view fields = line.substr(colon + 1);
        uint64_t values[9] = {};
        bool wellFormed = true;
        for (uint64_t& value : values) {
            fields = trim(fields);
            const size_t blank = fields.find_first_of(" \t");
            const std::string_view field = fields.substr(0, blank);
            const auto [next, ec] =
                std::from_chars(field.data(), field.data() + field.size(), value);
            if (field.empty() || ec != std::errc() || next != field.data() + field.size()) {
                wellFormed = false;
                break;
            }
            fields.remove_prefix(field.size());
        }
        const size_t at = static_cast<size_t>(record - records.begin());
        if (!wellFormed || found[at])
            return false;
        record->rxBytes = values[0];
        record->txBytes = values[8];
        found[at] = true;
        ++matched;
    }
    return matched == records.size();
}

std::vector<DefaultRoute> parseDefaultRoutes(const std::string& text) {
    constexpr unsigned long kUp = 0x1, kGateway = 0x2;
    std::vector<DefaultRoute> routes;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // header
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flagsText, refCnt, use, metricText, mask;
        if (!(fields >> iface >> destination >> gateway >> flagsText >> refCnt >> use >>
              metricText >> mask)) {
            continue;
        }
        const auto flags = parseHex(flagsText);
        const auto metric = parseU64(metricText);
        const auto gatewayBits = parseHex(gateway);
        // 0.0.0.0/0, or one of its halves 0.0.0.0/1 and 128.0.0.0/1 (the mask's bits are
        // written as the address's are).
        const bool whole = destination == "00000000" && mask == "00000000";
        const bool half =
            (destination == "00000000" || destination == "00000080") && mask == "00000080";
        if (!flags || !metric || !gatewayBits || *metric > UINT32_MAX ||
            *gatewayBits > UINT32_MAX || !(whole || half) || !(*flags & kUp) ||
            !isPlainLinkName(iface)) {
            continue;
        }
        DefaultRoute route;
        route.interface = iface;
        route.family = AF_INET;
        route.metric = static_cast<uint32_t>(*metric);
        route.prefixLength = half ? 1 : 0;
        if (*flags & kGateway) {
            // The kernel prints the address's 32 bits as a host-order number.
            in_addr address{};
            address.s_addr = static_cast<in_addr_t>(*gatewayBits);
            char dotted[INET_ADDRSTRLEN] = {};
            if (::inet_ntop(AF_INET, &address, dotted, sizeof dotted))
                route.gateway = dotted;
        }
        routes.push_back(std::move(route));
    }
    return routes;
}

std::optional<std::string> parseDefaultRouteInterface(const std::string& text) {
    const auto primary = primaryDefaultRoute(parseDefaultRoutes(text));
    if (!primary)
        return std::nullopt;
    return primary->interface;
}

}  // namespace vigil::platform
