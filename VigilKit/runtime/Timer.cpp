#include "runtime/Timer.h"

#include "runtime/Queue.h"
#include "runtime/TimerSource.h"

namespace vigil {

Timer::Timer(double interval, bool background, Closure closure) {
    createSource(interval, background, std::move(closure));
}

void Timer::createSource(double interval, bool background, Closure closure) {
    Queue& queue = background ? Queue::background() : Queue::main();
    timer_ = std::make_shared<TimerSource>(queue, interval, std::move(closure));
    status_ = Status::initial;
}

Timer::~Timer() {
    // Nothing may tick once the owner is gone, and a tick running elsewhere must finish first:
    // its handler may use what the owner is about to destroy.
    if (timer_)
        timer_->cancelAndWait();
}

double Timer::interval() const {
    return timer_ ? timer_->interval() : 0;
}

void Timer::start() {
    if (status_ != Status::initial && status_ != Status::suspended)
        return;
    status_ = Status::started;
    timer_->resume();
}

void Timer::suspend() {
    if (status_ != Status::started)
        return;
    status_ = Status::suspended;
    timer_->suspend();
}

void Timer::cancel() {
    if (status_ != Status::started)
        return;
    status_ = Status::canceled;
    timer_->cancel();
}

void Timer::delay(double seconds, Closure closure, bool background) {
    Queue& queue = background ? Queue::background() : Queue::main();
    queue.asyncAfter(seconds, std::move(closure));
}

void Timer::onBackground(Closure closure) {
    Queue::background().async(std::move(closure));
}

void Timer::onMain(Closure closure) {
    Queue::main().async(std::move(closure));
}

const char* toString(Timer::Status status) {
    switch (status) {
        case Timer::Status::initial:
            return "initial";
        case Timer::Status::started:
            return "started";
        case Timer::Status::suspended:
            return "suspended";
        case Timer::Status::canceled:
            return "canceled";
    }
    return "unknown";
}

}  // namespace vigil
