#include "runtime/Signal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "runtime/Queue.h"
#include "runtime/RunLoop.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

struct Owner : Trackable {};

TEST(SignalRetention, DefaultSignalKeepsNoDataAndListenPastStaysQuiet) {
    Signal<int> signal;
    Owner owner;
    signal.fire(7);
    EXPECT_EQ(signal.fireCount(), 1);
    EXPECT_FALSE(signal.lastDataFired().has_value());
    int calls = 0;
    signal.listenPast(owner, [&](const int&) { ++calls; });
    EXPECT_EQ(calls, 0);
}

TEST(SignalRetention, ListenPastDeliversRetainedValueThenEveryFire) {
    Signal<int> signal(true);
    Owner owner;
    signal.fire(1);
    std::vector<int> seen;
    signal.listenPast(owner, [&](const int& v) { seen.push_back(v); });
    signal.fire(2);
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(SignalRetention, ListenPastOnceDeliversExactlyOneValue) {
    Signal<int> retained(true);
    Owner owner;
    retained.fire(1);
    std::vector<int> seen;
    retained.listenPastOnce(owner, [&](const int& v) { seen.push_back(v); });
    retained.fire(2);
    EXPECT_EQ(seen, (std::vector<int>{1}));

    Signal<int> fresh(true);
    std::vector<int> later;
    fresh.listenPastOnce(owner, [&](const int& v) { later.push_back(v); });
    fresh.fire(5);
    fresh.fire(6);
    EXPECT_EQ(later, (std::vector<int>{5}));
}

TEST(SignalRetention, TurningRetentionOffEmptiesAndOnDoesNotRestore) {
    Signal<std::string> signal(true);
    signal.fire("a");
    ASSERT_EQ(signal.lastDataFired(), std::optional<std::string>("a"));
    signal.setRetainLastData(false);
    EXPECT_FALSE(signal.lastDataFired().has_value());
    signal.setRetainLastData(true);
    EXPECT_FALSE(signal.lastDataFired().has_value());
    signal.fire("b");
    signal.clearLastData();
    EXPECT_FALSE(signal.lastDataFired().has_value());
}

TEST(SignalOwners, DestroyedOwnerIsNeverCalledAgainAndIsPruned) {
    Signal<int> signal;
    auto gone = std::make_unique<Owner>();
    Owner kept;
    int goneCalls = 0, keptCalls = 0;
    signal.listen(*gone, [&](const int&) { ++goneCalls; });
    signal.listen(kept, [&](const int&) { ++keptCalls; });
    signal.fire(1);
    gone.reset();
    EXPECT_EQ(signal.listeners().size(), 1u);
    EXPECT_EQ(signal.attachedCount(), 2u);  // still held until the next fire or listen
    signal.fire(2);
    EXPECT_EQ(signal.attachedCount(), 1u);
    EXPECT_EQ(goneCalls, 1);
    EXPECT_EQ(keptCalls, 2);
}

TEST(SignalOwners, SharedPtrOwnersAreHeldWeakly) {
    Signal<> signal;
    auto owner = std::make_shared<int>(3);
    int calls = 0;
    signal.listen(owner, [&] { ++calls; });
    EXPECT_EQ(owner.use_count(), 1);
    signal.fire();
    owner.reset();
    signal.fire();
    EXPECT_EQ(calls, 1);
}

TEST(SignalOwners, DettachRemovesOneOwnerAndTheDeadKeepingOrder) {
    Signal<int> signal;
    Owner a, b;
    auto dead = std::make_unique<Owner>();
    std::vector<std::string> order;
    signal.listen(a, [&](const int&) { order.push_back("a1"); });
    signal.listen(b, [&](const int&) { order.push_back("b1"); });
    signal.listen(*dead, [&](const int&) { order.push_back("dead"); });
    signal.listen(a, [&](const int&) { order.push_back("a2"); });
    signal.listen(b, [&](const int&) { order.push_back("b2"); });
    dead.reset();
    signal.dettach(a);
    EXPECT_EQ(signal.attachedCount(), 2u);
    signal.fire(0);
    EXPECT_EQ(order, (std::vector<std::string>{"b1", "b2"}));
    signal.dettachAllListeners();
    EXPECT_TRUE(signal.listeners().empty());
}

TEST(SignalFiring, ListenersAddedDuringFireWaitForTheNextOne) {
    Signal<int> signal;
    Owner owner;
    std::vector<std::string> calls;
    signal.listen(owner, [&](const int&) {
        calls.push_back("first");
        if (calls.size() == 1) {
            signal.listen(owner, [&](const int&) { calls.push_back("added"); });
        }
    });
    signal.fire(1);
    EXPECT_EQ(calls, (std::vector<std::string>{"first"}));
    signal.fire(2);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "first", "added"}));
}

