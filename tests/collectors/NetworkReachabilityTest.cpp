#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <filesystem>
#include <string>

#include "collectors/NetworkData.h"
#include "collectors/PublicAddressServer.h"
#include "platform/Notification.h"
#include "settings/Defaults.h"
#include "support/LoopbackServer.h"
#include "support/SessionBus.h"
#include "support/TestSupport.h"
#include "system/Network.h"

namespace vigil {
namespace {

// The whole connection check against real things: the echo server's name resolved through a
// private hosts file, the address asked from a loopback echo server named by the setting, and the
// notification delivered to a notification server on a private bus. Only the interface list is
// scripted.
TEST(NetworkReachability, RealResolverEchoServerAndNotification) {
    const auto config =
        std::filesystem::temp_directory_path() / ("vigil-reach-" + std::to_string(getpid()));
    std::filesystem::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);  // before the store is first used

    test::PrivateBus bus;
    if (!bus.started())
        GTEST_SKIP() << "dbus-daemon could not be started";
    test::NotificationServer notifications(bus.address());
    ASSERT_TRUE(notifications.ready());
    Notification::useBusAddress(bus.address());

    test::LoopbackServer echo("127.0.0.1", [](int fd, const std::function<bool()>&) {
        test::readRequest(fd);
        test::sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nIP: 198.51.100.77\n");
        shutdown(fd, SHUT_WR);
    });
    const std::string server = "echo.vigil.test:" + std::to_string(echo.port());

    std::string reason;
    const bool ran = test::withHostsFile(
        "127.0.0.1 echo.vigil.test\n",
        [&] {
            auto environment = Network::systemEnvironment();
            environment.collect = [](const NetworkDataCallback& callback) {
                const NetworkData data{0, 0, "192.0.2.5", "00:1b:63:00:00:01", 1};
                callback(0, "eth0", &data);
            };
            environment.extra = nullptr;
            environment.primaryInterface = nullptr;
            environment.watchConfiguration = nullptr;
            environment.runInBackground = [](std::function<void()> work) { work(); };
            Defaults::shared().set("publicAddressServer", server);
            EXPECT_EQ(publicAddressServer(), server);

            Network network(environment);
            network.update();  // online at start: looks the address up, posts nothing
            EXPECT_EQ(network.connection(), Network::ConnectionType::internet);
            EXPECT_EQ(network.publicAddress(), "198.51.100.77");

            // A server text that names no host: unreachable, without asking any resolver.
            Defaults::shared().set("publicAddressServer", std::string("no host/at all"));
            for (int i = 0; i < 32; ++i)
                network.update();
            EXPECT_EQ(network.connection(), Network::ConnectionType::local);
            EXPECT_EQ(network.publicAddress(), Network::kNoInternet);

            Defaults::shared().set("publicAddressServer", server);
            for (int i = 0; i < 64; ++i)
                network.update();
            EXPECT_EQ(network.connection(), Network::ConnectionType::internet);
            EXPECT_EQ(network.publicAddress(), "198.51.100.77");
        },
        &reason);
    // The notice is posted by the connectionBack alert rule on a thread of its own.
    if (ran)
        test::waitUntil([&] { return !notifications.received().empty(); });
    Notification::useBusAddress("");
    std::filesystem::remove_all(config);
    if (!ran)
        GTEST_SKIP() << "needs a private /etc/hosts (root): " << reason;

    const auto received = notifications.received();
    ASSERT_EQ(received.size(), 1u) << "exactly one back-online notification";
    EXPECT_EQ(received[0].summary, "Network");
    EXPECT_EQ(received[0].body, "Connected to Internet");
}

}  // namespace
}  // namespace vigil
