#include "HistoryJson.h"

#include <iostream>
#include <nlohmann/json.hpp>

#include "C/system/ErrorReport.h"
#include "history/HistoryDatabase.h"
#include "platform/Read.h"

namespace vigil::snapshot {

namespace {

std::unique_ptr<HistoryDatabase> openForReading(const std::string& file) {
    auto opened = HistoryDatabase::open(file, HistoryDatabase::Mode::readOnly);
    if (!opened.database)
        reportError("history " + file, opened.error);
    return std::move(opened.database);
}

bool names(const std::string& series, const std::string& resource) {
    return series == resource ||
           (series.size() > resource.size() && series.compare(0, resource.size(), resource) == 0 &&
            series[resource.size()] == '.');
}

nlohmann::ordered_json appsJson(const std::vector<HistoryApp>& apps) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& app : apps)
        list.push_back({{"name", app.name}, {"value", app.value}});
    return list;
}

}  // namespace

std::optional<std::int64_t> parseMoment(std::string_view text, std::int64_t nowMs) {
    if (text.empty())
        return std::nullopt;
    static constexpr std::pair<char, std::int64_t> kUnits[] = {
        {'s', 1000}, {'m', 60'000}, {'h', 3'600'000}, {'d', 86'400'000}, {'w', 604'800'000}};
    for (const auto& [suffix, ms] : kUnits) {
        if (text.back() != suffix)
            continue;
        const auto amount = platform::parseDouble(text.substr(0, text.size() - 1));
        if (!amount || *amount < 0 || *amount > 3650.0 * 86'400'000 / double(ms))
            return std::nullopt;
        return nowMs - std::int64_t(*amount * double(ms));
    }
    const auto epochMs = platform::parseDouble(text);
    if (!epochMs || *epochMs < 0 || *epochMs > 1e15)
        return std::nullopt;
    return std::int64_t(*epochMs);
}

int printHistory(const std::string& file, const std::string& resource, std::int64_t sinceMs,
                 std::int64_t untilMs, std::int64_t nowMs) {
    auto database = openForReading(file);
    if (!database)
        return 1;
    const HistoryTier tier = history::tierFor(sinceMs, nowMs);
    nlohmann::ordered_json series = nlohmann::ordered_json::object();
    for (const auto& name : database->seriesNames()) {
        if (!names(name, resource))
            continue;
        nlohmann::ordered_json points = nlohmann::ordered_json::array();
        for (const auto& point : database->points(name, tier, sinceMs, untilMs)) {
            nlohmann::ordered_json entry = {{"time", point.ms}, {"value", point.value}};
            if (point.tier != HistoryTier::raw)
                entry["max"] = point.max;
            entry["tier"] = toString(point.tier);
            points.push_back(std::move(entry));
        }
        series[name] = std::move(points);
    }
    if (!database->readError().empty())
        reportError("history " + file, database->readError());
    if (series.empty())
        reportError("history " + resource, "no such series recorded");
    const nlohmann::ordered_json out = {
        {"file", file}, {"since", sinceMs}, {"until", untilMs}, {"series", series}};
    std::cout << out.dump(2) << std::endl;
    return series.empty() ? 1 : 0;
}

int printTop(const std::string& file, std::int64_t minuteMs) {
    auto database = openForReading(file);
    if (!database)
        return 1;
    const std::int64_t minute = minuteMs - minuteMs % history::kMinuteMs;
    const nlohmann::ordered_json out = {{"minute", minute},
                                        {"cpu", appsJson(database->top(minute, "cpu"))},
                                        {"mem", appsJson(database->top(minute, "mem"))}};
    std::cout << out.dump(2) << std::endl;
    return 0;
}

}  // namespace vigil::snapshot
