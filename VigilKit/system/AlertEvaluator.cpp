#include "system/AlertEvaluator.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "system/Formatting.h"

namespace vigil {

namespace {

// 5 GB: a volume "almost full" has less than its level's share or this much available, the
// smaller (disk makers' gigabytes, as the volume views count).
constexpr double kVolumeBytesLevel = 5e9;
// Temperature limits outside this range are a sensor's noise, not a limit.
constexpr double kLowestLimit = 20, kHighestLimit = 200;

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string percent(double value) {
    if (!std::isfinite(value))
        return "?";
    return std::to_string(std::lround(std::clamp(value, -1e9, 1e9))) + " %";
}

std::string duration(std::chrono::seconds span) {
    const auto count = span.count();
    if (count >= 60 && count % 60 == 0)
        return std::to_string(count / 60) + (count == 60 ? " minute" : " minutes");
    return std::to_string(count) + (count == 1 ? " second" : " seconds");
}

std::string usingTheMost(const std::optional<AlertFigures::TopApplication>& top, bool memory) {
    if (!top || top->name.empty())
        return "";
    return " Using the most: " + top->name + ", " +
           (memory ? byteStr(top->figure) : percent(top->figure)) + ".";
}

bool sane(const std::optional<double>& limit) {
    return limit && std::isfinite(*limit) && *limit > kLowestLimit && *limit < kHighestLimit;
}

}  // namespace

std::string alertTimeOfDay(std::chrono::system_clock::time_point time) {
    const time_t seconds = std::chrono::system_clock::to_time_t(time);
    tm local{};
    if (!localtime_r(&seconds, &local))
        return "";
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", local.tm_hour, local.tm_min);
    return text;
}

void AlertEvaluator::setRules(std::vector<AlertRuleConfig> rules) {
    rules_ = std::move(rules);
    for (const auto& rule : rules_) {
        if (!rule.enabled)
            forgetUnseen(rule.kind, {});
    }
}

std::string AlertEvaluator::temperature(double celsius) const {
    if (degrees_)
        return degrees_(celsius);
    return std::to_string(std::lround(celsius)) + " °C";
}

std::vector<AlertEvent> AlertEvaluator::evaluate(const AlertFigures& figures, TimePoint now,
                                                 WallTime wallNow) {
    rememberVolumes(figures, now);
    std::vector<AlertEvent> events;
    for (const auto& rule : rules_) {
        if (rule.enabled)
            evaluateRule(rule, figures, now, wallNow, events);
    }
    return events;
}

void AlertEvaluator::step(const AlertRuleConfig& rule, const std::string& subject,
                          const Reading& reading, TimePoint now, WallTime wallNow,
                          std::vector<AlertEvent>& events) {
    auto& tracked = tracked_[{rule.kind, subject}];
    const auto change =
        tracked.state.step(reading.pastWarning, reading.pastClear, now, rule.minDuration);
    if (change == AlertRuleState::Change::none)
        return;
    AlertEvent event;
    if (change == AlertRuleState::Change::fired) {
        const auto since =
            wallNow - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                          now - tracked.state.firingSince());
        tracked.alert = ActiveAlert{rule.kind, subject,
                                    reading.text + " since " + alertTimeOfDay(since), since};
        event.type = AlertEvent::Type::fired;
        event.title = reading.title;
        event.body = reading.body;
    } else {
        event.type = AlertEvent::Type::cleared;
        event.title = alertRuleTitle(rule.kind) + ": back to normal";
        event.body = reading.title;
    }
    event.alert = tracked.alert;
    events.push_back(std::move(event));
}

