#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace vigil {

class TimerSource;

// A repeating timer on a queue with an explicit life cycle:
//   initial --start--> started --suspend--> suspended --start--> started;  started --cancel-->
//   canceled
// Every other call is a no-op. Ticks run on the main queue unless `background` is true; two ticks
// of one timer never overlap (a tick that comes due while the previous one runs is coalesced).
// The first tick after a start comes one interval later.
class Timer {
  public:
    enum class Status { initial, started, suspended, canceled };
    using Closure = std::function<void()>;

    Timer(double interval, bool background, Closure closure);
    Timer(double interval, Closure closure) : Timer(interval, false, std::move(closure)) {}
    virtual ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Readable from any thread (the history recorder asks from the sampling threads whether a
    // task rests); changed only by the thread that owns the timer.
    Status status() const { return status_.load(std::memory_order_relaxed); }
    double interval() const;

    void start();
    void suspend();
    void cancel();

    // Runs the closure once after `seconds`: on the background queue by default, on the main queue
    // when `background` is false.
    static void delay(double seconds, Closure closure, bool background = true);
    static void onBackground(Closure closure);
    static void onMain(Closure closure);

  protected:
    // For subclasses that must do work (such as a first sample) before the source exists.
    struct Deferred {};
    explicit Timer(Deferred) {}
    void createSource(double interval, bool background, Closure closure);

  private:
    std::atomic<Status> status_{Status::initial};
    std::shared_ptr<TimerSource> timer_;
};

const char* toString(Timer::Status status);

}  // namespace vigil
