#include "system/MachinePoller.h"

#include <pthread.h>

namespace vigil {

MachinePoller::MachinePoller(std::unique_ptr<MachineSource> source,
                             std::chrono::milliseconds interval)
    : source_(std::move(source)), interval_(interval), thread_([this] { run(); }) {}

MachinePoller::~MachinePoller() {
    stop();
}

std::shared_ptr<const std::vector<MachineState>> MachinePoller::machines() const {
    std::lock_guard lock(mutex_);
    return machines_;
}

unsigned MachinePoller::polls() const {
    std::lock_guard lock(mutex_);
    return polls_;
}

void MachinePoller::enqueue(std::function<void(MachineSource&)> job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void MachinePoller::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    source_->cancelled = true;
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void MachinePoller::run() {
    pthread_setname_np(pthread_self(), "vigil-machines");
    auto nextPoll = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!jobs_.empty()) {
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job(*source_);
            lock.lock();
            continue;
        }
        if (std::chrono::steady_clock::now() < nextPoll) {
            wake_.wait_until(lock, nextPoll);
            continue;
        }
        lock.unlock();
        auto polled = std::make_shared<std::vector<MachineState>>(source_->poll());
        for (auto& machine : *polled)
            machine.source = source_->config().url;
        lock.lock();
        if (stopping_)
            break;
        machines_ = std::move(polled);
        ++polls_;
        nextPoll = std::chrono::steady_clock::now() + interval_;
    }
}

}  // namespace vigil
