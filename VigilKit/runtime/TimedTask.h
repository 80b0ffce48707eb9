#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

namespace vigil {

// A task waiting for its deadline on the monotonic clock.
struct TimedTask {
    std::chrono::steady_clock::time_point deadline;
    uint64_t sequence;  // keeps equal deadlines in submission order
    std::function<void()> task;
    bool operator>(const TimedTask& other) const {
        return deadline != other.deadline ? deadline > other.deadline : sequence > other.sequence;
    }
};

// The earliest deadline on top.
using TimedTaskHeap = std::priority_queue<TimedTask, std::vector<TimedTask>, std::greater<>>;

}  // namespace vigil