TEST(SignalFiring, ListenerDetachedDuringFireIsStillCalledByThatFire) {
    Signal<int> signal;
    Owner first, second;
    int secondCalls = 0;
    signal.listen(first, [&](const int&) { signal.dettach(second); });
    signal.listen(second, [&](const int&) { ++secondCalls; });
    signal.fire(1);
    EXPECT_EQ(secondCalls, 1);
    signal.fire(2);
    EXPECT_EQ(secondCalls, 1);
}

TEST(SignalFiring, ListenerWhoseOwnerDiesDuringFireIsSkipped) {
    Signal<int> signal;
    Owner first;
    auto second = std::make_unique<Owner>();
    int secondCalls = 0;
    signal.listen(first, [&](const int&) { second.reset(); });
    signal.listen(*second, [&](const int&) { ++secondCalls; });
    signal.fire(1);
    EXPECT_EQ(secondCalls, 0);
}

TEST(SignalFiring, FilterSkipsWithoutSpendingAOneShot) {
    Signal<int> signal;
    Owner owner;
    std::vector<int> seen;
    signal.listenOnce(owner, [&](const int& v) { seen.push_back(v); })->filter([](const int& v) {
        return v % 2 == 0;
    });
    signal.fire(1);
    signal.fire(3);
    signal.fire(4);
    signal.fire(6);
    EXPECT_EQ(seen, (std::vector<int>{4}));
}

TEST(SignalFiring, CancelStopsDeliveryAndCountsFiresWithoutListeners) {
    Signal<int> signal;
    Owner owner;
    int calls = 0;
    auto listener = signal.listen(owner, [&](const int&) { ++calls; });
    listener->cancel();
    EXPECT_FALSE(listener->dispatch(1));
    signal.fire(1);
    signal.fire(2);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(signal.fireCount(), 2);
    EXPECT_EQ(signal.attachedCount(), 0u);
}

TEST(SignalQueues, DispatchOnQueueDeliversThereInOrderOnce) {
    Signal<int> signal;
    Owner owner;
    std::mutex mutex;
    std::vector<int> seen;
    std::atomic<bool> onWorker{true};
    signal
        .listen(owner,
                [&](const int& v) {
                    if (!Queue::background().isCurrent())
                        onWorker = false;
                    std::lock_guard lock(mutex);
                    seen.push_back(v);
                })
        ->dispatch(Queue::background());
    signal.fire(1);
    ASSERT_TRUE(test::waitUntil([&] {
        std::lock_guard lock(mutex);
        return seen.size() == 1;
    }));
    EXPECT_TRUE(onWorker);
}

TEST(SignalQueues, FiringFromBackgroundDeliversOnMainQueue) {
    Signal<int> signal;
    Owner owner;
    std::vector<int> seen;
    bool onMain = true;
    signal
        .listen(owner,
                [&](const int& v) {
                    onMain = onMain && Queue::main().isCurrent();
                    seen.push_back(v);
                })
        ->dispatch(Queue::main());
    RunLoop::drain();  // this thread drives the main queue
    std::thread firing([&] {
        for (int i = 0; i < 5; ++i)
            signal.fire(i);
    });
    firing.join();
    ASSERT_TRUE(test::waitUntil([&] { return seen.size() == 5; }));
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(onMain);
}

TEST(SignalQueues, DelayCoalescesToTheNewestValueOncePerWindow) {
    Signal<int> signal;
    Owner owner;
    std::vector<int> seen;
    auto listener = signal.listen(owner, [&](const int& v) { seen.push_back(v); })->queue(0.3);
    RunLoop::drain();
    signal.fire(1);
    signal.fire(2);
    signal.fire(3);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(listener->queuedData(), std::optional<int>(3));
    ASSERT_TRUE(test::waitUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, (std::vector<int>{3}));
    EXPECT_FALSE(listener->queuedData().has_value());
    signal.fire(4);
    ASSERT_TRUE(test::waitUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen.back(), 4);
}

TEST(SignalQueues, DelayedDeliveryIsDroppedWhenTheOwnerGoes) {
    Signal<int> signal;
    auto owner = std::make_unique<Owner>();
    int calls = 0;
    auto listener = signal.listen(*owner, [&](const int&) { ++calls; })->queue(0.05);
    signal.fire(1);
    owner.reset();
    ASSERT_TRUE(test::waitUntil([&] { return !listener->queuedData().has_value(); }));
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace vigil
