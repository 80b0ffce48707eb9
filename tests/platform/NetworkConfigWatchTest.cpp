#include "platform/NetworkConfigWatch.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "support/TestTree.h"

using namespace vigil;
using vigil::test::TempTree;

namespace {

// Collects what the network configuration callback receives.
struct Deliveries {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<NetworkConfiguration> seen;

    platform::NetworkConfigWatch::Callback callback() {
        return [this](const NetworkConfiguration& c) {
            std::lock_guard<std::mutex> lock(mutex);
            seen.push_back(c);
            changed.notify_all();
        };
    }
    // Waits until the last delivery satisfies the predicate.
    template <typename P>
    bool waitFor(P predicate, std::chrono::seconds deadline = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, deadline,
                                [&] { return !seen.empty() && predicate(seen.back()); });
    }
    std::size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen.size();
    }
};

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

TEST(NetworkConfigWatch, RegistrationDeliversCurrentValuesAtOnce) {
    TempTree tree;
    tree.write("etc/resolv.conf", "nameserver 192.0.2.53\n");
    platform::NetworkConfigWatch watch(
        platform::NetworkConfigWatch::Options{tree.root, std::chrono::milliseconds(50), false});
    Deliveries deliveries;
    watch.networkConfigureNotification(deliveries.callback());
    ASSERT_EQ(deliveries.count(), 1u);  // on this thread, before returning
    const auto& first = deliveries.seen.front();
    EXPECT_EQ(first.dnsAddrs, std::vector<std::string>{"192.0.2.53"});
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(first.localhostName, std::string(host));

    // The name-server file disappears: the last known servers stay and are delivered again.
    tree.remove("etc/resolv.conf");
    watch.scNotification();
    ASSERT_EQ(deliveries.count(), 2u);
    EXPECT_EQ(deliveries.seen.back().dnsAddrs, std::vector<std::string>{"192.0.2.53"});
    // A listed file without servers clears them.
    tree.write("etc/resolv.conf", "options edns0\n");
    watch.scNotification();
    EXPECT_EQ(deliveries.seen.back().dnsAddrs, std::vector<std::string>{});
}

// Runs the watch inside a private network and host-name namespace: routes, the host name and a
// copy of resolv.conf change there and the callback must hear about it, a burst only a few times.
TEST(NetworkConfigWatch, WatchDeliversRouteNameServerAndHostNameChanges) {
    VIGIL_REQUIRE_ROOT();
    if (!run("command -v ip"))
        GTEST_SKIP() << "the ip command (iproute2) is not installed";
    TempTree tree;
    tree.write("etc/resolv.conf", "nameserver 192.0.2.1\n");
    std::string failure;
    bool skipped = false;
    std::thread inside([&] {
        // Namespaces are per thread: only this thread (and what it starts) moves.
        if (::unshare(CLONE_NEWNET | CLONE_NEWUTS) != 0) {
            skipped = true;
            return;
        }
        auto check = [&](bool ok, const char* what) {
            if (!ok && failure.empty())
                failure = what;
            return ok;
        };
        ::sethostname("vigil-before", 12);
        Deliveries deliveries;
        {
            platform::NetworkConfigWatch watch(platform::NetworkConfigWatch::Options{
                tree.root, std::chrono::milliseconds(100), true});
            check(watch.isWatching(), "watch not running");
            watch.networkConfigureNotification(deliveries.callback());
            check(!deliveries.seen.empty() && !deliveries.seen.back().routerAddr,
                  "router in an empty namespace");

            // A veth pair where the kernel has it, else the loopback link carries the subnet.
            std::string dev = "lo";
            if (run("ip link add vigil0 type veth peer name vigil1")) {
                dev = "vigil0";
                run("ip link set vigil1 up");
            }
            check(run("ip link set lo up") && run("ip addr add 10.77.0.2/24 dev " + dev) &&
                      run("ip link set " + dev + " up") &&
                      run("ip route add default via 10.77.0.1 dev " + dev),
                  "ip commands failed");
            check(deliveries.waitFor(
                      [](const NetworkConfiguration& c) { return c.routerAddr == "10.77.0.1"; }),
                  "default route not delivered");

            check(run("ip route del default"), "ip route del failed");
            check(deliveries.waitFor([](const NetworkConfiguration& c) { return !c.routerAddr; }),
                  "removed default route not delivered");

            tree.write("etc/resolv.conf.new", "nameserver 192.0.2.7\n");
            std::rename(tree.path("etc/resolv.conf.new").c_str(),
                        tree.path("etc/resolv.conf").c_str());
            check(deliveries.waitFor([](const NetworkConfiguration& c) {
                return c.dnsAddrs == std::vector<std::string>{"192.0.2.7"};
            }),
                  "resolv.conf replacement not delivered");

            ::sethostname("vigil-after", 11);
            check(deliveries.waitFor([](const NetworkConfiguration& c) {
                return c.localhostName == "vigil-after";
            }),
                  "host name change not delivered");

            // A burst: twenty rewrites and a route flap in quick succession.
            std::size_t before = deliveries.count();
            for (int i = 0; i < 20; ++i) {
                tree.write("etc/resolv.conf",
                           "nameserver 192.0.2." + std::to_string(100 + i) + "\n");
            }
            run("ip route add default via 10.77.0.9 dev " + dev);
            check(deliveries.waitFor([](const NetworkConfiguration& c) {
                return c.dnsAddrs == std::vector<std::string>{"192.0.2.119"} &&
                       c.routerAddr == "10.77.0.9";
            }),
                  "burst's final values not delivered");
            std::size_t during = deliveries.count() - before;
            check(during <= 3, "burst was not coalesced");
        }
    });
    inside.join();
    if (skipped)
        GTEST_SKIP() << "cannot create a network namespace here";
    EXPECT_EQ(failure, "");
}
