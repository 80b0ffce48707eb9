#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vigil::snapshot {

// A moment on the command line: a duration ago ("90s", "15m", "1h", "7d") or milliseconds since
// the epoch; nothing when the text is neither.
std::optional<std::int64_t> parseMoment(std::string_view text, std::int64_t nowMs);

// Prints the recorded series named `resource` (a whole name, "cpu.busy", or the start of names,
// "cpu" for every "cpu.*") with since <= time < until as JSON, from the finest tier that still
// covers `since` at `nowMs` (the moment "1h" was counted back from). Returns the exit status.
int printHistory(const std::string& file, const std::string& resource, std::int64_t sinceMs,
                 std::int64_t untilMs, std::int64_t nowMs);
// Prints the top applications recorded for the minute that holds `minuteMs`.
int printTop(const std::string& file, std::int64_t minuteMs);

}  // namespace vigil::snapshot
