#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vigil {

// How finely a stored point resolves time: every sample (kept an hour), one-minute average and
// maximum (kept 48 hours), fifteen-minute average and maximum (kept 90 days).
enum class HistoryTier { raw = 0, minute = 1, quarter = 2 };

const char* toString(HistoryTier tier);

// One point of a series: time in milliseconds since the epoch (the start of its minute or quarter
// for the coarser tiers), the average and the maximum of what it stands for (equal for a sample).
struct HistoryPoint {
    std::int64_t ms = 0;
    double value = 0;
    double max = 0;
    HistoryTier tier = HistoryTier::raw;
};

// One of the applications recorded for a minute, with its processor share or its memory.
struct HistoryApp {
    std::string name;
    double value = 0;
};

// One recorded sample of a series, waiting to be written.
struct HistorySample {
    std::string series;
    std::int64_t ms = 0;
    double value = 0;
};

// The top applications of one minute by one measure ("cpu" or "mem").
struct HistoryTopList {
    std::int64_t minuteMs = 0;
    std::string kind;
    std::vector<HistoryApp> apps;
};

namespace history {
constexpr std::int64_t kMinuteMs = 60'000;
constexpr std::int64_t kQuarterMs = 15 * kMinuteMs;
constexpr std::int64_t kHourMs = 60 * kMinuteMs;
// How long each tier is kept.
constexpr std::int64_t kRawKeptMs = kHourMs;
constexpr std::int64_t kMinuteKeptMs = 48 * kHourMs;
constexpr std::int64_t kQuarterKeptMs = 90 * 24 * kHourMs;
// The top applications are kept as long as the minutes they belong to.
constexpr std::int64_t kTopKeptMs = kMinuteKeptMs;

// The finest tier whose keeping time still reaches back to `sinceMs`.
inline HistoryTier tierFor(std::int64_t sinceMs, std::int64_t nowMs) {
    if (sinceMs >= nowMs - kRawKeptMs)
        return HistoryTier::raw;
    if (sinceMs >= nowMs - kMinuteKeptMs)
        return HistoryTier::minute;
    return HistoryTier::quarter;
}
}  // namespace history

}  // namespace vigil
