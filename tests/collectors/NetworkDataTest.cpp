#include "collectors/NetworkData.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "platform/NetworkConfigWatch.h"
#include "platform/NetworkLinks.h"
#include "platform/RouteWatch.h"
#include "support/Namespaces.h"
#include "support/TestSupport.h"
#include "system/Network.h"

namespace vigil {
namespace {

using platform::NetworkLinks;
using test::shell;

struct Listed {
    int64_t ibytes = 0, obytes = 0;
    std::string ipaddr, mac;
};

std::map<std::string, Listed> listInterfaces() {
    std::map<std::string, Listed> listed;
    getNetworkData([&](int64_t, const char* name, const NetworkData* data) {
        listed[name] = {data->ibytes, data->obytes, data->ipaddr, data->mac};
    });
    return listed;
}

std::string sysfsText(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

int64_t sysfsCounter(const std::string& link, const char* counter) {
    return std::stoll(sysfsText("/sys/class/net/" + link + "/statistics/" + counter));
}

// Sends `count` UDP datagrams of `size` bytes from this namespace to `address`.
void sendDatagrams(const char* address, int count, size_t size = 1000) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(9);
    inet_pton(AF_INET, address, &peer.sin_addr);
    const std::string payload(size, 'x');
    for (int i = 0; i < count; ++i) {
        sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&peer),
               sizeof peer);
    }
    close(fd);
}

// Lets the monotonic clock move on so two samples are apart (rates need dt > 0).
void letTimePass(std::chrono::milliseconds amount) {
    const auto until = std::chrono::steady_clock::now() + amount;
    while (std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(amount / 10);
}

// A veth pair whose far end lives in a namespace of its own, so traffic really crosses the link.
// The near end has no address when `nearAddress` is empty.
class VethPair {
  public:
    VethPair(const std::string& near, const std::string& far, const std::string& nearAddress,
             const std::string& farAddress)
        : far_(far), netns_("vigil-test-" + std::to_string(getpid()) + "-" + near) {
        ok_ =
            shell("ip netns add " + netns_) == 0 &&
            shell("ip link add " + near + " type veth peer name " + far) == 0 &&
            shell("ip link set " + far + " netns " + netns_) == 0 &&
            (nearAddress.empty() || shell("ip addr add " + nearAddress + "/24 dev " + near) == 0) &&
            shell("ip link set " + near + " up") == 0 &&
            shell("ip -n " + netns_ + " addr add " + farAddress + "/24 dev " + far) == 0 &&
            shell("ip -n " + netns_ + " link set " + far + " up") == 0 &&
            shell("ip -n " + netns_ + " link set lo up") == 0;
    }
    ~VethPair() { shell("ip netns del " + netns_); }
    bool ok() const { return ok_; }

  private:
    std::string far_, netns_;
    bool ok_ = false;
};

void quietIpv6() {
    // Router solicitations and address detection would add traffic of their own.
    shell("sysctl -w net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1");
}

bool waitForListed(const std::string& name) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (listInterfaces().count(name))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // carrier comes up async
    }
    return false;
}

