#include "host/MainEventLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/Timer.h"
#include "runtime/TimerScheduler.h"
#include "support/QtTestApp.h"

namespace vigil {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class MainEventLoopTest : public test::QtTest {
  protected:
    void SetUp() override {
        QtTest::SetUp();
        runMainQueueOnEventLoop(test::qtApp());
    }
    void TearDown() override { stopRunningMainQueueOnEventLoop(); }

    // Lets the loop run for a while: for checks that nothing happens.
    static void runLoopFor(milliseconds span) {
        const auto until = Clock::now() + span;
        test::qtWaitUntil([&] { return Clock::now() >= until; }, span + milliseconds(1000));
    }
};

TEST_F(MainEventLoopTest, MainQueueTimersWaitInTheLoopAndTickOnItsThread) {
    const size_t waitingOnTimerThread = TimerScheduler::shared().pendingCount();
    const auto mainThread = std::this_thread::get_id();
    std::vector<Clock::time_point> ticks;
    bool onMain = true;
    Timer timer(0.05, [&] {
        ticks.push_back(Clock::now());
        onMain = onMain && std::this_thread::get_id() == mainThread;
    });
    const auto started = Clock::now();
    timer.start();
    EXPECT_EQ(TimerScheduler::shared().pendingCount(), waitingOnTimerThread);
    ASSERT_TRUE(test::qtWaitUntil([&] { return ticks.size() >= 4; }));
    EXPECT_TRUE(onMain);
    EXPECT_GE(ticks.front() - started, milliseconds(50)) << "the first tick comes an interval on";
    // Deadlines follow one another by the interval, whatever the loop's delays: no drift.
    const auto span = ticks[3] - ticks[0];
    EXPECT_GE(span, milliseconds(140));

    timer.suspend();
    const size_t suspendedAt = ticks.size();
    runLoopFor(milliseconds(200));
    EXPECT_EQ(ticks.size(), suspendedAt);
    timer.cancel();
}

TEST_F(MainEventLoopTest, ATimerStartedOnAnotherThreadStillTicksOnTheLoop) {
    const auto mainThread = std::this_thread::get_id();
    int ticks = 0;
    bool onMain = true;
    Timer timer(0.03, [&] {
        ++ticks;
        onMain = onMain && std::this_thread::get_id() == mainThread;
    });
    std::thread starter([&] { timer.start(); });
    starter.join();
    ASSERT_TRUE(test::qtWaitUntil([&] { return ticks >= 2; }));
    EXPECT_TRUE(onMain);
    timer.cancel();
    const int cancelledAt = ticks;
    runLoopFor(milliseconds(150));
    EXPECT_EQ(ticks, cancelledAt);
}

TEST_F(MainEventLoopTest, BackgroundTimersStayOffTheLoop) {
    const auto mainThread = std::this_thread::get_id();
    std::atomic<int> ticks{0};
    std::atomic<bool> offMain{true};
    Timer timer(0.02, /*background=*/true, [&] {
        offMain = offMain && std::this_thread::get_id() != mainThread;
        ++ticks;
    });
    timer.start();
    ASSERT_TRUE(test::qtWaitUntil([&] { return ticks >= 3; }));
    timer.cancel();
    EXPECT_TRUE(offMain);
}

}  // namespace
}  // namespace vigil
