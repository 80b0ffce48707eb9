#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "system/AlertRuleState.h"
#include "system/Alerts.h"

namespace vigil {

// What an evaluation changed: a rule that fired, stepped further (the battery's second step) or
// cleared, with the notification's text.
struct AlertEvent {
    enum class Type { fired, escalated, cleared };
    Type type = Type::fired;
    ActiveAlert alert;
    std::string title, body;
    bool urgent = false;  // the battery's last step, a failing drive
};

// The rules over the figures: one AlertRuleState per rule and subject, the volumes' last ten
// minutes for their filling rate and the drives' reallocated sectors as first read. Pure: the
// caller passes the figures and the time, and gets what changed. Used from one thread at a time.
class AlertEvaluator {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using WallTime = std::chrono::system_clock::time_point;

    // The rules to evaluate (disabled ones are skipped; a rule switched off clears silently).
    void setRules(std::vector<AlertRuleConfig> rules);
    const std::vector<AlertRuleConfig>& rules() const { return rules_; }

    // Steps every enabled rule with these figures.
    std::vector<AlertEvent> evaluate(const AlertFigures& figures, TimePoint now, WallTime wallNow);

    // The rules firing now, in the order of the rules, then of their subjects.
    std::vector<ActiveAlert> active() const;

    // How long a volume's filling rate looks back, and how much of that it needs to have seen.
    static constexpr std::chrono::minutes kRateWindow{10};
    static constexpr std::chrono::minutes kRateMinimumSpan{5};
    // A drive whose reallocated sectors grew stays reported this long after the last growth.
    static constexpr std::chrono::hours kReallocationMemory{24};

    // How temperatures are written in the texts ("96°", in the user's unit); "96 °C" when unset.
    void setTemperatureWriter(std::function<std::string(double celsius)> degrees) {
        degrees_ = std::move(degrees);
    }

  private:
    using Key = std::pair<AlertKind, std::string>;
    struct Tracked {
        AlertRuleState state;
        ActiveAlert alert;
        int step = 0;  // the battery's steps passed
    };
    // What one rule and subject looks like now.
    struct Reading {
        bool pastWarning = false, pastClear = false;
        std::string text;         // what the detail view says while it fires, without "since"
        std::string title, body;  // the notification
    };

    void step(const AlertRuleConfig& rule, const std::string& subject, const Reading& reading,
              TimePoint now, WallTime wallNow, std::vector<AlertEvent>& events);
    void evaluateRule(const AlertRuleConfig& rule, const AlertFigures& figures, TimePoint now,
                      WallTime wallNow, std::vector<AlertEvent>& events);
    void stepBattery(const AlertRuleConfig& rule, const AlertFigures& figures, TimePoint now,
                     WallTime wallNow, std::vector<AlertEvent>& events);
    void rememberVolumes(const AlertFigures& figures, TimePoint now);
    // Bytes a minute the volume lost over the window; nothing before it has seen enough.
    std::optional<double> fillingRate(const std::string& mountPoint) const;
    Reading driveReading(const AlertFigures::Drive& drive, TimePoint now);
    std::string temperature(double celsius) const;
    // Drops the rule's subjects that this evaluation did not see (a volume unmounted).
    void forgetUnseen(AlertKind kind, const std::vector<Key>& seen);

    std::vector<AlertRuleConfig> rules_;
    std::map<Key, Tracked> tracked_;
    std::map<std::string, std::deque<std::pair<TimePoint, std::int64_t>>> volumeSamples_;
    struct DriveMemory {
        std::optional<std::int64_t> reallocated;
        std::optional<TimePoint> grewAt;
        std::int64_t grewFrom = 0;
    };
    std::map<std::string, DriveMemory> drives_;
    std::function<std::string(double)> degrees_;
};

// "14:02": the local time of day, as the detail view says since when a rule fires.
std::string alertTimeOfDay(std::chrono::system_clock::time_point time);

}  // namespace vigil
