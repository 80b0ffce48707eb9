#include "system/Alerts.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "C/system/ErrorReport.h"
#include "support/AlertsDriver.h"
#include "support/SessionBus.h"
#include "support/TempFolder.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

using namespace std::chrono_literals;

// Alerts over figures the test sets, a clock the test moves, and a private session bus with a
// notification server of the test's own.
class AlertsOnABus : public testing::Test {
  protected:
    void SetUp() override {
        if (!bus_.started())
            GTEST_SKIP() << "dbus-daemon could not be started";
        server_ = std::make_unique<test::NotificationServer>(bus_.address());
        ASSERT_TRUE(server_->ready());
        driver_ = std::make_unique<test::AlertsDriver>(defaults_, bus_.address());
        alerts_ = driver_->alerts.get();
    }

    // Evaluates every 10 s for `span` with the processor at `busy` percent and the memory at
    // `available` percent.
    void hold(double busy, std::chrono::seconds span, double available = 50) {
        AlertFigures figures;
        figures.processorBusy = busy;
        figures.memoryAvailable = available;
        figures.topProcessor = AlertFigures::TopApplication{"Builder", busy - 5};
        driver_->hold(figures, span);
    }
    // Waits until the server has received `count` notifications; returns them.
    std::vector<test::NotificationServer::Received> receivedAfter(std::size_t count) {
        test::waitUntil([&] { return server_->received().size() >= count; });
        return server_->received();
    }

    test::PrivateBus bus_;
    std::unique_ptr<test::NotificationServer> server_;
    test::TempFolder folder_;
    Defaults defaults_{"alerts", folder_.path()};
    std::unique_ptr<test::AlertsDriver> driver_;
    Alerts* alerts_ = nullptr;
};

TEST_F(AlertsOnABus, OneNotificationPerCrossingReplacedInPlaceAndOpenReachesTheHandler) {
    std::vector<std::pair<AlertKind, std::string>> opened;
    alerts_->setOpenHandler(
        [&](AlertKind kind, const std::string& subject) { opened.emplace_back(kind, subject); });

    hold(97, 2min);
    EXPECT_EQ(alerts_->generation(), 0u);
    hold(97, 10s);
    EXPECT_TRUE(alerts_->firing(AlertKind::processorBusy));
    EXPECT_EQ(alerts_->generation(), 1u);
    auto received = receivedAfter(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].summary, "Processor busy: 97 %");
    EXPECT_EQ(received[0].body, "Above 90 % for 2 minutes. Using the most: Builder, 92 %.");
    EXPECT_EQ(received[0].replacesId, 0u);
    EXPECT_EQ(received[0].actions, (std::vector<std::string>{"default", "Open", "open", "Open"}));
    const auto firstId = received[0].id;

    // While it lasts, and hovering at the level: nothing more.
    hold(95, 3min);
    hold(88, 1min);
    hold(91, 1min);
    // The "Open" action shows the processor's view.
    server_->invokeAction(firstId, "open");
    ASSERT_TRUE(test::waitUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened[0], std::make_pair(AlertKind::processorBusy, std::string()));

    // Cleared without a notice (the rule does not ask for one), fired again three minutes later:
    // within the quiet time, so the notification waits for it, then replaces the first in place.
    hold(40, 1min);
    EXPECT_FALSE(alerts_->firing(AlertKind::processorBusy));
    hold(97, 130s);
    EXPECT_TRUE(alerts_->firing(AlertKind::processorBusy));
    EXPECT_EQ(server_->received().size(), 1u);
    hold(97, 2min);  // ten minutes after the first
    received = receivedAfter(2);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].replacesId, firstId);

    // The user dismissed it. Meanwhile the memory runs low; its "Open" (sent after the
    // dismissal, so handled after it) shows the memory's view.
    server_->close(firstId, 2);
    hold(40, 70s, 5);
    received = receivedAfter(3);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[2].summary, "Memory low: 5 % available");
    server_->invokeAction(received[2].id, "default");
    ASSERT_TRUE(test::waitUntil([&] { return opened.size() == 2; }));
    EXPECT_EQ(opened[1], std::make_pair(AlertKind::memoryLow, std::string()));
    // The next crossing of the processor is a new notification.
    hold(97, 11min);
    received = receivedAfter(4);
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(received[3].summary, "Processor busy: 97 %");
    EXPECT_EQ(received[3].replacesId, 0u);
    alerts_->stop();
    EXPECT_EQ(server_->received().size(), 4u);
}

TEST_F(AlertsOnABus, BackToNormalOnlyWhereAskedAndNothingBlocksWithTheServerGone) {
    // Changed in the settings file: read at the next evaluation.
    auto rules = alertRules(defaults_);
    rules[1].notifyCleared = true;  // memoryLow
    setAlertRules(rules, defaults_);

    hold(10, 70s, 5);
    auto received = receivedAfter(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].summary, "Memory low: 5 % available");
    hold(10, 10s, 20);
    received = receivedAfter(2);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].summary, "Memory low: back to normal");
    EXPECT_EQ(received[1].replacesId, received[0].id);
    EXPECT_TRUE(received[1].suppressSound);

    // A busy server that answers only later: the evaluation that fires the processor's rule
    // returns before the answer (it would otherwise have to time out, with an error line), and
    // the answer, when it comes, gives the notification its id.
    std::vector<AlertKind> opened;
    alerts_->setOpenHandler([&](AlertKind kind, const std::string&) { opened.push_back(kind); });
    server_->holdAnswers(true);
    ErrorReport::shared().forget("Error: Notification ");
    testing::internal::CaptureStderr();
    hold(97, 130s, 20);
    EXPECT_TRUE(alerts_->firing(AlertKind::processorBusy));
    received = receivedAfter(3);
    ASSERT_EQ(received.size(), 3u);
    server_->holdAnswers(false);
    server_->invokeAction(received[2].id, "open");
    ASSERT_TRUE(test::waitUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened[0], AlertKind::processorBusy);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    hold(40, 10s, 20);

    // The server goes away: two rules fire, the evaluations go on, one error line is written.
    server_.reset();
    ErrorReport::shared().forget("Error: Notification ");
    testing::internal::CaptureStderr();
    hold(97, 11min, 5);  // the memory's notification waits out its quiet time: two posts
    EXPECT_TRUE(alerts_->firing(AlertKind::processorBusy));
    EXPECT_TRUE(alerts_->firing(AlertKind::memoryLow));
    alerts_->stop();  // waits for the posts to be answered
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.rfind("Error: Notification Notify -- ", 0), 0u) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
}

}  // namespace
}  // namespace vigil
