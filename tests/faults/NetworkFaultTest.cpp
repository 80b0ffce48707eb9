// The network resource when links vanish in the middle of an update (in a network namespace of
// the test's own), and when the public-address echo server hangs, resets or lies.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "collectors/NetworkData.h"
#include "collectors/PublicAddress.h"
#include "platform/NetworkLinks.h"
#include "settings/Defaults.h"
#include "support/LoopbackServer.h"
#include "support/Namespaces.h"
#include "support/TempFolder.h"
#include "support/TestSupport.h"
#include "system/Network.h"

namespace vigil {
namespace {

using test::shell;

// Lines starting "Error: " that occur more than once: a cause must be reported once.
std::vector<std::string> repeatedErrorLines(const std::string& err) {
    std::istringstream in(err);
    std::set<std::string> seen;
    std::vector<std::string> repeated;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Error: ", 0) == 0 && !seen.insert(line).second)
            repeated.push_back(line);
    }
    return repeated;
}

bool addLink(int n) {
    const std::string a = "veth" + std::to_string(n), b = a + "p";
    return shell("ip link add " + a + " type veth peer name " + b + " && ip addr add 10.201." +
                 std::to_string(n) + ".1/24 dev " + a + " && ip link set " + a +
                 " up && ip link set " + b + " up") == 0;
}

void checkSane(const std::map<std::string, Network::Interface>& interfaces) {
    for (const auto& [name, i] : interfaces) {
        // Nothing flows here but what the test sends: no negative or absurd rate from a counter
        // that vanished or started again from zero.
        EXPECT_GE(i.ibytesps, 0) << name;
        EXPECT_GE(i.obytesps, 0) << name;
        EXPECT_LT(i.ibytesps, 1e9) << name;
        EXPECT_LT(i.obytesps, 1e9) << name;
        EXPECT_GE(i.ibytes, 0) << name;
        EXPECT_GE(i.obytes, 0) << name;
    }
}

TEST(NetworkFaultTest, LinksDeletedInTheMiddleOfAnUpdate) {
    VIGIL_IN_NETWORK_NAMESPACE([] {
        platform::NetworkLinks::setListVirtualLinks(true);
        // Only the test's IPv4 addresses: the peers' link-local IPv6 addresses would list them too.
        shell("sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1");
        for (int n = 0; n < 4; ++n)
            ASSERT_TRUE(addLink(n));
        ASSERT_TRUE(test::waitUntil([] {
            int listed = 0;
            getNetworkData([&](int64_t, const char*, const NetworkData*) { ++listed; });
            return listed == 4;
        }));

        auto environment = Network::systemEnvironment();
        environment.isConnectedToInternet = [] { return false; };
        environment.runInBackground = [](std::function<void()> work) { work(); };
        environment.notify = nullptr;
        // Which link to delete, and when: while the counters are being reported, or just before
        // the link's details (speed, kind) are read.
        std::atomic<int> deleteDuringCollect{-1};
        std::atomic<int> deleteBeforeExtra{-1};
        auto collect = environment.collect;
        environment.collect = [&](const NetworkDataCallback& callback) {
            collect([&](int64_t at, const char* name, const NetworkData* data) {
                const int n = deleteDuringCollect.exchange(-1);
                if (n >= 0)
                    shell("ip link del veth" + std::to_string(n));
                callback(at, name, data);
            });
        };
        auto extra = environment.extra;
        environment.extra = [&](const char* name, const NetworkExtraCallback& callback) {
            const int n = deleteBeforeExtra.exchange(-1);
            if (n >= 0)
                shell("ip link del veth" + std::to_string(n));
            extra(name, callback);
        };
        Network network(environment);

        testing::internal::CaptureStderr();
        network.update();
        checkSane(network.interfaces());
        for (int round = 0; round < 6; ++round) {
            const int victim = round % 4;
            deleteDuringCollect = victim;
            network.update();
            checkSane(network.interfaces());
            network.update();
            EXPECT_EQ(network.interfaces().count("veth" + std::to_string(victim)), 0u) << round;
            // It comes back, and its details are read while it goes again.
            ASSERT_TRUE(addLink(victim));
            ASSERT_TRUE(test::waitUntil([&] {
                network.update();
                return network.interfaces().count("veth" + std::to_string(victim)) == 1;
            }));
            // Listed once its carrier is up (the kernel reports that a moment later): only then
            // are its details read, and it goes while they are.
            ASSERT_TRUE(addLink(10 + round));
            const std::string added = "veth" + std::to_string(10 + round);
            ASSERT_TRUE(test::waitUntil([&] {
                bool listed = false;
                getNetworkData([&](int64_t, const char* name, const NetworkData*) {
                    listed = listed || added == name;
                });
                return listed;
            }));
            deleteBeforeExtra = 10 + round;
            network.update();
            checkSane(network.interfaces());
            network.update();
            EXPECT_EQ(network.interfaces().count("veth" + std::to_string(10 + round)), 0u);
        }
        // Sampling goes on with the links that remain.
        network.update();
        EXPECT_EQ(network.interfaces().size(), 4u);
        checkSane(network.interfaces());
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(repeatedErrorLines(err).empty()) << err;
    });
}

// The echo servers of the public-address check, on loopback, chosen by the setting.
class EchoServerFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        if (Defaults::shared().path().string().rfind(config.path().string(), 0) != 0)
            GTEST_SKIP() << "the shared settings were opened before the test could move them";
        environment = Network::systemEnvironment();
        environment.collect = [](const NetworkDataCallback& callback) {
            const NetworkData data{1000, 2000, "192.0.2.10", "00:1b:63:aa:bb:cc", 1};
            callback(0, "eth0", &data);
        };
        environment.extra = [](const char*, const NetworkExtraCallback& callback) {
            const NetworkExtra extra{1'000'000'000, 1, 0, "Ethernet"};
            callback(&extra);
        };
        environment.primaryInterface = [] { return std::optional<std::string>("eth0"); };
        // The host is loopback: it "resolves"; the lookup itself is the real one.
        environment.isConnectedToInternet = [] { return true; };
        environment.notify = nullptr;
        environment.watchConfiguration = nullptr;
    }
    void useServer(const test::LoopbackServer& server) {
        Defaults::shared().set("publicAddressServer",
                               std::string("127.0.0.1:") + std::to_string(server.port()));
    }
    test::TempFolder config;
    Network::Environment environment;
};