TEST(NetworkDataNamespace, ListsOnlyUpRunningEthernetLinksWithAddressesAndTheirCounters) {
    VIGIL_IN_NETWORK_NAMESPACE([] {
        NetworkLinks::setListVirtualLinks(true);
        quietIpv6();
        VethPair pair("veth0", "veth0p", "10.200.1.1", "10.200.1.2");
        ASSERT_TRUE(pair.ok());
        // Up, with an address, but no carrier: its peer is down.
        ASSERT_EQ(shell("ip link add veth6 type veth peer name veth7 && "
                        "ip addr add 10.200.7.1/24 dev veth6 && ip link set veth6 up"),
                  0);
        // A dummy link where the kernel has the module: up, with carrier turned off.
        shell(
            "ip link add dummy0 type dummy && ip addr add 10.200.9.1/24 dev dummy0 && "
            "ip link set dummy0 up && ip link set dummy0 carrier off");
        ASSERT_EQ(shell("ip link add veth8 type veth peer name veth9 && "
                        "ip addr add 10.200.8.1/24 dev veth8"),
                  0);  // down
        ASSERT_TRUE(waitForListed("veth0"));

        sendDatagrams("10.200.1.2", 20);
        const auto rxBefore = sysfsCounter("veth0", "rx_bytes");
        const auto txBefore = sysfsCounter("veth0", "tx_bytes");
        const auto listed = listInterfaces();
        const auto rxAfter = sysfsCounter("veth0", "rx_bytes");
        const auto txAfter = sysfsCounter("veth0", "tx_bytes");

        ASSERT_EQ(listed.size(), 1u) << "only veth0: not lo, links without carrier, a down link";
        const auto& veth0 = listed.at("veth0");
        EXPECT_EQ(veth0.mac, sysfsText("/sys/class/net/veth0/address"));
        EXPECT_EQ(veth0.ipaddr, "10.200.1.1");
        EXPECT_GE(veth0.obytes, 20 * 1000);
        if (rxBefore == rxAfter && txBefore == txAfter) {
            EXPECT_EQ(veth0.ibytes, rxAfter);
            EXPECT_EQ(veth0.obytes, txAfter);
        }
    });
}

TEST(NetworkDataNamespace, VirtualLinksAreLeftOutByDefault) {
    VIGIL_IN_NETWORK_NAMESPACE([] {
        NetworkLinks::setListVirtualLinks(true);
        VethPair pair("veth0", "veth0p", "10.200.1.1", "10.200.1.2");
        ASSERT_TRUE(pair.ok());
        ASSERT_TRUE(waitForListed("veth0"));
        NetworkLinks::setListVirtualLinks(false);
        EXPECT_TRUE(listInterfaces().empty());
    });
}

TEST(NetworkDataNamespace, RatesRiseWithTrafficFallToZeroAndPeaksStay) {
    VIGIL_IN_NETWORK_NAMESPACE([] {
        NetworkLinks::setListVirtualLinks(true);
        quietIpv6();
        VethPair first("veth0", "veth0p", "10.200.1.1", "10.200.1.2");
        VethPair second("veth1", "veth1p", "10.200.2.1", "10.200.2.2");
        ASSERT_TRUE(first.ok() && second.ok());
        ASSERT_TRUE(waitForListed("veth0") && waitForListed("veth1"));
        sendDatagrams("10.200.1.2", 1);  // resolve the neighbours before measuring
        sendDatagrams("10.200.2.2", 1);

        auto environment = Network::systemEnvironment();
        environment.isConnectedToInternet = [] { return false; };
        environment.runInBackground = [](std::function<void()> work) { work(); };
        environment.notify = nullptr;
        Network network(environment);

        network.update();
        letTimePass(std::chrono::milliseconds(100));
        sendDatagrams("10.200.1.2", 50);
        sendDatagrams("10.200.2.2", 10);
        network.update();
        auto busy = network.interfaces();
        ASSERT_EQ(busy.size(), 2u);
        EXPECT_GT(busy["veth0"].obytesps, 0);
        EXPECT_GT(busy["veth1"].obytesps, 0);
        const double peak = busy["veth0"].peakobytesps;
        EXPECT_EQ(peak, busy["veth0"].obytesps);

        const auto sum = network.aggregated();
        EXPECT_DOUBLE_EQ(sum.obytesps, busy["veth0"].obytesps + busy["veth1"].obytesps);
        EXPECT_EQ(sum.ibytes, busy["veth0"].ibytes + busy["veth1"].ibytes);
        EXPECT_EQ(sum.obytes, busy["veth0"].obytes + busy["veth1"].obytes);

        letTimePass(std::chrono::milliseconds(100));
        network.update();
        auto quiet = network.interfaces();
        EXPECT_EQ(quiet["veth0"].obytesps, 0);
        EXPECT_EQ(quiet["veth0"].peakobytesps, peak);

        ASSERT_EQ(shell("ip link set veth0 down"), 0);
        network.update();
        EXPECT_EQ(network.interfaces().count("veth0"), 0u);
        ASSERT_EQ(shell("ip link set veth0 up"), 0);
        ASSERT_TRUE(waitForListed("veth0"));
        network.update();
        EXPECT_EQ(network.interfaces().at("veth0").peakobytesps, 0) << "peaks left with the link";
    });
}

