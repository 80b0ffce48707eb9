#include "system/Queue.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "system/MainQueue.h"
#include "system/TimerScheduler.h"

namespace vigil {

namespace {

std::atomic<bool> shutDown{false};

// The background pool: one worker per core, at least two. Concurrent, like a global queue.
class BackgroundQueue final : public Queue {
  public:
    void async(Task task) override {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        startWorkers();
        tasks_.push_back(std::move(task));
        wake_.notify_one();
    }

    bool isCurrent() const override { return onWorker; }

    void shutdown() {
        std::vector<std::thread> workers;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            tasks_.clear();
            wake_.notify_all();
            workers.swap(workers_);
        }
        for (auto& worker : workers) {
            if (worker.get_id() == std::this_thread::get_id()) {
                worker.detach();
            } else {
                worker.join();
            }
        }
    }

  private:
    void startWorkers() {
        if (!workers_.empty())
            return;
        const unsigned count = std::max(2u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < count; ++i)
            workers_.emplace_back([this] { work(); });
    }

    void work() {
        onWorker = true;
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_)
                return;
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            task = nullptr;  // release captures outside the lock
            lock.lock();
        }
    }

    static thread_local bool onWorker;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::vector<std::thread> workers_;
    bool stopping_ = false;
};

thread_local bool BackgroundQueue::onWorker = false;

BackgroundQueue& backgroundQueue() {
    static BackgroundQueue* queue = [] {
        std::atexit([] { Queue::shutdown(); });
        return new BackgroundQueue();
    }();
    return *queue;
}

}  // namespace

Queue& Queue::main() {
    return MainQueue::instance();
}

Queue& Queue::background() {
    return backgroundQueue();
}

void Queue::asyncAfter(double seconds, Task task) {
    if (!(seconds > 0)) {
        async(std::move(task));
        return;
    }
    const auto delay = std::chrono::duration_cast<TimerScheduler::Clock::duration>(
        std::chrono::duration<double>(std::min(seconds, 1e9)));
    TimerScheduler::shared().schedule(
        TimerScheduler::Clock::now() + delay,
        [this, task = std::move(task)]() mutable { async(std::move(task)); });
}

void Queue::setMainExecutor(Executor executor) {
    MainQueue::instance().setExecutor(std::move(executor));
}

void Queue::setMainTimedExecutor(TimedExecutor executor) {
    MainQueue::instance().setTimedExecutor(std::move(executor));
}

void Queue::shutdown() {
    if (shutDown.exchange(true))
        return;
    TimerScheduler::shared().shutdown();
    backgroundQueue().shutdown();
}

bool Queue::isShutDown() {
    return shutDown.load();
}

}  // namespace vigil
