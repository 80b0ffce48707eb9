#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "support/TempFolder.h"
#include "system/Alerts.h"

namespace vigil::test {

// Alerts over figures the test sets and a clock it moves, evaluated only when the test says so.
// Notifications go to `busAddress` (a private bus with a notification server of the test's own),
// or, where none is given, to a bus that is not there: one error line, which nothing waits for.
class AlertsDriver {
  public:
    explicit AlertsDriver(Defaults& defaults, const std::string& busAddress = {}) {
        Alerts::Environment environment;
        environment.figures = [this](const std::vector<AlertRuleConfig>&) {
            std::lock_guard lock(mutex_);
            return figures_;
        };
        environment.busAddress =
            busAddress.empty() ? "unix:path=" + folder_.path().string() + "/no-bus" : busAddress;
        environment.clock = [this] {
            std::lock_guard lock(mutex_);
            return now_;
        };
        environment.defaults = &defaults;
        environment.interval = 0;
        alerts = std::make_unique<Alerts>(environment);
        alerts->start();
    }
    ~AlertsDriver() { alerts->stop(); }
    AlertsDriver(const AlertsDriver&) = delete;
    AlertsDriver& operator=(const AlertsDriver&) = delete;

    // Evaluates every 10 s for `span` with these figures.
    void hold(const AlertFigures& figures, std::chrono::seconds span) {
        for (auto passed = std::chrono::seconds(0); passed < span;
             passed += std::chrono::seconds(10)) {
            {
                std::lock_guard lock(mutex_);
                now_ += std::chrono::seconds(10);
                figures_ = figures;
            }
            alerts->evaluateNow();
        }
    }

    std::unique_ptr<Alerts> alerts;

  private:
    TempFolder folder_;
    std::mutex mutex_;
    AlertFigures figures_;
    std::chrono::steady_clock::time_point now_{};
};

}  // namespace vigil::test