TEST(NetworkDataNamespace, DefaultRouteDecidesThePrimaryInterfaceAtEveryUpdate) {
    VIGIL_IN_NETWORK_NAMESPACE([] {
        NetworkLinks::setListVirtualLinks(true);
        VethPair first("veth0", "veth0p", "10.200.1.1", "10.200.1.2");
        VethPair second("veth1", "veth1p", "10.200.2.1", "10.200.2.2");
        ASSERT_TRUE(first.ok() && second.ok());
        ASSERT_TRUE(waitForListed("veth0") && waitForListed("veth1"));
        ASSERT_EQ(shell("ip route add default via 10.200.1.2 dev veth0"), 0);

        bool primary = false;
        getNetworkExtra("veth0", [&](const NetworkExtra* extra) { primary = extra->isPrimary; });
        EXPECT_TRUE(primary);

        auto environment = Network::systemEnvironment();
        environment.isConnectedToInternet = [] { return false; };
        environment.runInBackground = [](std::function<void()> work) { work(); };
        environment.notify = nullptr;
        Network network(environment);
        network.update();
        EXPECT_TRUE(network.interfaces().at("veth0").isPrimary);
        EXPECT_FALSE(network.interfaces().at("veth1").isPrimary);

        ASSERT_EQ(shell("ip route replace default via 10.200.2.2 dev veth1"), 0);
        network.update();
        EXPECT_FALSE(network.interfaces().at("veth0").isPrimary);
        EXPECT_TRUE(network.interfaces().at("veth1").isPrimary);
    });
}

TEST(NetworkDataNamespace, KeptLinksSeeAddressAndRouteChangesAtTheNextQuestion) {
    VIGIL_IN_NETWORK_NAMESPACE([] {
        VethPair pair("veth0", "veth0p", "10.200.1.1", "10.200.1.2");
        ASSERT_TRUE(pair.ok());
        const NetworkLinks links("/");
        const auto hasAddress = [&](const std::string& address) {
            for (const auto& record : links.addresses()) {
                if (record.address == address)
                    return true;
            }
            return false;
        };
        EXPECT_TRUE(hasAddress("10.200.1.1"));
        EXPECT_FALSE(hasAddress("10.200.1.9"));
        EXPECT_EQ(links.defaultRouteInterface(), std::nullopt);
        // The kernel's notice is queued before `ip` returns: the next question sees the change.
        ASSERT_EQ(shell("ip addr add 10.200.1.9/24 dev veth0"), 0);
        EXPECT_TRUE(hasAddress("10.200.1.9"));
        ASSERT_EQ(shell("ip route add default via 10.200.1.2 dev veth0"), 0);
        EXPECT_EQ(links.defaultRouteInterface(), "veth0");
        ASSERT_EQ(shell("ip route del default"), 0);
        EXPECT_EQ(links.defaultRouteInterface(), std::nullopt);
        ASSERT_EQ(shell("ip addr del 10.200.1.9/24 dev veth0"), 0);
        EXPECT_FALSE(hasAddress("10.200.1.9"));
        // Asked again without a change, the kept answers stay right.
        EXPECT_TRUE(hasAddress("10.200.1.1"));
        EXPECT_EQ(links.defaultRouteInterface(), std::nullopt);
    });
}

