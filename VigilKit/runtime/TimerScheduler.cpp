#include "runtime/TimerScheduler.h"

namespace vigil {

TimerScheduler& TimerScheduler::shared() {
    // Never destroyed: the thread is stopped by Queue::shutdown() before statics go away.
    static TimerScheduler* instance = new TimerScheduler();
    return *instance;
}

void TimerScheduler::schedule(Clock::time_point deadline, Action action) {
    std::lock_guard lock(mutex_);
    if (stopping_)
        return;
    ensureThread();
    heap_.push(TimedTask{deadline, nextSequence_++, std::move(action)});
    wake_.notify_one();
}

size_t TimerScheduler::pendingCount() const {
    std::lock_guard lock(mutex_);
    return heap_.size();
}

void TimerScheduler::ensureThread() {
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
}

void TimerScheduler::shutdown() {
    std::thread thread;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        heap_ = {};
        wake_.notify_all();
        thread = std::move(thread_);
    }
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
        thread.join();
    if (thread.joinable())
        thread.detach();
}

void TimerScheduler::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (heap_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto deadline = heap_.top().deadline;
        if (Clock::now() < deadline) {
            wake_.wait_until(lock, deadline);
            continue;
        }
        Action action = std::move(const_cast<TimedTask&>(heap_.top()).task);
        heap_.pop();
        lock.unlock();
        action();
        lock.lock();
    }
}

}  // namespace vigil
