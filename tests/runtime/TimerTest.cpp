#include "runtime/Timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "runtime/Queue.h"
#include "runtime/RunLoop.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

using Status = Timer::Status;
using Clock = std::chrono::steady_clock;

struct Transition {
    Status from;
    void (Timer::*call)();
    Status to;
};

void bringTo(Timer& timer, Status status) {
    switch (status) {
        case Status::initial:
            break;
        case Status::started:
            timer.start();
            break;
        case Status::suspended:
            timer.start();
            timer.suspend();
            break;
        case Status::canceled:
            timer.start();
            timer.cancel();
            break;
    }
    ASSERT_EQ(timer.status(), status);
}

TEST(TimerStates, EveryTransitionOfTheTable) {
    const Transition table[] = {
        {Status::initial, &Timer::start, Status::started},
        {Status::initial, &Timer::suspend, Status::initial},
        {Status::initial, &Timer::cancel, Status::initial},
        {Status::started, &Timer::start, Status::started},
        {Status::started, &Timer::suspend, Status::suspended},
        {Status::started, &Timer::cancel, Status::canceled},
        {Status::suspended, &Timer::start, Status::started},
        {Status::suspended, &Timer::suspend, Status::suspended},
        {Status::suspended, &Timer::cancel, Status::suspended},
        {Status::canceled, &Timer::start, Status::canceled},
        {Status::canceled, &Timer::suspend, Status::canceled},
        {Status::canceled, &Timer::cancel, Status::canceled},
    };
    for (const auto& row : table) {
        Timer timer(60, true, [] {});
        bringTo(timer, row.from);
        (timer.*row.call)();
        EXPECT_EQ(timer.status(), row.to) << "from " << toString(row.from);
    }
}

TEST(TimerStates, NoOpsLeaveTheTimerUsable) {
    std::atomic<int> ticks{0};
    Timer timer(0.02, true, [&] { ++ticks; });
    timer.suspend();
    timer.cancel();
    EXPECT_EQ(timer.status(), Status::initial);
    timer.start();
    ASSERT_TRUE(test::waitUntil([&] { return ticks >= 2; }));
}

TEST(TimerTicks, FirstTickComesOneIntervalAfterStartOnItsQueue) {
    std::atomic<bool> onBackground{false};
    std::atomic<Clock::rep> firstTick{0};
    Timer timer(0.1, true, [&] {
        if (firstTick == 0) {
            onBackground = Queue::background().isCurrent();
            firstTick = Clock::now().time_since_epoch().count();
        }
    });
    const auto started = Clock::now();
    timer.start();
    ASSERT_TRUE(test::waitUntil([&] { return firstTick != 0; }));
    EXPECT_TRUE(onBackground);
    EXPECT_GE(Clock::time_point(Clock::duration(firstTick.load())) - started,
              std::chrono::milliseconds(100));
}

TEST(TimerTicks, MainQueueTimerTicksOnTheMainQueue) {
    int ticks = 0;
    bool onMain = true;
    Timer timer(0.02, [&] {
        onMain = onMain && Queue::main().isCurrent();
        ++ticks;
    });
    timer.start();
    ASSERT_TRUE(test::waitUntil([&] { return ticks >= 3; }));
    EXPECT_TRUE(onMain);
}

TEST(TimerTicks, SlowTicksNeverOverlap) {
    std::atomic<int> running{0}, maxRunning{0}, ticks{0};
    Timer timer(0.005, true, [&] {
        const int now = ++running;
        int seen = maxRunning;
        while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));  // a tick six intervals long
        --running;
        ++ticks;
    });
    timer.start();
    ASSERT_TRUE(test::waitUntil([&] { return ticks >= 5; }));
    timer.suspend();
    EXPECT_EQ(maxRunning, 1);
}

TEST(TimerTicks, SuspendedAndCanceledTimersFireNoMoreAndRestartWorks) {
    std::atomic<int> ticks{0}, witness{0};
    Timer timer(0.01, true, [&] { ++ticks; });
    Timer witnessTimer(0.01, true, [&] { ++witness; });
    timer.start();
    ASSERT_TRUE(test::waitUntil([&] { return ticks >= 2; }));
    timer.suspend();
    const int atSuspend = ticks;
    witnessTimer.start();
    ASSERT_TRUE(test::waitUntil([&] { return witness >= 10; }));
    EXPECT_LE(ticks, atSuspend + 1);  // a tick already running may finish
    const int beforeRestart = ticks;

    timer.start();
    ASSERT_TRUE(test::waitUntil([&] { return ticks >= beforeRestart + 2; }));
    timer.cancel();
    const int atCancel = ticks;
    const int witnessAtCancel = witness;
    ASSERT_TRUE(test::waitUntil([&] { return witness >= witnessAtCancel + 10; }));
    EXPECT_LE(ticks, atCancel + 1);
    timer.start();
    EXPECT_EQ(timer.status(), Status::canceled);
}

TEST(TimerTicks, DestroyingTimersInAnyStateIsSafeAndStopsTicks) {
    std::atomic<int> ticks{0}, witness{0};
    {
        Timer started(0.005, true, [&] { ++ticks; });
        started.start();
        Timer suspended(0.005, true, [&] { ++ticks; });
        suspended.start();
        suspended.suspend();
        ASSERT_TRUE(test::waitUntil([&] { return ticks >= 1; }));
    }
    const int atDestruction = ticks;
    Timer witnessTimer(0.005, true, [&] { ++witness; });
    witnessTimer.start();
    ASSERT_TRUE(test::waitUntil([&] { return witness >= 10; }));
    EXPECT_EQ(ticks, atDestruction);
}

TEST(TimerOneShots, DelayRunsOnceOnTheChosenQueue) {
    std::atomic<int> background{0};
    std::atomic<bool> backgroundOnWorker{false};
    const auto start = Clock::now();
    Timer::delay(0.2, [&] {
        backgroundOnWorker = Queue::background().isCurrent();
        ++background;
    });
    int main = 0;
    bool mainOnMain = false;
    Timer::delay(
        0.2,
        [&] {
            mainOnMain = Queue::main().isCurrent();
            ++main;
        },
        false);
    ASSERT_TRUE(test::waitUntil([&] { return background == 1 && main == 1; }));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_TRUE(backgroundOnWorker);
    EXPECT_TRUE(mainOnMain);

    bool ranOnMain = false;
    std::atomic<bool> ranOnBackground{false};
    Timer::onMain([&] { ranOnMain = Queue::main().isCurrent(); });
    Timer::onBackground([&] { ranOnBackground = Queue::background().isCurrent(); });
    ASSERT_TRUE(test::waitUntil([&] { return ranOnMain && ranOnBackground; }));
    EXPECT_EQ(background, 1);
    EXPECT_EQ(main, 1);
}

}  // namespace
}  // namespace vigil
