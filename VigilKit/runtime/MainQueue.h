#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "runtime/Queue.h"

namespace vigil {

// The main queue. Tasks go to the installed executor (the program's event loop) or, by default,
// wait in a list that RunLoop drains on the thread that runs it.
class MainQueue final : public Queue {
  public:
    static MainQueue& instance();

    void async(Task task) override;
    bool isCurrent() const override;

    void setExecutor(Executor executor);
    void setTimedExecutor(TimedExecutor executor);
    // In the timed executor when one is installed, else on the shared timer thread.
    void asyncAt(Clock::time_point deadline, Task task) override;
    // Marks the calling thread as the one that drives the main queue.
    void adoptCurrentThread();

    // Runs one waiting task, waiting for one until `deadline`; false when none came.
    bool runOne(std::chrono::steady_clock::time_point deadline);
    // Wakes a waiting runOne() without a task (used when a condition may have changed).
    void poke();

  private:
    MainQueue() = default;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    Executor executor_;
    TimedExecutor timedExecutor_;
    std::thread::id thread_;
    bool poked_ = false;
};

}  // namespace vigil
