// Notifications while the session bus goes away and comes back at the same address: posting fails
// quickly with one error line for the whole outage, and works again once the bus is back, without
// restarting anything.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Notification.h"
#include "platform/NotificationCenter.h"
#include "support/SessionBus.h"
#include "support/TempFolder.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

// A dbus-daemon listening on a fixed socket path, so it can be stopped and started again there.
class FixedBus {
  public:
    explicit FixedBus(const fs::path& socket) : socket_(socket) {}
    ~FixedBus() { stop(); }
    std::string address() const { return "unix:path=" + socket_.string(); }
    bool start() {
        fs::remove(socket_);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        const std::string listen = "--address=" + address();
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 3);
            execlp("dbus-daemon", "dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf",
                   listen.c_str(), "--nofork", "--nopidfile", "--print-address=3", nullptr);
            _exit(127);
        }
        close(fds[1]);
        // It prints its address once it listens.
        bool listening = false;
        pollfd p{fds[0], POLLIN, 0};
        char buffer[256];
        if (pid_ > 0 && poll(&p, 1, 10000) > 0)
            listening = read(fds[0], buffer, sizeof buffer) > 0;
        close(fds[0]);
        return listening;
    }
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    fs::path socket_;
    pid_t pid_ = -1;
};

int errorLines(const std::string& text) {
    int count = 0;
    for (size_t at = 0; (at = text.find("Error: ", at)) != std::string::npos; ++at)
        ++count;
    return count;
}

TEST(NotificationFaultTest, SessionBusGoingAwayAndComingBack) {
    test::TempFolder folder;
    FixedBus bus(folder / "bus");
    if (!bus.start())
        GTEST_SKIP() << "dbus-daemon could not be started";
    Notification::useBusAddress(bus.address());
    {
        test::NotificationServer server(bus.address());
        ASSERT_TRUE(server.ready());
        EXPECT_TRUE(Notification::notify("Network", std::string("Connected to Internet")));
        EXPECT_EQ(server.received().size(), 1u);
    }

    bus.stop();
    testing::internal::CaptureStderr();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(Notification::notify("Network", std::string("Connected to Internet")));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errorLines(err), 1) << err;

    ASSERT_TRUE(bus.start());
    {
        test::NotificationServer server(bus.address());
        ASSERT_TRUE(server.ready());
        testing::internal::CaptureStderr();
        EXPECT_TRUE(Notification::notify("Network", std::string("Connected to Internet")));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        ASSERT_EQ(server.received().size(), 1u);
        EXPECT_EQ(server.received()[0].summary, "Network");
    }
    // The server left but the bus stayed: a cause of its own, reported once.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Notification::notify("A"));
    EXPECT_FALSE(Notification::notify("B"));
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errorLines(err), 1) << err;

    // A second outage after a success is reported again.
    bus.stop();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Notification::notify("C"));
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errorLines(err), 1) << err;
    Notification::useBusAddress("");
}

// The alerts' sender keeps one connection: it is opened again after the bus came back, and the
// server's clicks reach it on the new one.
TEST(NotificationFaultTest, CenterReconnectsAfterTheBusCameBack) {
    test::TempFolder folder;
    FixedBus bus(folder / "bus");
    if (!bus.start())
        GTEST_SKIP() << "dbus-daemon could not be started";
    std::mutex mutex;
    std::vector<std::string> clicked;
    std::vector<std::optional<uint32_t>> answers;
    NotificationCenter::Handlers handlers;
    handlers.actionInvoked = [&](uint32_t id, const std::string& action) {
        std::lock_guard lock(mutex);
        clicked.push_back(std::to_string(id) + " " + action);
    };
    NotificationCenter center(handlers, bus.address());
    const auto post = [&](const char* title) {
        const std::size_t before = answers.size();
        Notification::Message message;
        message.title = title;
        center.post(message, [&](std::optional<uint32_t> id) {
            std::lock_guard lock(mutex);
            answers.push_back(id);
        });
        return test::waitUntil([&] {
            std::lock_guard lock(mutex);
            return answers.size() > before;
        });
    };
    const auto clicks = [&] {
        std::lock_guard lock(mutex);
        return clicked.size();
    };
    {
        test::NotificationServer server(bus.address());
        ASSERT_TRUE(server.ready());
        ASSERT_TRUE(post("Before"));
        EXPECT_EQ(answers.back(), 1u);
        server.invokeAction(1, "open");
        ASSERT_TRUE(test::waitUntil([&] { return clicks() == 1; }));
    }
    bus.stop();
    testing::internal::CaptureStderr();
    ASSERT_TRUE(post("During"));
    ASSERT_TRUE(post("During"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errorLines(err), 1) << err;
    EXPECT_EQ(answers[1], std::nullopt);
    EXPECT_EQ(answers[2], std::nullopt);

    ASSERT_TRUE(bus.start());
    test::NotificationServer server(bus.address());
    ASSERT_TRUE(server.ready());
    ASSERT_TRUE(post("After"));
    EXPECT_EQ(answers.back(), 1u);
    server.invokeAction(1, "default");
    ASSERT_TRUE(test::waitUntil([&] { return clicks() == 2; }));
    EXPECT_EQ(clicked, (std::vector<std::string>{"1 open", "1 default"}));
    center.stop();
}

}  // namespace
}  // namespace vigil
