#include "runtime/Atomic.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/Mutex.h"

namespace vigil {
namespace {

TEST(AtomicValue, SwapAndModifyReturnThePreviousValue) {
    Atomic<std::string> box("a");
    EXPECT_EQ(box.swap("b"), "a");
    EXPECT_EQ(box.value(), "b");
    EXPECT_EQ(box.modify([](std::string s) { return s + "c"; }), "b");
    EXPECT_EQ(box.value(), "bc");
    const size_t length = box.withValue([](std::string& s) {
        s += "d";
        return s.size();
    });
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(box.value(), "bcd");
}

TEST(AtomicValue, ThrowingModifyLeavesTheValueAndUnlocks) {
    Atomic<int> box(1);
    EXPECT_THROW(box.modify([](int) -> int { throw std::runtime_error("no"); }),
                 std::runtime_error);
    EXPECT_EQ(box.value(), 1);  // the lock was released: this would deadlock otherwise
    box.setValue(2);
    EXPECT_EQ(box.value(), 2);
}

TEST(AtomicValue, ConcurrentModificationsAreNotLost) {
    Atomic<std::vector<int>> box;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&box, t] {
            for (int i = 0; i < 1000; ++i) {
                box.withValue([&](std::vector<int>& v) { v.push_back(t); });
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(box.value().size(), 4000u);
}

TEST(MutexLocking, LockUnlockAndSynchroniseResult) {
    Mutex mutex;
    EXPECT_TRUE(mutex.lock());
    EXPECT_TRUE(mutex.unlock());
    EXPECT_EQ(mutex.synchronise([] { return 42; }), 42);
    EXPECT_THROW(mutex.synchronise([]() -> int { throw std::logic_error("x"); }), std::logic_error);
    EXPECT_TRUE(mutex.lock());  // released after the throw
    EXPECT_TRUE(mutex.unlock());
}

}  // namespace
}  // namespace vigil
