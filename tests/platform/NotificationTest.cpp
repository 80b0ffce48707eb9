#include "platform/Notification.h"

#include <gtest/gtest.h>

#include "support/SessionBus.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

class NotificationTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!bus_.started())
            GTEST_SKIP() << "dbus-daemon could not be started";
        Notification::useBusAddress(bus_.address());
    }
    void TearDown() override { Notification::useBusAddress(""); }

    test::PrivateBus bus_;
};

TEST_F(NotificationTest, TitleOnlyPlaysTheDefaultSoundWithoutButtons) {
    test::NotificationServer server(bus_.address());
    ASSERT_TRUE(server.ready());
    EXPECT_TRUE(Notification::notify("Network", std::string("Connected to Internet")));
    EXPECT_TRUE(Notification::notify("Title only"));
    const auto received = server.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].summary, "Network");
    EXPECT_EQ(received[0].body, "Connected to Internet");
    EXPECT_EQ(received[0].soundName, Notification::kDefaultSound);
    EXPECT_TRUE(received[0].actions.empty());
    EXPECT_EQ(received[1].body, "");
    EXPECT_EQ(received[1].soundName, Notification::kDefaultSound);
}

TEST_F(NotificationTest, NoSoundActionAndReplyButtons) {
    test::NotificationServer server(bus_.address());
    ASSERT_TRUE(server.ready());
    EXPECT_TRUE(Notification::notify("T", std::nullopt, std::nullopt, std::string("Open"), true));
    const auto received = server.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_TRUE(received[0].suppressSound);
    EXPECT_EQ(received[0].soundName, "");
    EXPECT_EQ(received[0].actions,
              (std::vector<std::string>{"default", "Open", "inline-reply", "Reply"}));
}

TEST_F(NotificationTest, NoServerGivesOneErrorLineAndNoCrash) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Notification::notify("Network", std::string("Connected to Internet")));
    const auto error = testing::internal::GetCapturedStderr();
    EXPECT_EQ(error.rfind("Error: Notification Notify -- ", 0), 0u) << error;
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1);
}

TEST(NotificationNoBus, UnreachableBusGivesOneErrorLine) {
    Notification::useBusAddress("unix:path=/nonexistent/vigil-test-bus");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Notification::notify("Network"));
    const auto error = testing::internal::GetCapturedStderr();
    Notification::useBusAddress("");
    EXPECT_EQ(error.rfind("Error: Notification bus -- ", 0), 0u) << error;
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1);
}

}  // namespace
}  // namespace vigil