// A tun link held open by this process, as a VPN client holds its tunnel: it has a carrier while
// the descriptor is open, and what is sent through it counts once the client has read it.
class TunLink {
  public:
    explicit TunLink(const char* name)
        : fd_(open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK)) {
        ifreq request{};
        request.ifr_flags = IFF_TUN | IFF_NO_PI;
        std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
        if (fd_ >= 0 && ioctl(fd_, TUNSETIFF, &request) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~TunLink() {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    // Reads every packet waiting in the tunnel; returns how many there were.
    int drain() {
        char packet[2048];
        int count = 0;
        while (read(fd_, packet, sizeof packet) > 0)
            ++count;
        return count;
    }

  private:
    int fd_;
};

// The network resource of this namespace, with the router from a configuration manager whose
// route question can be made to fail.
struct Uplink {
    std::atomic<bool> failing{false};
    platform::NetworkConfigWatch manager{platform::NetworkConfigWatch::Options{
        "/", std::chrono::milliseconds(50), false,
        [this]() -> std::optional<std::vector<platform::Route>> {
            if (failing)
                return std::nullopt;
            return platform::RouteWatch::queryRoutes();
        }}};
    Network network{environment()};

    Network::Environment environment() {
        auto environment = Network::systemEnvironment();
        environment.isConnectedToInternet = [] { return false; };
        environment.runInBackground = [](std::function<void()> work) { work(); };
        environment.notify = nullptr;
        environment.watchConfiguration = [this](auto deliver) {
            manager.networkConfigureNotification([deliver](const NetworkConfiguration& c) {
                deliver(c.localhostName, c.routerAddr, c.dnsAddrs);
            });
        };
        return environment;
    }
    // Two updates around `traffic`, so the rates are of it.
    std::map<std::string, Network::Interface> sample(const std::function<void()>& traffic) {
        manager.scNotification();
        network.update();
        letTimePass(std::chrono::milliseconds(100));
        traffic();
        network.update();
        return network.interfaces();
    }
};

std::vector<std::string> namesOf(const std::map<std::string, Network::Interface>& interfaces) {
    std::vector<std::string> names;
    for (const auto& [name, interface] : interfaces)
        names.push_back(name);
    return names;
}

// The address and the default route are on a bridge; its port (standing for eth0, with the
// gateway at the far end of the veth) has none. Then a VPN tunnel with a lower metric takes over.
TEST(NetworkDataNamespace, BridgeAndTunnelUplinksAreListedOnceAndTheLowestMetricIsPrimary) {
    if (access("/dev/net/tun", R_OK | W_OK) != 0)
        GTEST_SKIP() << "needs /dev/net/tun for the tunnel";
    VIGIL_IN_NETWORK_NAMESPACE([] {
        quietIpv6();
        NetworkLinks::setListVirtualLinks(false);
        VethPair port("veth0", "veth0p", "", "10.203.0.1");
        ASSERT_TRUE(port.ok());
        ASSERT_EQ(shell("ip link add br0 type bridge && ip link set veth0 master br0 && "
                        "ip addr add 10.203.0.2/24 dev br0 && ip link set br0 up && "
                        "ip route add default via 10.203.0.1 dev br0 metric 100"),
                  0);
        ASSERT_TRUE(waitForListed("br0")) << "a virtual link carrying the default route";
        sendDatagrams("10.203.0.1", 1);  // resolve the gateway before measuring

        Uplink uplink;
        auto interfaces = uplink.sample([] { sendDatagrams("198.51.100.7", 40); });
        ASSERT_EQ(namesOf(interfaces), std::vector<std::string>{"br0"});
        const auto& br0 = interfaces.at("br0");
        EXPECT_TRUE(br0.isPrimary);
        EXPECT_EQ(br0.ipaddr, "10.203.0.2");
        EXPECT_GE(br0.obytes, 40 * 1000);
        EXPECT_GT(br0.obytesps, 0);
        EXPECT_EQ(uplink.network.router(), "10.203.0.1");
        EXPECT_EQ(uplink.network.connection(), Network::ConnectionType::local);

        // Even with virtual links listed and an address on the port (as a bridge port's IPv6
        // link-local one), the port's bytes are the bridge's and are not counted again.
        NetworkLinks::setListVirtualLinks(true);
        ASSERT_EQ(shell("ip addr add 10.203.9.2/24 dev veth0"), 0);
        interfaces = uplink.sample([] { sendDatagrams("198.51.100.7", 20); });
        EXPECT_EQ(namesOf(interfaces), std::vector<std::string>{"br0"});
        EXPECT_EQ(uplink.network.aggregated().obytes, interfaces["br0"].obytes);
        const int64_t bridgeSent = interfaces["br0"].obytes;
        NetworkLinks::setListVirtualLinks(false);

        // A VPN with a lower metric takes over; a WireGuard tunnel as wg-quick sets it up (a tun
        // link stands for it) carries a default route of a table of its own, chosen by a policy
        // rule: it is listed, and leaves the primary link to the main table.
        TunLink tun("tun0");
        TunLink wireguard("wg0");
        ASSERT_TRUE(tun.ok() && wireguard.ok());
        ASSERT_EQ(shell("ip addr add 10.204.0.2 peer 10.204.0.1/32 dev tun0 && "
                        "ip link set tun0 up && "
                        "ip route add default via 10.204.0.1 dev tun0 metric 50 && "
                        "ip addr add 10.206.0.2/32 dev wg0 && ip link set wg0 up && "
                        "ip route add default dev wg0 table 51820"),
                  0);
        interfaces = uplink.sample([&] {
            sendDatagrams("198.51.100.7", 30);
            EXPECT_EQ(tun.drain(), 30);
        });
        ASSERT_EQ(namesOf(interfaces), (std::vector<std::string>{"br0", "tun0", "wg0"}))
            << "the bridge still carries a default route of its own";
        EXPECT_TRUE(interfaces["tun0"].isPrimary);
        EXPECT_FALSE(interfaces["br0"].isPrimary);
        EXPECT_FALSE(interfaces["wg0"].isPrimary);
        EXPECT_EQ(interfaces["tun0"].name, "VPN");
        EXPECT_EQ(interfaces["tun0"].ipaddr, "10.204.0.2");
        EXPECT_GT(interfaces["tun0"].obytesps, 0);
        EXPECT_LT(interfaces["br0"].obytes - bridgeSent, 1000)
            << "the traffic went through the tunnel";
        EXPECT_EQ(uplink.network.router(), "10.204.0.1");

        // A route question that fails keeps the router; the answer after it has the change.
        ASSERT_EQ(shell("ip route del default via 10.204.0.1 dev tun0 && "
                        "ip route del default table 51820"),
                  0);
        uplink.failing = true;
        uplink.manager.scNotification();
        EXPECT_EQ(uplink.network.router(), "10.204.0.1");
        uplink.failing = false;
        uplink.manager.scNotification();
        EXPECT_EQ(uplink.network.router(), "10.203.0.1");
        uplink.network.update();
        EXPECT_EQ(namesOf(uplink.network.interfaces()), std::vector<std::string>{"br0"});
        EXPECT_TRUE(uplink.network.interfaces().at("br0").isPrimary);

        // Without a default route the virtual links are hidden again, and the router is gone.
        ASSERT_EQ(shell("ip route del default"), 0);
        uplink.manager.scNotification();
        EXPECT_EQ(uplink.network.router(), std::nullopt);
        uplink.network.update();
        EXPECT_TRUE(uplink.network.interfaces().empty());
        EXPECT_EQ(uplink.network.connection(), Network::ConnectionType::none);
    });
}

TEST(NetworkDataNamespace, BondedUplinkIsListedWithoutItsPort) {
    // Loading the driver would add a bond0 to the machine's own namespace: only a loaded one is
    // used.
    if (!std::filesystem::exists("/sys/module/bonding"))
        GTEST_SKIP() << "the bonding driver is not loaded (modprobe bonding)";
    VIGIL_IN_NETWORK_NAMESPACE([] {
        quietIpv6();
        NetworkLinks::setListVirtualLinks(false);
        VethPair port("veth0", "veth0p", "", "10.205.0.1");
        ASSERT_TRUE(port.ok());
        ASSERT_EQ(shell("ip link add bond0 type bond && ip link set veth0 down && "
                        "ip link set veth0 master bond0 && ip addr add 10.205.0.2/24 dev bond0 && "
                        "ip link set bond0 up && ip route add default via 10.205.0.1 dev bond0"),
                  0);
        ASSERT_TRUE(waitForListed("bond0"));
        NetworkLinks::setListVirtualLinks(true);
        ASSERT_EQ(shell("ip addr add 10.205.9.2/24 dev veth0"), 0);
        Uplink uplink;
        const auto interfaces = uplink.sample([] { sendDatagrams("198.51.100.7", 20); });
        ASSERT_EQ(namesOf(interfaces), std::vector<std::string>{"bond0"});
        EXPECT_TRUE(interfaces.at("bond0").isPrimary);
        EXPECT_GT(interfaces.at("bond0").obytesps, 0);
        EXPECT_EQ(uplink.network.router(), "10.205.0.1");
    });
}

TEST(NetworkDataNamespace, KeptLinkListTakesFreshCountersAndFollowsRenames) {
    VIGIL_IN_NETWORK_NAMESPACE([] {
        quietIpv6();
        VethPair pair("veth0", "veth0p", "10.200.1.1", "10.200.1.2");
        ASSERT_TRUE(pair.ok());
        const NetworkLinks links("/");
        const auto find = [](const std::vector<platform::LinkRecord>& records,
                             const std::string& name) -> std::optional<platform::LinkRecord> {
            for (const auto& record : records) {
                if (record.name == name)
                    return record;
            }
            return std::nullopt;
        };
        const auto first = links.links();
        ASSERT_TRUE(first);
        const auto before = find(*first, "veth0");
        ASSERT_TRUE(before);

        sendDatagrams("10.200.1.2", 30);
        const auto txBefore = sysfsCounter("veth0", "tx_bytes");
        const auto kept = links.links();
        const auto txAfter = sysfsCounter("veth0", "tx_bytes");
        ASSERT_TRUE(kept);
        const auto now = find(*kept, "veth0");
        ASSERT_TRUE(now);
        EXPECT_GE(now->txBytes, before->txBytes + 30 * 1000);
        if (txBefore == txAfter) {
            EXPECT_EQ(static_cast<int64_t>(now->txBytes), txAfter);
        }
        EXPECT_EQ(now->index, before->index);
        EXPECT_EQ(now->flags, before->flags);
        EXPECT_EQ(now->mac, before->mac);

        ASSERT_EQ(shell("ip link set veth0 down && ip link set veth0 name vethR && "
                        "ip link set vethR up"),
                  0);
        const auto renamed = links.links();
        ASSERT_TRUE(renamed);
        EXPECT_FALSE(find(*renamed, "veth0"));
        const auto vethR = find(*renamed, "vethR");
        ASSERT_TRUE(vethR);
        EXPECT_EQ(vethR->index, before->index);
        EXPECT_GE(vethR->txBytes, now->txBytes);
    });
}

TEST(NetworkDataNamespace, CountersFollowTheCallerIntoAnotherNamespace) {
    // The counters file is kept open between samples; it must be the asking namespace's.
    const NetworkLinks links("/");
    sendDatagrams("127.0.0.1", 40);
    ASSERT_TRUE(links.links());
    const auto host = links.links();  // counters from the kept file
    ASSERT_TRUE(host);
    const auto loopback = [](const std::vector<platform::LinkRecord>& records) {
        for (const auto& record : records) {
            if (record.name == "lo")
                return std::optional<platform::LinkRecord>(record);
        }
        return std::optional<platform::LinkRecord>();
    };
    ASSERT_TRUE(loopback(*host));
    ASSERT_GE(loopback(*host)->rxBytes, 40u * 1000);
    VIGIL_IN_NETWORK_NAMESPACE([&] {
        ASSERT_TRUE(links.links());
        const auto kept = links.links();
        const auto fresh = NetworkLinks("/").links();
        ASSERT_TRUE(kept && fresh);
        ASSERT_TRUE(loopback(*kept) && loopback(*fresh));
        EXPECT_LT(loopback(*kept)->rxBytes, 40u * 1000);
        EXPECT_EQ(loopback(*kept)->rxBytes, loopback(*fresh)->rxBytes);
    });
}

TEST(NetworkDataFixture, ContainerHostListsOnlyDeviceBackedLinks) {
    const NetworkLinks links(test::fixturePath("container-host"));
    std::vector<std::string> backed;
    for (const auto& name : links.sysfsLinkNames()) {
        if (links.isDeviceBacked(name))
            backed.push_back(name);
    }
    EXPECT_EQ(backed, (std::vector<std::string>{"eth0", "wlan0"}));
    EXPECT_EQ(links.linkSpeed("eth0"), 1'000'000'000);
    EXPECT_EQ(links.linkSpeed("wlan0"), std::nullopt) << "-1 is unknown";
    EXPECT_EQ(links.usbProductName("wlan0"), "Wireless Adapter X");
    EXPECT_EQ(links.usbProductName("eth0"), std::nullopt);
    EXPECT_TRUE(links.isWireless("wlan0"));
    EXPECT_EQ(links.defaultRouteInterface(), "eth0");
    EXPECT_FALSE(links.isDeviceBacked("../../devices/pci0000:00/0000:00:1f.6"));
}

TEST(NetworkDataFixture, ExtraNamesWiredAndWirelessLinks) {
    const NetworkLinks links(test::fixturePath("container-host"));
    NetworkExtra eth{}, wlan{};
    std::string ethName, wlanName;
    getNetworkExtra(links, "eth0", [&](const NetworkExtra* e) {
        eth = *e;
        ethName = e->name;
    });
    getNetworkExtra(links, "wlan0", [&](const NetworkExtra* e) {
        wlan = *e;
        wlanName = e->name;
    });
    EXPECT_EQ(ethName, "Ethernet");
    EXPECT_EQ(eth.linkSpeed, 1'000'000'000);
    EXPECT_TRUE(eth.isPrimary);
    EXPECT_FALSE(eth.isWifi);
    EXPECT_EQ(wlanName, "Wifi") << "a wireless link with no network name";
    EXPECT_TRUE(wlan.isWifi);
    EXPECT_EQ(wlan.linkSpeed, 0);

    bool called = false;
    testing::internal::CaptureStderr();
    getNetworkExtra(links, "nosuch0", [&](const NetworkExtra*) { called = true; });
    const auto error = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(called);
    EXPECT_EQ(error, "Error: network interface 'nosuch0' -- no such interface\n");
}

TEST(NetworkDataParsing, DefaultRoutesFromProcNetRoute) {
    const std::string header = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n";
    EXPECT_EQ(platform::parseDefaultRouteInterface(
                  header + "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n"
                           "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\n"
                           "br0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\n"),
              "br0")
        << "the lowest metric, not the first line";
    // A tunnel's default route has no gateway; it wins by its metric.
    const auto routes =
        platform::parseDefaultRoutes(header +
                                     "br0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\n"
                                     "tun0\t00000000\t00000000\t0001\t0\t0\t50\t00000000\n"
                                     "tun1\t00000080\t00000000\t0001\t0\t0\t0\t00000080\n"
                                     "tun1\t00000000\t00000000\t0001\t0\t0\t0\t000000C0\n");
    ASSERT_EQ(routes.size(), 3u) << "128.0.0.0/1 carries traffic, 0.0.0.0/2 does not";
    EXPECT_EQ(routes[2].interface, "tun1");
    EXPECT_EQ(routes[0].gateway, "10.0.0.1");
    EXPECT_EQ(routes[0].metric, 100u);
    EXPECT_EQ(routes[1].gateway, "");
    EXPECT_EQ(platform::primaryDefaultRoute(routes)->interface, "tun0");
    EXPECT_EQ(platform::parseDefaultRouteInterface(
                  header + "eth0\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\n"),
              std::nullopt)
        << "a route that is not up";
    EXPECT_EQ(platform::parseDefaultRouteInterface(header + "garbage\n\n\t\t\n"), std::nullopt);
    EXPECT_EQ(platform::parseDefaultRouteInterface(""), std::nullopt);
}

TEST(NetworkDataParsing, CountersFromProcNetDev) {
    const std::string text =
        "Inter-|   Receive                                                |  Transmit\n"
        " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
        "drop fifo colls carrier compressed\n"
        "    lo: 41305213    7127    0    0    0     0          0         0 41305213    7127    0 "
        "   0    0     0       0          0\n"
        "  eth0: 18446744073709551615    1944    0    0    0     0          0         0    81156 "
        "   1010    0    0    0     0       0          0\n"
        "veth-a:1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n";
    std::vector<platform::LinkRecord> records(2);
    records[0].name = "eth0";
    records[1].name = "veth-a";
    ASSERT_TRUE(platform::applyNetDevCounters(text, records));
    EXPECT_EQ(records[0].rxBytes, UINT64_MAX);
    EXPECT_EQ(records[0].txBytes, 81156u);
    EXPECT_EQ(records[1].rxBytes, 1u);
    EXPECT_EQ(records[1].txBytes, 9u);

    // A listed link without a line, with two lines, or with a line cut short or holding garbage
    // cannot be counted from this text.
    auto missing = records;
    missing[1].name = "veth-b";
    EXPECT_FALSE(platform::applyNetDevCounters(text, missing));
    EXPECT_FALSE(platform::applyNetDevCounters(text + "  eth0: 1 2 3 4 5 6 7 8 9\n", records));
    auto one = std::vector<platform::LinkRecord>(1);
    one[0].name = "eth0";
    EXPECT_FALSE(platform::applyNetDevCounters("eth0: 1 2 3 4 5 6 7 8\n", one));
    EXPECT_FALSE(platform::applyNetDevCounters("eth0: 1 2 3 -4 5 6 7 8 9\n", one));
    EXPECT_FALSE(platform::applyNetDevCounters("eth0: 1 2 3 4x 5 6 7 8 9\n", one));
    EXPECT_FALSE(
        platform::applyNetDevCounters("eth0: 1 2 3 4 5 6 7 8 99999999999999999999\n", one));
    EXPECT_FALSE(platform::applyNetDevCounters("", one));
    EXPECT_TRUE(platform::applyNetDevCounters("eth0:\t5 2 3 4 5 6 7 8 6", one));
    EXPECT_EQ(one[0].rxBytes, 5u);
    EXPECT_EQ(one[0].txBytes, 6u);
    std::vector<platform::LinkRecord> none;
    EXPECT_TRUE(platform::applyNetDevCounters(text, none));
}

TEST(NetworkReachability, NumericAndLoopbackNamesResolveAndInvalidOnesDoNot) {
    EXPECT_TRUE(isConnectedToInternet("127.0.0.1"));
    EXPECT_TRUE(isConnectedToInternet("localhost"));
    EXPECT_FALSE(isConnectedToInternet(""));
    EXPECT_FALSE(isConnectedToInternet("::1")) << "only an IPv4 answer counts";
}

}  // namespace
}  // namespace vigil
