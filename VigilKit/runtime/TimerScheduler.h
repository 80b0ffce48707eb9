#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/TimedTask.h"

namespace vigil {

// One thread that keeps every pending deadline in a heap and runs a short hand-off (usually a
// submission to a queue) when each comes due. Deadlines are on the monotonic clock.
class TimerScheduler {
  public:
    using Clock = std::chrono::steady_clock;
    using Action = std::function<void()>;

    static TimerScheduler& shared();

    void schedule(Clock::time_point deadline, Action action);
    // Stops the thread; pending actions are dropped and later ones ignored.
    void shutdown();
    size_t pendingCount() const;

  private:
    TimerScheduler() = default;
    void ensureThread();
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    TimedTaskHeap heap_;
    uint64_t nextSequence_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace vigil
