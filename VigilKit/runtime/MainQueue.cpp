#include "runtime/MainQueue.h"

namespace vigil {

MainQueue& MainQueue::instance() {
    static MainQueue* queue = new MainQueue();  // never destroyed
    return *queue;
}

void MainQueue::async(Task task) {
    Executor executor;
    {
        std::lock_guard lock(mutex_);
        if (!executor_) {
            tasks_.push_back(std::move(task));
            wake_.notify_all();
            return;
        }
        executor = executor_;
    }
    executor(std::move(task));
}

bool MainQueue::isCurrent() const {
    std::lock_guard lock(mutex_);
    return thread_ == std::this_thread::get_id();
}

void MainQueue::setExecutor(Executor executor) {
    std::deque<Task> waiting;
    {
        std::lock_guard lock(mutex_);
        executor_ = std::move(executor);
        thread_ = std::this_thread::get_id();
        if (executor_)
            waiting.swap(tasks_);
    }
    for (auto& task : waiting)
        async(std::move(task));
}

void MainQueue::setTimedExecutor(TimedExecutor executor) {
    std::lock_guard lock(mutex_);
    timedExecutor_ = std::move(executor);
}

void MainQueue::asyncAt(Clock::time_point deadline, Task task) {
    TimedExecutor executor;
    {
        std::lock_guard lock(mutex_);
        executor = timedExecutor_;
    }
    if (executor)
        executor(deadline, std::move(task));
    else
        Queue::asyncAt(deadline, std::move(task));
}

void MainQueue::adoptCurrentThread() {
    std::lock_guard lock(mutex_);
    thread_ = std::this_thread::get_id();
}

bool MainQueue::runOne(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, deadline, [this] { return !tasks_.empty() || poked_; });
    poked_ = false;
    if (tasks_.empty())
        return false;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    return true;
}

void MainQueue::poke() {
    std::lock_guard lock(mutex_);
    poked_ = true;
    wake_.notify_all();
}

}  // namespace vigil