void AlertEvaluator::evaluateRule(const AlertRuleConfig& rule, const AlertFigures& figures,
                                  TimePoint now, WallTime wallNow,
                                  std::vector<AlertEvent>& events) {
    std::vector<Key> seen;
    const auto track = [&](const std::string& subject, const Reading& reading) {
        seen.push_back({rule.kind, subject});
        step(rule, subject, reading, now, wallNow, events);
    };
    const std::string warn = number(rule.warnLevel);
    const std::string forHowLong =
        rule.minDuration.count() > 0 ? " for " + duration(rule.minDuration) + "." : ".";
    switch (rule.kind) {
        case AlertKind::processorBusy:
            if (const auto busy = figures.processorBusy; busy && std::isfinite(*busy)) {
                track("",
                      {*busy > rule.warnLevel, *busy < rule.clearLevel,
                       "Processor busy above " + warn + " %", "Processor busy: " + percent(*busy),
                       "Above " + warn + " %" + forHowLong +
                           usingTheMost(figures.topProcessor, false)});
            }
            break;
        case AlertKind::memoryLow:
            if (const auto free = figures.memoryAvailable; free && std::isfinite(*free)) {
                track("", {*free<rule.warnLevel, *free> rule.clearLevel,
                           "Memory available below " + warn + " %",
                           "Memory low: " + percent(*free) + " available",
                           "Below " + warn + " %" + forHowLong +
                               usingTheMost(figures.topMemory, true)});
            }
            break;
        case AlertKind::swapFilling:
            if (const auto used = figures.swapUsed; used && std::isfinite(*used)) {
                track("", {*used > rule.warnLevel, *used < rule.clearLevel,
                           "Swap in use above " + warn + " %",
                           "Swap filling: " + percent(*used) + " in use",
                           "Above " + warn + " %" + forHowLong +
                               usingTheMost(figures.topMemory, true)});
            }
            break;
        case AlertKind::volumeLow:
            for (const auto& volume : figures.volumes) {
                if (volume.total <= 0)
                    continue;
                const double total = double(volume.total);
                const double warnBytes = std::min(rule.warnLevel / 100 * total, kVolumeBytesLevel);
                const double clearBytes =
                    warnBytes + (rule.clearLevel - rule.warnLevel) / 100 * total;
                const double available = double(volume.available);
                track(volume.mountPoint,
                      {available<warnBytes, available> clearBytes,
                       "Less than " + diskByteStr(warnBytes) + " available",
                       "Volume almost full: " + volume.name,
                       diskByteStr(available) + " available (" + percent(available / total * 100) +
                           ") on " + volume.mountPoint + "."});
            }
            break;
        case AlertKind::volumeFillingFast:
            for (const auto& volume : figures.volumes) {
                const auto rate = fillingRate(volume.mountPoint);
                if (!rate)
                    continue;
                const double minutes =
                    *rate > 0 ? std::max(0.0, double(volume.available) / *rate) : INFINITY;
                const std::string fullIn =
                    std::isfinite(minutes) && minutes < 1e6
                        ? " is full in about " + std::to_string(std::lround(minutes)) + " minutes"
                        : " is not filling";
                track(volume.mountPoint,
                      {minutes<rule.warnLevel, minutes> rule.clearLevel,
                       "Full within " + warn + " minutes at its recent rate",
                       "Volume filling fast: " + volume.name,
                       "At the rate of the last 10 minutes " + volume.mountPoint + fullIn + " (" +
                           diskByteStr(volume.available) + " available)."});
            }
            break;
        case AlertKind::temperatureHigh:
            for (const auto& sensor : figures.temperatures) {
                if (!std::isfinite(sensor.celsius))
                    continue;
                const std::string at =
                    "Temperature high: " + sensor.label + " at " + temperature(sensor.celsius);
                if (sane(sensor.critical)) {
                    const double critical = *sensor.critical;
                    track(sensor.id, {sensor.celsius >= critical - rule.warnLevel,
                                      sensor.celsius < critical - rule.clearLevel,
                                      "Within " + warn + " °C of its critical limit (" +
                                          temperature(critical) + ")",
                                      at, "Its critical limit is " + temperature(critical) + "."});
                } else if (sane(sensor.max)) {
                    const double max = *sensor.max;
                    track(sensor.id, {sensor.celsius > max,
                                      sensor.celsius < max - (rule.clearLevel - rule.warnLevel),
                                      "Above its maximum (" + temperature(max) + ")", at,
                                      "Its maximum is " + temperature(max) + "."});
                }
            }
            break;
        case AlertKind::batteryLow:
            if (figures.battery) {
                seen.push_back({rule.kind, ""});
                stepBattery(rule, figures, now, wallNow, events);
            }
            break;
        case AlertKind::driveHealth:
            for (const auto& drive : figures.drives)
                track(drive.name, driveReading(drive, now));
            break;
        case AlertKind::connectionBack:
            break;  // an event, not a state: Alerts posts it when the connection returns
    }
    forgetUnseen(rule.kind, seen);
}

