#include "system/Network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Notification.h"
#include "runtime/Queue.h"
#include "support/SessionBus.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

// A scripted collector: what the kernel would report at each update.
struct Sample {
    std::string name;
    int64_t ibytes, obytes;
    int ifindex = 1;
};

class ScriptedNetwork {
  public:
    ScriptedNetwork() {
        environment.collect = [this](const NetworkDataCallback& callback) {
            std::vector<Sample> samples;
            int64_t now;
            {
                std::lock_guard lock(mutex);
                samples = current;
                now = clock;
            }
            for (const auto& sample : samples) {
                const NetworkData data{sample.ibytes, sample.obytes, "192.0.2.10",
                                       "00:1b:63:aa:bb:cc", sample.ifindex};
                callback(now, sample.name.c_str(), &data);
            }
        };
        environment.extra = [this](const char*, const NetworkExtraCallback& callback) {
            ++extraCalls;
            const NetworkExtra extra{1'000'000'000, 0, 0, "Ethernet"};
            callback(&extra);
        };
        environment.isConnectedToInternet = [this] { return online.load(); };
        environment.lookUpPublicAddress = [this]() -> std::optional<std::string> {
            ++lookups;
            return answer;
        };
        environment.notify = [this](const std::string& title, const std::string& text) {
            std::lock_guard lock(mutex);
            notifications.push_back(title + ": " + text);
        };
        environment.runInBackground = [](std::function<void()> work) { work(); };
    }

    void set(std::vector<Sample> samples, int64_t atMillis) {
        std::lock_guard lock(mutex);
        current = std::move(samples);
        clock = atMillis;
    }
    std::vector<std::string> posted() {
        std::lock_guard lock(mutex);
        return notifications;
    }

    Network::Environment environment;
    std::mutex mutex;
    std::vector<Sample> current;
    int64_t clock = 0;
    std::atomic<bool> online{true};
    std::optional<std::string> answer = std::string("198.51.100.7");
    std::atomic<int> lookups{0}, extraCalls{0};
    std::vector<std::string> notifications;
};

TEST(NetworkRates, RatesPeaksAndResets) {
    ScriptedNetwork script;
    Network network(script.environment);
    script.set({{"eth0", 1000, 500}}, 10'000);
    network.update();
    auto eth0 = network.interfaces().at("eth0");
    EXPECT_EQ(eth0.ibytesps, 0);
    EXPECT_EQ(eth0.name, "Ethernet");
    EXPECT_EQ(eth0.mac, "00:1b:63:aa:bb:cc");

    script.set({{"eth0", 3000, 1500}}, 11'000);
    network.update();
    eth0 = network.interfaces().at("eth0");
    EXPECT_DOUBLE_EQ(eth0.ibytesps, 2000);
    EXPECT_DOUBLE_EQ(eth0.obytesps, 1000);

    // Listed again within the same millisecond: the rates stay as they were.
    network.update();
    EXPECT_DOUBLE_EQ(network.interfaces().at("eth0").ibytesps, 2000);

    // A counter that goes down is a reset: rate 0, never negative, peaks kept.
    script.set({{"eth0", 100, 1600}}, 12'000);
    network.update();
    eth0 = network.interfaces().at("eth0");
    EXPECT_EQ(eth0.ibytesps, 0);
    EXPECT_DOUBLE_EQ(eth0.obytesps, 100);
    EXPECT_DOUBLE_EQ(eth0.peakibytesps, 2000);
    EXPECT_DOUBLE_EQ(eth0.peakobytesps, 1000);
    EXPECT_EQ(script.extraCalls, 1) << "extras are read once, when an interface appears";

    // Re-created under the same name (a new kernel index): a new interface, no old peaks.
    script.set({{"eth0", 50, 50, 7}}, 13'000);
    network.update();
    eth0 = network.interfaces().at("eth0");
    EXPECT_EQ(eth0.peakibytesps, 0);
    EXPECT_EQ(eth0.ibytesps, 0);
    EXPECT_EQ(script.extraCalls, 2);
}

TEST(NetworkRates, AggregateSumsEveryInterface) {
    ScriptedNetwork script;
    Network network(script.environment);
    script.set({{"eth0", 0, 0}, {"wlan0", 0, 0, 2}}, 0);
    network.update();
    script.set({{"eth0", 1000, 2000}, {"wlan0", 3000, 4000, 2}}, 1000);
    network.update();
    const auto sum = network.aggregated();
    EXPECT_EQ(sum.ibytes, 4000);
    EXPECT_EQ(sum.obytes, 6000);
    EXPECT_DOUBLE_EQ(sum.ibytesps, 4000);
    EXPECT_DOUBLE_EQ(sum.peakobytesps, 6000);
    EXPECT_EQ(sum.name, "");
}

TEST(NetworkConnection, ChecksRunOnTheFirstUpdateAndEvery32nd) {
    ScriptedNetwork script;
    Network network(script.environment);
    script.set({{"eth0", 0, 0}}, 0);
    for (int i = 0; i < 64; ++i)
        network.update();
    EXPECT_EQ(script.lookups, 1) << "a known address is not looked up again while online";
    EXPECT_EQ(network.publicAddress(), "198.51.100.7");

    script.online = false;
    for (int i = 0; i < 32; ++i)
        network.update();
    EXPECT_EQ(network.connection(), Network::ConnectionType::local);
    EXPECT_EQ(network.publicAddress(), Network::kNoInternet);
    EXPECT_TRUE(script.posted().empty()) << "online at start posts nothing";

    script.online = true;
    for (int i = 0; i < 32; ++i)
        network.update();
    EXPECT_EQ(network.connection(), Network::ConnectionType::internet);
    EXPECT_EQ(script.posted(), (std::vector<std::string>{"Network: Connected to Internet"}));
    EXPECT_EQ(network.publicAddress(), "198.51.100.7");
    EXPECT_EQ(script.lookups, 2);

    script.set({}, 0);
    network.update();
    EXPECT_EQ(network.connection(), Network::ConnectionType::none);
    EXPECT_EQ(network.publicAddress(), std::nullopt);
    script.set({{"eth0", 0, 0}}, 1);
    network.update();  // the first update with an interface checks at once
    EXPECT_EQ(network.connection(), Network::ConnectionType::internet);
    EXPECT_EQ(script.posted().size(), 2u);
}

TEST(NetworkConnection, FailedLookupIsRetriedAtTheNextCheck) {
    ScriptedNetwork script;
    script.answer = std::nullopt;
    Network network(script.environment);
    script.set({{"eth0", 0, 0}}, 0);
    network.update();
    EXPECT_EQ(network.publicAddress(), std::nullopt);
    script.answer = "203.0.113.5";
    for (int i = 0; i < 32; ++i)
        network.update();
    EXPECT_EQ(network.publicAddress(), "203.0.113.5");
    EXPECT_EQ(script.lookups, 2);
}

TEST(NetworkConnection, OnlyOneCheckRunsAtATime) {
    ScriptedNetwork script;
    std::latch release(1);
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    std::mutex threadsMutex;
    script.environment.lookUpPublicAddress = [&]() -> std::optional<std::string> {
        ++started;
        release.wait();  // a slow resolver
        return std::string("198.51.100.9");
    };
    script.environment.runInBackground = [&](std::function<void()> work) {
        std::lock_guard lock(threadsMutex);
        threads.emplace_back(std::move(work));
    };
    {
        Network network(script.environment);
        script.set({{"eth0", 0, 0}}, 0);
        for (int i = 0; i < 100; ++i)
            network.update();  // three checks come due
        ASSERT_TRUE(test::waitUntil([&] { return started == 1; }));
        EXPECT_TRUE(network.isChecking());
        EXPECT_EQ(network.refreshPublicAddress(), std::nullopt) << "no second lookup at once";
        release.count_down();
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(started, 1);
        EXPECT_EQ(network.publicAddress(), "198.51.100.9");
    }
}

// The check waits on a resolver and an echo server: one that hangs holds no worker of the
// sampling pool, which can still run a task on every worker at once.
TEST(NetworkConnection, AHangingCheckHoldsNoSamplingWorker) {
    ScriptedNetwork script;
    std::latch release(1);
    std::atomic<bool> asking{false};
    script.environment.isConnectedToInternet = [&] {
        asking = true;
        release.wait();  // a resolver that does not answer
        return false;
    };
    script.environment.runInBackground = nullptr;
    Network network(script.environment);
    script.set({{"eth0", 0, 0}}, 0);
    network.update();
    ASSERT_TRUE(test::waitUntil([&] { return asking.load(); }));

    const unsigned workers = std::max(2u, std::thread::hardware_concurrency());
    auto together = std::make_shared<std::latch>(workers);
    auto met = std::make_shared<std::atomic<unsigned>>(0);
    for (unsigned i = 0; i < workers; ++i) {
        Queue::background().async([together, met] {
            together->arrive_and_wait();
            ++*met;
        });
    }
    EXPECT_TRUE(test::waitUntil([&] { return met->load() == workers; }, std::chrono::seconds(60)))
        << met->load() << " of " << workers << " workers were free";
    release.count_down();
    EXPECT_TRUE(test::waitUntil([&] { return !network.isChecking(); }));
    EXPECT_TRUE(test::waitUntil([&] { return met->load() == workers; }, std::chrono::seconds(60)));
}

TEST(NetworkConfiguration, WatcherHandOverSetsNamesRouterAndJoinedServers) {
    ScriptedNetwork script;
    std::function<void(std::optional<std::string>, std::optional<std::string>,
                       std::optional<std::vector<std::string>>)>
        registered;
    script.environment.watchConfiguration = [&](auto callback) { registered = callback; };
    Network network(script.environment);
    ASSERT_TRUE(registered);
    registered(std::string("desk"), std::string("192.168.1.1"),
               std::vector<std::string>{"192.168.1.1", "2001:db8::53"});
    EXPECT_EQ(network.localhostName(), "desk");
    EXPECT_EQ(network.router(), "192.168.1.1");
    EXPECT_EQ(network.dns(), "192.168.1.1, 2001:db8::53");
    registered(std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(network.dns(), std::nullopt);
}

TEST(NetworkConnection, BackOnlinePostsExactlyOneRealNotification) {
    test::PrivateBus bus;
    if (!bus.started())
        GTEST_SKIP() << "dbus-daemon could not be started";
    test::NotificationServer server(bus.address());
    ASSERT_TRUE(server.ready());
    Notification::useBusAddress(bus.address());

    ScriptedNetwork script;
    script.environment.notify = Network::systemEnvironment().notify;
    Network network(script.environment);
    script.set({{"eth0", 0, 0}}, 0);
    network.update();  // online at start: nothing
    script.online = false;
    for (int i = 0; i < 32; ++i)
        network.update();
    script.online = true;
    for (int i = 0; i < 64; ++i)
        network.update();
    // Posted by the connectionBack alert rule on a thread of its own.
    test::waitUntil([&] { return !server.received().empty(); }, std::chrono::seconds(10));
    Notification::useBusAddress("");

    const auto received = server.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].summary, "Network");
    EXPECT_EQ(received[0].body, "Connected to Internet");
    EXPECT_EQ(received[0].soundName, Notification::kDefaultSound);
    EXPECT_EQ(received[0].actions, (std::vector<std::string>{"default", "Open", "open", "Open"}));
}

}  // namespace
}  // namespace vigil
