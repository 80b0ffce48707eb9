#pragma once

#include <chrono>
#include <functional>

namespace vigil {

// Drives the main queue from the calling thread where no event loop does it (tests, the CLI tools).
// While one runs, that thread counts as the main thread.
class RunLoop {
  public:
    using Clock = std::chrono::steady_clock;

    // Runs main-queue tasks until `done` returns true (checked before waiting and after every task)
    // or `timeout` passes. Returns the last value of `done`.
    static bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Runs main-queue tasks for the whole duration.
    static void runFor(std::chrono::milliseconds duration);
    // Runs every main-queue task that is ready now, without waiting; returns how many ran.
    static int drain();
};

}  // namespace vigil
