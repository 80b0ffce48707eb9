// The alert rules: their defaults, names and units, and how the settings file keeps them.
//
// "alertRules" holds one object per rule, keyed by the kind's name:
//   {"processorBusy": {"enabled": true, "warnLevel": 90, "clearLevel": 70, "minDuration": 120,
//                      "notifyCleared": false}, ...}
// Every member is optional (a missing one keeps the default). Entries this version does not know
// are kept as they are when the rules are written back.

#include <cmath>
#include <string_view>

#include "C/system/ErrorReport.h"
#include "system/Alerts.h"

namespace vigil {

namespace {

struct KindFacts {
    AlertKind kind;
    const char* key;
    const char* title;
    const char* unit;
    double warn, clear;
    int seconds;
    // The warning level's side: true when the rule fires above it (the clear level lies below).
    bool firesAbove;
    // The range a level may take.
    double lowest, highest;
};

// The catalogue, in the order the settings view lists the rules.
constexpr KindFacts kKinds[] = {
    {AlertKind::processorBusy, "processorBusy", "Processor busy", "%", 90, 70, 120, true, 1, 100},
    {AlertKind::memoryLow, "memoryLow", "Memory low", "%", 10, 15, 60, false, 0, 99},
    {AlertKind::swapFilling, "swapFilling", "Swap filling", "%", 80, 60, 60, true, 1, 100},
    {AlertKind::volumeLow, "volumeLow", "Volume almost full", "%", 10, 12, 0, false, 0, 99},
    {AlertKind::volumeFillingFast, "volumeFillingFast", "Volume filling fast", "minutes", 60, 120,
     0, false, 1, 24 * 60},
    {AlertKind::temperatureHigh, "temperatureHigh", "Temperature near its limit", "°C below", 5, 10,
     30, false, 0, 50},
    {AlertKind::batteryLow, "batteryLow", "Battery low", "%", 10, 15, 0, false, 1, 99},
    {AlertKind::driveHealth, "driveHealth", "Drive failing", "", 0, 0, 0, true, 0, 0},
    {AlertKind::connectionBack, "connectionBack", "Back online", "", 0, 0, 0, true, 0, 0},
};

const KindFacts& factsOf(AlertKind kind) {
    for (const auto& facts : kKinds) {
        if (facts.kind == kind)
            return facts;
    }
    return kKinds[0];  // every enumerator is in the table
}

std::optional<double> number(const DefaultsValue& entry, const char* member, bool* wrong) {
    const auto found = entry.find(member);
    if (found == entry.end())
        return std::nullopt;
    if (!found->is_number() || !std::isfinite(found->get<double>())) {
        *wrong = true;
        return std::nullopt;
    }
    return found->get<double>();
}

std::optional<bool> flag(const DefaultsValue& entry, const char* member, bool* wrong) {
    const auto found = entry.find(member);
    if (found == entry.end())
        return std::nullopt;
    if (!found->is_boolean()) {
        *wrong = true;
        return std::nullopt;
    }
    return found->get<bool>();
}

bool levelsMakeSense(const AlertRuleConfig& rule) {
    const auto& facts = factsOf(rule.kind);
    if (rule.minDuration.count() < 0 || rule.minDuration > std::chrono::hours(24))
        return false;
    if (!alertRuleHasLevels(rule.kind))
        return true;
    const auto inRange = [&](double level) {
        return level >= facts.lowest && level <= facts.highest;
    };
    if (!inRange(rule.warnLevel) || !inRange(rule.clearLevel))
        return false;
    return facts.firesAbove ? rule.clearLevel <= rule.warnLevel : rule.clearLevel >= rule.warnLevel;
}

// The stored entry over the rule's defaults; nothing when it makes no sense.
std::optional<AlertRuleConfig> decode(AlertKind kind, const DefaultsValue& entry) {
    if (!entry.is_object())
        return std::nullopt;
    AlertRuleConfig rule = defaultAlertRule(kind);
    bool wrong = false;
    rule.enabled = flag(entry, "enabled", &wrong).value_or(rule.enabled);
    rule.notifyCleared = flag(entry, "notifyCleared", &wrong).value_or(rule.notifyCleared);
    rule.warnLevel = number(entry, "warnLevel", &wrong).value_or(rule.warnLevel);
    rule.clearLevel = number(entry, "clearLevel", &wrong).value_or(rule.clearLevel);
    if (auto seconds = number(entry, "minDuration", &wrong)) {
        if (*seconds < 0 || *seconds > 24 * 3600)
            wrong = true;
        else
            rule.minDuration = std::chrono::seconds(std::llround(*seconds));
    }
    if (wrong || !levelsMakeSense(rule))
        return std::nullopt;
    return rule;
}

DefaultsValue encode(const AlertRuleConfig& rule) {
    DefaultsValue entry = DefaultsValue::object();
    entry["enabled"] = rule.enabled;
    if (alertRuleHasLevels(rule.kind)) {
        entry["warnLevel"] = rule.warnLevel;
        entry["clearLevel"] = rule.clearLevel;
        entry["minDuration"] = rule.minDuration.count();
    }
    entry["notifyCleared"] = rule.notifyCleared;
    return entry;
}

}  // namespace

const std::vector<AlertKind>& allAlertKinds() {
    static const std::vector<AlertKind> kinds = [] {
        std::vector<AlertKind> list;
        for (const auto& facts : kKinds)
            list.push_back(facts.kind);
        return list;
    }();
    return kinds;
}

AlertRuleConfig defaultAlertRule(AlertKind kind) {
    const auto& facts = factsOf(kind);
    AlertRuleConfig rule{kind};
    rule.warnLevel = facts.warn;
    rule.clearLevel = facts.clear;
    rule.minDuration = std::chrono::seconds(facts.seconds);
    return rule;
}

std::string alertRuleKey(AlertKind kind) {
    return factsOf(kind).key;
}

std::string alertRuleTitle(AlertKind kind) {
    return factsOf(kind).title;
}

std::string alertLevelUnit(AlertKind kind) {
    return factsOf(kind).unit;
}

bool alertRuleHasLevels(AlertKind kind) {
    return kind != AlertKind::driveHealth && kind != AlertKind::connectionBack;
}

bool alertRuleFiresAbove(AlertKind kind) {
    return factsOf(kind).firesAbove;
}

std::vector<AlertRuleConfig> alertRules(Defaults& defaults) {
    std::vector<AlertRuleConfig> rules;
    const auto stored = defaults[kAlertRulesKey].object();
    const bool isObject = stored && stored->is_object();
    if (stored && !isObject) {
        reportError("alert rules",
                    "the setting \"alertRules\" is no object of rules; every "
                    "rule keeps its default");
    }
    for (const auto& facts : kKinds) {
        AlertRuleConfig rule = defaultAlertRule(facts.kind);
        if (isObject && stored->contains(facts.key)) {
            if (auto decoded = decode(facts.kind, stored->at(facts.key)))
                rule = *decoded;
            else
                reportError("alert rules", std::string("the stored rule \"") + facts.key +
                                               "\" makes no sense and is left out; its "
                                               "defaults apply");
        }
        rules.push_back(rule);
    }
    return rules;
}

void setAlertRules(const std::vector<AlertRuleConfig>& rules, Defaults& defaults) {
    auto stored = defaults[kAlertRulesKey].object().value_or(DefaultsValue::object());
    if (!stored.is_object())
        stored = DefaultsValue::object();
    for (const auto& rule : rules) {
        if (!levelsMakeSense(rule)) {
            reportError("alert rules", "a rule \"" + alertRuleKey(rule.kind) +
                                           "\" that makes no sense is not stored");
            continue;
        }
        stored[alertRuleKey(rule.kind)] = encode(rule);
    }
    defaults.set(kAlertRulesKey, std::optional<DefaultsValue>(stored));
}

}  // namespace vigil
