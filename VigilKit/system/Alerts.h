#pragma once

// Alerts: rules over the sampled figures, each with a warning level, a clear level (hysteresis) and
// a minimum duration, that post a desktop notification when one fires and show in the panel while
// it lasts. The rules are kept in the settings file under "alertRules".

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/Defaults.h"
#include "system/AlertFigures.h"

namespace vigil {

enum class AlertKind {
    processorBusy,      // busy share above the level (percent) for the duration
    memoryLow,          // available memory below the level (percent of the total)
    swapFilling,        // swap in use above the level (percent of the swap space)
    volumeLow,          // a volume's available space below the level (percent) or 5 GB, the smaller
    volumeFillingFast,  // a volume full within the level (minutes) at its last 10 minutes' rate
    temperatureHigh,    // a sensor within the level (degrees C) of its critical limit, or above max
    batteryLow,         // the battery at or below the level (percent) while discharging
    driveHealth,        // SMART failing, an NVMe critical warning, reallocated sectors growing
    connectionBack,     // the connection came back after being lost
};

// Every kind, in the order the settings view lists them.
const std::vector<AlertKind>& allAlertKinds();

// One rule as the settings file keeps it. Levels are in the rule's unit (see AlertKind); a rule
// without a level (driveHealth, connectionBack) ignores both.
struct AlertRuleConfig {
    AlertKind kind;
    bool enabled = true;
    double warnLevel = 0;
    double clearLevel = 0;
    std::chrono::seconds minDuration{0};
    // Posts a "back to normal" notification when the rule clears.
    bool notifyCleared = false;
};

// The rule of this kind with its default levels.
AlertRuleConfig defaultAlertRule(AlertKind kind);
// Every rule, the stored ones with what the file holds and the rest with their defaults; a stored
// rule that makes no sense (clear level on the wrong side of the warning level, a negative
// duration) is refused with one error line and its default is used.
std::vector<AlertRuleConfig> alertRules(Defaults& defaults = Defaults::shared());
void setAlertRules(const std::vector<AlertRuleConfig>& rules,
                   Defaults& defaults = Defaults::shared());
// The settings file's key of the rules.
inline constexpr const char* kAlertRulesKey = "alertRules";

// For the settings view: the rule's name ("Processor busy"), its level's unit ("%", "°C",
// "minutes"; empty when it has none), and whether it has levels to change.
std::string alertRuleTitle(AlertKind kind);
std::string alertLevelUnit(AlertKind kind);
bool alertRuleHasLevels(AlertKind kind);
// The rule's key in the settings file ("processorBusy"), and whether it fires above its warning
// level (its clear level lies below it) rather than below.
std::string alertRuleKey(AlertKind kind);
bool alertRuleFiresAbove(AlertKind kind);

// A rule that has fired and not yet cleared.
struct ActiveAlert {
    AlertKind kind;
    // What it is about where a rule watches several things: the volume's mount point, the
    // sensor's id ("coretemp-isa-0000/Package id 0", as Sensors names it: labels repeat across
    // chips), the whole disk's name ("sda"); empty for the processor, memory, swap, battery and
    // connection.
    std::string subject;
    // What the detail view shows: "Processor busy above 90 % since 14:02".
    std::string text;
    std::chrono::system_clock::time_point since;
};

class Alerts {
  public:
    // The program's instance: evaluates the rules of the settings from start().
    static Alerts& shared();

    // Where an instance gets what it works with; the program's instance uses this machine's.
    struct Environment {
        // The figures the enabled rules need, taken now. Called on the evaluating thread.
        std::function<AlertFigures(const std::vector<AlertRuleConfig>& enabled)> figures;
        // The bus of the notification server; empty: Notification's (the session bus).
        std::string busAddress;
        std::function<std::chrono::steady_clock::time_point()> clock;
        std::function<std::chrono::system_clock::time_point()> wallClock;
        // Where the rules are kept; Defaults::shared() when null.
        Defaults* defaults = nullptr;
        // Seconds between two evaluations once started; 0: only evaluateNow() evaluates.
        double interval = 10;
    };
    explicit Alerts(Environment environment);

    // Evaluates the rules once now, on the calling thread (the timer's work; tests call it).
    void evaluateNow();
    // The connection came back after being lost: posts the connectionBack notice when the rule
    // is on. Any thread; never blocks.
    void connectionCameBack();

    // Starts evaluating the rules (and posting notifications); stop() ends it at exit.
    void start();
    void stop();
    // Reads the rules from the settings again (after the settings view changed them; a change
    // in the settings file is also noticed at the next evaluation).
    void reloadRules();

    // Main thread: the rules firing now, and a number that changes whenever that list does.
    std::vector<ActiveAlert> active() const;
    unsigned generation() const;
    // Whether a rule of this kind fires now for this subject (empty: for any subject).
    bool firing(AlertKind kind, const std::string& subject = {}) const;

    // What the notification's "Open" action does: called on the main queue with the rule and its
    // subject, to show the panel with the matching detail view.
    using OpenHandler = std::function<void(AlertKind kind, const std::string& subject)>;
    void setOpenHandler(OpenHandler handler);

    ~Alerts();

  private:
    Alerts();
    void reloadRulesIfChanged();
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vigil