void answer(int fd, const std::string& text) {
    test::readRequest(fd);
    test::sendAll(fd, text);
    shutdown(fd, SHUT_WR);
}

TEST_F(EchoServerFaultTest, HangingResettingAndLyingServersNeverStopSamplingNorGiveAFalseAddress) {
    // A server that accepts and never answers: updates go on while the check waits it out.
    test::LoopbackServer hanging("127.0.0.1", [](int, const std::function<bool()>& stopping) {
        while (!stopping())
            poll(nullptr, 0, 50);
    });
    useServer(hanging);
    {
        Network network(environment);
        const auto started = std::chrono::steady_clock::now();
        for (int i = 0; i < 20; ++i)
            network.update();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2))
            << "updates waited for the echo server";
        EXPECT_EQ(network.interfaces().size(), 1u);
        EXPECT_TRUE(test::waitUntil([&] { return network.isChecking(); }));
        EXPECT_EQ(network.publicAddress(), std::nullopt);
        // The lookup gives up within its time limit; the address is then "looked up, nothing".
        EXPECT_TRUE(test::waitUntil([&] { return !network.isChecking(); },
                                    std::chrono::milliseconds(kPublicAddressTimeLimit + 5000)));
        const auto address = network.publicAddress();
        EXPECT_TRUE(!address || address->empty()) << *address;
        EXPECT_GE(hanging.connections(), 1);
    }

    // A server that resets the connection after the request, and servers that lie.
    test::LoopbackServer resetting("127.0.0.1", [](int fd, const std::function<bool()>&) {
        test::readRequest(fd);
        test::sendAll(fd, "HTTP/1.1 200 OK\r\nIP: 198.51");
        linger abort{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    });
    const char* lies[] = {
        "HTTP/1.1 200 OK\r\nIP: 300.1.2.3\r\n\r\n",
        "HTTP/1.1 200 OK\r\n\r\nIP: <script>alert(1)</script>\r\n",
        "HTTP/1.1 302 Found\r\nLocation: http://example.com/\r\n\r\n",
    };
    useServer(resetting);
    Network network(environment);
    network.update();
    ASSERT_TRUE(test::waitUntil([&] { return !network.isChecking(); }, std::chrono::seconds(15)));
    auto address = network.refreshPublicAddress();
    EXPECT_TRUE(!address || address->empty()) << *address;
    for (const char* lie : lies) {
        test::LoopbackServer lying(
            "127.0.0.1", [lie](int fd, const std::function<bool()>&) { answer(fd, lie); });
        useServer(lying);
        address = network.refreshPublicAddress();
        EXPECT_TRUE(!address || address->empty()) << lie << " gave " << *address;
        network.update();
        EXPECT_EQ(network.interfaces().size(), 1u);
    }

    // An honest server again: the next check finds the address.
    test::LoopbackServer honest("127.0.0.1", [](int fd, const std::function<bool()>&) {
        answer(fd, "HTTP/1.1 200 OK\r\nIP: 198.51.100.7\r\n\r\n");
    });
    useServer(honest);
    EXPECT_EQ(network.refreshPublicAddress(), "198.51.100.7");
}

}  // namespace
}  // namespace vigil
