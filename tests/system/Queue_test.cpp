#include "system/Queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <vector>

#include "support/TestSupport.h"
#include "system/RunLoop.h"

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

TEST(QueueExecutor, InstalledExecutorReceivesMainTasks) {
    std::vector<Queue::Task> posted;
    Queue::setMainExecutor([&](Queue::Task task) { posted.push_back(std::move(task)); });
    int ran = 0;
    Queue::main().async([&] { ++ran; });
    Queue::setMainExecutor(nullptr);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(ran, 0);
    posted.front()();
    EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace vigil
