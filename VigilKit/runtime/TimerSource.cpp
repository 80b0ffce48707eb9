#include "runtime/TimerSource.h"

#include <algorithm>
#include <cmath>

namespace vigil {

namespace {
TimerSource::Clock::duration toPeriod(double seconds) {
    // A zero, negative or NaN interval would spin: the shortest period is one millisecond.
    const double bounded = std::isfinite(seconds) ? std::clamp(seconds, 0.001, 1e9) : 1e9;
    return std::chrono::duration_cast<TimerSource::Clock::duration>(
        std::chrono::duration<double>(bounded));
}
}  // namespace

TimerSource::TimerSource(Queue& queue, double interval, std::function<void()> handler)
    : queue_(queue),
      interval_(interval),
      period_(toPeriod(interval)),
      handler_(std::move(handler)) {}

void TimerSource::resume() {
    std::lock_guard lock(mutex_);
    if (cancelled_ || resumed_)
        return;
    resumed_ = true;
    ++generation_;
    scheduleLocked(Clock::now() + period_);
}

void TimerSource::suspend() {
    std::lock_guard lock(mutex_);
    resumed_ = false;
    missed_ = false;
    ++generation_;
}

void TimerSource::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    resumed_ = false;
    missed_ = false;
    ++generation_;
}

void TimerSource::cancelAndWait() {
    std::unique_lock lock(mutex_);
    cancelled_ = true;
    resumed_ = false;
    missed_ = false;
    ++generation_;
    handlerDone_.wait(
        lock, [this] { return !inHandler_ || handlerThread_ == std::this_thread::get_id(); });
}

void TimerSource::scheduleLocked(Clock::time_point deadline) {
    std::weak_ptr<TimerSource> weakSelf = weak_from_this();
    const uint64_t generation = generation_;
    auto action = [weakSelf, generation, deadline] {
        if (auto self = weakSelf.lock())
            self->onDeadline(generation, deadline);
    };
    queue_.asyncAt(deadline, std::move(action));
}

void TimerSource::onDeadline(uint64_t generation, Clock::time_point deadline) {
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_ || !resumed_)
            return;
        // Deadlines missed (a long tick, a suspended machine) collapse into the next one.
        const auto now = Clock::now();
        auto next = deadline + period_;
        if (next <= now)
            next = now + period_;
        scheduleLocked(next);
        if (running_) {
            missed_ = true;
            return;
        }
        running_ = true;
    }
    // A deadline that comes due on the timer's own queue (a main-queue timer kept in the event
    // loop) runs the tick at once rather than posting it behind itself.
    if (queue_.isCurrent())
        runTick();
    else
        submitTick();
}

void TimerSource::submitTick() {
    auto self = shared_from_this();
    queue_.async([self] { self->runTick(); });
}

void TimerSource::runTick() {
    {
        std::lock_guard lock(mutex_);
        if (!resumed_) {  // suspended or cancelled after this tick was handed to the queue
            running_ = false;
            missed_ = false;
            return;
        }
        inHandler_ = true;
        handlerThread_ = std::this_thread::get_id();
    }
    handler_();
    {
        std::lock_guard lock(mutex_);
        inHandler_ = false;
        handlerDone_.notify_all();
        if (!(missed_ && resumed_)) {
            running_ = false;
            missed_ = false;
            return;
        }
        missed_ = false;
    }
    submitTick();
}

}  // namespace vigil