void AlertEvaluator::stepBattery(const AlertRuleConfig& rule, const AlertFigures& figures,
                                 TimePoint now, WallTime wallNow, std::vector<AlertEvent>& events) {
    const auto& battery = *figures.battery;
    const double lastStep = rule.warnLevel / 2;
    const bool low = battery.discharging && double(battery.percent) <= rule.warnLevel;
    const bool veryLow = battery.discharging && double(battery.percent) <= lastStep;
    const auto title = [&](bool last) {
        return std::string(last ? "Battery very low: " : "Battery low: ") +
               std::to_string(battery.percent) + " %";
    };
    const std::string body = "Connect the charger.";
    step(rule, "",
         {low, !battery.discharging || double(battery.percent) > rule.clearLevel,
          "Battery at or below " + number(rule.warnLevel) + " %", title(veryLow), body},
         now, wallNow, events);
    auto& tracked = tracked_[{rule.kind, ""}];
    if (!tracked.state.firing()) {
        tracked.step = 0;
        return;
    }
    if (!events.empty() && events.back().alert.kind == AlertKind::batteryLow &&
        events.back().type == AlertEvent::Type::fired) {
        tracked.step = veryLow ? 2 : 1;
        events.back().urgent = veryLow;
    } else if (tracked.step == 1 && veryLow) {
        tracked.step = 2;
        AlertEvent event{AlertEvent::Type::escalated, tracked.alert, title(true), body, true};
        events.push_back(std::move(event));
    }
}

AlertEvaluator::Reading AlertEvaluator::driveReading(const AlertFigures::Drive& drive,
                                                     TimePoint now) {
    auto& memory = drives_[drive.name];
    if (drive.reallocatedSectors) {
        if (memory.reallocated && *drive.reallocatedSectors > *memory.reallocated) {
            memory.grewAt = now;
            memory.grewFrom = *memory.reallocated;
        }
        memory.reallocated = drive.reallocatedSectors;
    }
    const bool grew = memory.grewAt && now - *memory.grewAt < kReallocationMemory;
    const std::string name =
        drive.model.empty() ? drive.name : drive.model + " (" + drive.name + ")";
    Reading reading;
    reading.pastWarning = drive.failing || grew;
    reading.pastClear = !reading.pastWarning;
    reading.title = "Drive failing: " + name;
    if (drive.failing) {
        reading.text = drive.nvme ? "NVMe critical warning" : "SMART failing";
        reading.body = drive.nvme ? "The drive reports a critical warning. Back up its data."
                                  : "SMART says the drive is failing. Back up its data.";
    } else if (grew) {
        reading.text = "Reallocated sectors growing";
        reading.body = "Its reallocated sectors grew from " + std::to_string(memory.grewFrom) +
                       " to " + std::to_string(memory.reallocated.value_or(0)) +
                       ". Back up its data.";
    } else {
        reading.title = name + ": SMART passed";
    }
    return reading;
}

void AlertEvaluator::rememberVolumes(const AlertFigures& figures, TimePoint now) {
    std::map<std::string, std::deque<std::pair<TimePoint, std::int64_t>>> kept;
    for (const auto& volume : figures.volumes) {
        auto samples = std::move(volumeSamples_[volume.mountPoint]);
        samples.emplace_back(now, volume.available);
        while (samples.size() > 1 && now - samples[1].first >= kRateWindow)
            samples.pop_front();
        kept[volume.mountPoint] = std::move(samples);
    }
    volumeSamples_ = std::move(kept);  // volumes that went are forgotten
}

std::optional<double> AlertEvaluator::fillingRate(const std::string& mountPoint) const {
    const auto found = volumeSamples_.find(mountPoint);
    if (found == volumeSamples_.end() || found->second.size() < 2)
        return std::nullopt;
    const auto& [firstAt, firstAvailable] = found->second.front();
    const auto& [lastAt, lastAvailable] = found->second.back();
    const auto span = lastAt - firstAt;
    if (span < kRateMinimumSpan)
        return std::nullopt;
    const double minutes = std::chrono::duration<double, std::ratio<60>>(span).count();
    return double(firstAvailable - lastAvailable) / minutes;
}

void AlertEvaluator::forgetUnseen(AlertKind kind, const std::vector<Key>& seen) {
    for (auto it = tracked_.begin(); it != tracked_.end();) {
        const bool gone =
            it->first.first == kind && std::find(seen.begin(), seen.end(), it->first) == seen.end();
        it = gone ? tracked_.erase(it) : std::next(it);
    }
}

std::vector<ActiveAlert> AlertEvaluator::active() const {
    std::vector<ActiveAlert> list;
    for (const auto& rule : rules_) {
        if (!rule.enabled)
            continue;
        for (const auto& [key, tracked] : tracked_) {
            if (key.first == rule.kind && tracked.state.firing())
                list.push_back(tracked.alert);
        }
    }
    return list;
}

}  // namespace vigil
