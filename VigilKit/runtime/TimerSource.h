#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "runtime/Queue.h"

namespace vigil {

// The repeating source behind a Timer: hands each deadline to its queue (Queue::asyncAt) and runs
// the tick there. A tick that comes due while the previous one still runs is
// coalesced into one tick that runs as soon as the previous one returns.
class TimerSource : public std::enable_shared_from_this<TimerSource> {
  public:
    using Clock = Queue::Clock;

    TimerSource(Queue& queue, double interval, std::function<void()> handler);

    void resume();
    void suspend();
    void cancel();
    // Cancels, then waits for a tick running on another thread to return, so that nothing the
    // handler uses is destroyed under it.
    void cancelAndWait();
    double interval() const { return interval_; }

  private:
    void scheduleLocked(Clock::time_point deadline);
    void onDeadline(uint64_t generation, Clock::time_point deadline);
    void submitTick();
    void runTick();

    Queue& queue_;
    const double interval_;
    const Clock::duration period_;
    const std::function<void()> handler_;

    std::mutex mutex_;
    bool resumed_ = false;
    bool cancelled_ = false;
    bool running_ = false;
    bool missed_ = false;
    bool inHandler_ = false;
    std::thread::id handlerThread_;
    std::condition_variable handlerDone_;
    uint64_t generation_ = 0;  // a suspend or resume invalidates the deadlines scheduled before it
};

}  // namespace vigil
