#include "runtime/Queue.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/MainQueue.h"
#include "runtime/TimedTask.h"
#include "runtime/TimerScheduler.h"

namespace vigil {

namespace {

std::atomic<bool> shutDown{false};

// The background pool: one worker per core, at least two. Concurrent, like a global queue.
//
// The pool keeps its own deadlines, so that a timer's tick wakes one thread, not a timer thread
// and then a worker. One idle worker (the keeper) sleeps until the earliest deadline and runs
// that task itself. While the keeper runs a task nobody else watches the clock closely; one
// other idle worker (the watch) sleeps until `kWatchGrace` past the earliest deadline, so a
// keeper held up by a long task (a hung file system, a slow peer) delays the other timers by
// that much at most.
class BackgroundQueue final : public Queue {
  public:
    static constexpr auto kWatchGrace = std::chrono::seconds(2);

    void async(Task task) override {
        Wake wake = Wake::none;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            startWorkers();
            tasks_.push_back(std::move(task));
            wake = whomToWake();
        }
        notify(wake);
    }

    void asyncAt(Clock::time_point deadline, Task task) override {
        bool wakeKeeper = false, wakeIdle = false;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            startWorkers();
            const bool earliest = timers_.empty() || deadline < timers_.top().deadline;
            timers_.push(TimedTask{deadline, nextSequence_++, std::move(task)});
            wakeKeeper = keeping_ && earliest;  // it sleeps until a later deadline
            // Someone must keep the time, and another watch it. A worker asking (a tick
            // scheduling its next one) keeps it itself once its task returns.
            const bool needsKeeper = !keeping_ && !onWorker;
            wakeIdle = (needsKeeper || !watching_) && idle_ > 0;
        }
        if (wakeKeeper)
            keeperWake_.notify_one();
        if (wakeIdle)
            wake_.notify_one();
    }

    bool isCurrent() const override { return onWorker; }

    void shutdown() {
        std::vector<std::thread> workers;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            tasks_.clear();
            timers_ = {};
            wake_.notify_all();
            keeperWake_.notify_all();
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

    // New work wakes an idle worker, or the keeper when no other is idle. The wake-up is sent
    // once the lock is released, so the woken worker does not at once wait for the lock.
    enum class Wake { none, idle, keeper };
    Wake whomToWake() const {
        if (idle_ > 0)
            return Wake::idle;
        return keeping_ ? Wake::keeper : Wake::none;
    }
    void notify(Wake wake) {
        if (wake == Wake::idle)
            wake_.notify_one();
        else if (wake == Wake::keeper)
            keeperWake_.notify_one();
    }

    void work() {
        onWorker = true;
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            Wake wake = Wake::none;
            Task task = takeReady(&wake);
            if (!task) {
                waitForWork(lock);
                continue;
            }
            lock.unlock();
            notify(wake);
            task();
            task = nullptr;  // release captures outside the lock
            lock.lock();
        }
    }

    // A queued task, else the task of a deadline that has come; empty when there is neither.
    // `wake` says whom to wake for a further deadline that has come too.
    Task takeReady(Wake* wake) {
        if (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            return task;
        }
        const auto now = Clock::now();
        if (timers_.empty() || timers_.top().deadline > now)
            return {};
        Task task = std::move(const_cast<TimedTask&>(timers_.top()).task);
        timers_.pop();
        // Deadlines that come together run side by side, as they would from a queue.
        if (!timers_.empty() && timers_.top().deadline <= now)
            *wake = whomToWake();
        return task;
    }

    void waitForWork(std::unique_lock<std::mutex>& lock) {
        if (!timers_.empty() && !keeping_) {
            keeping_ = true;
            const Clock::time_point deadline = timers_.top().deadline;  // the heap may move
            keeperWake_.wait_until(lock, deadline);
            keeping_ = false;
            return;
        }
        ++idle_;
        if (!timers_.empty() && !watching_) {
            watching_ = true;
            const Clock::time_point late = timers_.top().deadline + kWatchGrace;
            wake_.wait_until(lock, late);
            watching_ = false;
        } else {
            wake_.wait(lock);
        }
        --idle_;
    }

    static thread_local bool onWorker;
    std::mutex mutex_;
    std::condition_variable wake_;        // idle workers and the watch
    std::condition_variable keeperWake_;  // the keeper
    std::deque<Task> tasks_;
    TimedTaskHeap timers_;
    uint64_t nextSequence_ = 0;
    unsigned idle_ = 0;
    bool keeping_ = false;
    bool watching_ = false;
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
    const auto delay = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::min(seconds, 1e9)));
    asyncAt(Clock::now() + delay, std::move(task));
}

void Queue::asyncAt(Clock::time_point deadline, Task task) {
    TimerScheduler::shared().schedule(
        deadline, [this, task = std::move(task)]() mutable { async(std::move(task)); });
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
