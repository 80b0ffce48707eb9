#include "runtime/RunLoop.h"

#include <algorithm>

#include "runtime/MainQueue.h"

namespace vigil {

namespace {
// A condition may turn true without a main-queue task (a background thread sets a flag), so the
// wait is sliced to re-check it regularly.
constexpr std::chrono::milliseconds kRecheck{5};
}  // namespace

bool RunLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto& queue = MainQueue::instance();
    queue.adoptCurrentThread();
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (done && done())
            return true;
        const auto now = Clock::now();
        if (now >= deadline)
            return done ? done() : false;
        queue.runOne(std::min(deadline, now + kRecheck));
    }
}

void RunLoop::runFor(std::chrono::milliseconds duration) {
    runUntil(nullptr, duration);
}

int RunLoop::drain() {
    auto& queue = MainQueue::instance();
    queue.adoptCurrentThread();
    int ran = 0;
    while (queue.runOne(Clock::now()))
        ++ran;
    return ran;
}

}  // namespace vigil
