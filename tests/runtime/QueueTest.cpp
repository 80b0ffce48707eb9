#include "runtime/Queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/RunLoop.h"
#include "runtime/TimerScheduler.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

TEST(QueueOrder, MainQueueRunsTasksInSubmissionOrderOnTheRunLoopThread) {
    std::vector<int> order;
    bool allOnMain = true;
    for (int i = 0; i < 50; ++i) {
        Queue::main().async([&, i] {
            allOnMain = allOnMain && Queue::main().isCurrent();
            order.push_back(i);
        });
    }
    ASSERT_TRUE(test::waitUntil([&] { return order.size() == 50; }));
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_TRUE(allOnMain);
    EXPECT_FALSE(Queue::background().isCurrent());
}

TEST(QueueOrder, DelayedTasksRunByDeadlineNotBySubmission) {
    std::vector<int> order;
    Queue::main().asyncAfter(0.15, [&] { order.push_back(3); });
    Queue::main().asyncAfter(0.05, [&] { order.push_back(2); });
    Queue::main().asyncAfter(-1, [&] { order.push_back(1); });  // negative delay: at once
    ASSERT_TRUE(test::waitUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(QueueConcurrency, BackgroundQueueRunsTasksSideBySide) {
    // Each task waits for the other: this finishes only if two workers run at once.
    std::latch both(2);
    std::atomic<int> done{0};
    for (int i = 0; i < 2; ++i) {
        Queue::background().async([&] {
            both.arrive_and_wait();
            ++done;
        });
    }
    ASSERT_TRUE(test::waitUntil([&] { return done == 2; }));
}

using Clock = Queue::Clock;
using std::chrono::milliseconds;

// Waits up to ten seconds for a count, off the main queue.
bool reaches(const std::atomic<int>& count, int target) {
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (count.load() < target && Clock::now() < until)
        std::this_thread::sleep_for(milliseconds(1));
    return count.load() >= target;
}

TEST(QueueBackgroundDeadlines, RunInOrderNeverEarlyOnAWorkerWithoutTheTimerThread) {
    const size_t onTimerThread = TimerScheduler::shared().pendingCount();
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> done{0};
    std::atomic<bool> allInTime{true}, allOnWorkers{true};
    // The first deadline lies well after the last task is queued, so that a slow queueing (a
    // sanitizer build on a busy machine) cannot let an early deadline pass before a later one is
    // in.
    const auto start = Clock::now() + milliseconds(500);
    for (int delay : {150, 50, 100, 0}) {
        const auto deadline = start + milliseconds(delay);
        Queue::background().asyncAt(deadline, [&, delay, deadline] {
            allInTime = allInTime && Clock::now() >= deadline;
            allOnWorkers = allOnWorkers && Queue::background().isCurrent();
            std::lock_guard lock(mutex);
            order.push_back(delay);
            ++done;
        });
    }
    EXPECT_EQ(TimerScheduler::shared().pendingCount(), onTimerThread);
    ASSERT_TRUE(reaches(done, 4));
    EXPECT_EQ(order, (std::vector<int>{0, 50, 100, 150}));
    EXPECT_TRUE(allInTime);
    EXPECT_TRUE(allOnWorkers);
}

TEST(QueueBackgroundDeadlines, DeadlinesThatComeTogetherRunSideBySide) {
    // Each waits for the other: both see two only if two workers run them at once.
    std::atomic<int> arrived{0}, sawBoth{0}, done{0};
    const auto deadline = Clock::now() + milliseconds(30);
    for (int i = 0; i < 2; ++i) {
        Queue::background().asyncAt(deadline, [&] {
            ++arrived;
            if (reaches(arrived, 2))
                ++sawBoth;
            ++done;
        });
    }
    ASSERT_TRUE(reaches(done, 2));
    EXPECT_EQ(sawBoth, 2);
}

TEST(QueueBackgroundDeadlines, ATaskThatHangsDoesNotStopTheOtherDeadlines) {
    // Whichever worker keeps the time runs the first deadline's task, which hangs until
    // released; the later deadlines still come, from another worker.
    struct State {
        std::atomic<bool> release{false};
        std::atomic<int> hung{0}, later{0}, finished{0};
    };
    auto state = std::make_shared<State>();
    const auto start = Clock::now();
    Queue::background().asyncAt(start + milliseconds(10), [state] {
        ++state->hung;
        const auto until = Clock::now() + std::chrono::seconds(30);
        while (!state->release && Clock::now() < until)
            std::this_thread::sleep_for(milliseconds(1));
        ++state->finished;
    });
    for (int i = 1; i <= 3; ++i)
        Queue::background().asyncAt(start + milliseconds(10 + 40 * i), [state] { ++state->later; });
    EXPECT_TRUE(reaches(state->hung, 1));
    EXPECT_TRUE(reaches(state->later, 3));
    state->release = true;
    EXPECT_TRUE(reaches(state->finished, 1));
}

TEST(QueueExecutor, InstalledExecutorReceivesMainTasks) {
    // Timers that earlier tests in this program left running may post to the main queue while the
    // executor is installed: the executor is called from their threads too.
    std::mutex lock;
    std::vector<Queue::Task> posted;
    Queue::setMainExecutor([&](Queue::Task task) {
        std::lock_guard<std::mutex> hold(lock);
        posted.push_back(std::move(task));
    });
    int ran = 0;
    Queue::main().async([&] { ++ran; });
    Queue::setMainExecutor(nullptr);
    std::lock_guard<std::mutex> hold(lock);
    ASSERT_GE(posted.size(), 1u);
    EXPECT_EQ(ran, 0);
    for (auto& task : posted)
        task();
    EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace vigil
