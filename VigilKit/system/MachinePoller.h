#pragma once

// Polls one machine source on a thread of its own, at an interval, and keeps the latest answer for
// readers on any thread. Other work for the source (a history query) is queued to the same thread,
// so the source never has two requests in flight. Stopping ends a request in flight early.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "collectors/MachineSource.h"

namespace vigil {

class MachinePoller {
  public:
    MachinePoller(std::unique_ptr<MachineSource> source, std::chrono::milliseconds interval);
    ~MachinePoller();  // stop()
    MachinePoller(const MachinePoller&) = delete;
    MachinePoller& operator=(const MachinePoller&) = delete;

    // The machines of the last poll; empty before the first poll ends. Never blocks on the network.
    std::shared_ptr<const std::vector<MachineState>> machines() const;
    // How many polls have ended.
    unsigned polls() const;

    // Runs `job` on the source's thread with the source, between two polls.
    void enqueue(std::function<void(MachineSource&)> job);

    const MachineSourceConfig& config() const { return source_->config(); }

    // Ends the thread (joins it); a request in flight is cut off.
    void stop();

  private:
    void run();

    std::unique_ptr<MachineSource> source_;
    std::chrono::milliseconds interval_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    unsigned polls_ = 0;
    std::shared_ptr<const std::vector<MachineState>> machines_;
    std::deque<std::function<void(MachineSource&)>> jobs_;
    std::thread thread_;
};

}  // namespace vigil
