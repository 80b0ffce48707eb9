#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace vigil {

class Defaults;

// Units of a byte count, by power of the base.
enum class ByteNotation : int { B = 0, KB = 1, MB = 2, GB = 3, TB = 4, PB = 5, EB = 6, ZB = 7 };

// The notation with the raw value, or nothing outside 0 to 7.
std::optional<ByteNotation> byteNotationFromRaw(int64_t raw);
// "B", "KB", ... "ZB".
const char* unitText(ByteNotation notation);

// Every figure the views show goes through these. Numbers are written the same way whatever the
// user's locale ("1.50 KB", never "1,50 KB"). No function throws; input no text can show sensibly
// (NaN, infinities, byte counts of 1024 ZB or more) gives the empty text.

// Bytes in units of 1024: "1024 B", "1 KB", "1.50 KB", "465.76 GB". A value exactly equal to the
// base stays in the lower unit. Units above `roundFrom` show two decimals when the fraction is at
// least 0.005; the rest show none. Negative counts stay in bytes ("-1536 B").
std::string byteStr(double bytes);
std::string byteStr(double bytes, ByteNotation roundFrom);
// Bytes in units of 1000, as disk makers count: "1.02 KB", "500.11 GB".
std::string diskByteStr(double bytes);

// Integer counts convert to the nearest double first.
template <std::integral I>
std::string byteStr(I bytes) {
    return byteStr(static_cast<double>(bytes));
}
template <std::integral I>
std::string byteStr(I bytes, ByteNotation roundFrom) {
    return byteStr(static_cast<double>(bytes), roundFrom);
}
template <std::integral I>
std::string diskByteStr(I bytes) {
    return diskByteStr(static_cast<double>(bytes));
}

// A transfer rate in bytes per second, never in bytes: "0.0 KB/s", "120.6 KB/s", "1.9 MB/s".
std::string bpsStr(double bytesPerSecond);

// Degrees Celsius, rounded to the nearest whole degree (halves away from zero): "46°".
std::string celcius(double celsius);
// The Celsius value in degrees Fahrenheit: 20 -> "68°".
std::string fahrenheit(double celsius);
// Fahrenheit when the shared setting "temperature" holds a non-zero integer, Celsius otherwise.
std::string degrees(double celsius);
// The same, reading the setting from the given store.
std::string degrees(double celsius, Defaults& defaults);

// Two decimals: "3.14".
std::string toStr(double value);

// Intervals in seconds.
namespace interval {
constexpr double second(double v) {
    return v;
}
constexpr double seconds(double v) {
    return v;
}
constexpr double minute(double v) {
    return v * 60;
}
constexpr double minutes(double v) {
    return v * 60;
}
constexpr double hour(double v) {
    return v * 3600;
}
constexpr double hours(double v) {
    return v * 3600;
}
}  // namespace interval

// Wall-clock time and the uptime text.
class TimeFormat {
  public:
    struct Split {
        int64_t days, hrs, mins, secs;
        friend bool operator==(const Split&, const Split&) = default;
    };

    // Whole seconds since the Unix epoch.
    static int64_t now();
    // Milliseconds since the Unix epoch.
    static int64_t milli();
    // The seconds split by truncating division into days, hours, minutes and seconds.
    static Split split(int64_t seconds);

    // "2 days, 7 hours, 33 minutes": days and hours only when there are any, minutes always,
    // seconds never. A negative count shows as "0 minutes".
    static std::string uptime(int64_t seconds);
    // Fractions are dropped; NaN and negative values show as "0 minutes", values beyond the range
    // of int64_t as its largest value.
    static std::string uptime(double seconds);
    template <std::integral I>
    static std::string uptime(I seconds) {
        if constexpr (std::is_unsigned_v<I>) {
            if (seconds >
                static_cast<std::make_unsigned_t<int64_t>>(std::numeric_limits<int64_t>::max())) {
                return uptime(std::numeric_limits<int64_t>::max());
            }
        }
        return uptime(static_cast<int64_t>(seconds));
    }
};

// The uptime text for a seconds count (TimeFormat::uptime).
inline std::string uptimeString(int64_t seconds) {
    return TimeFormat::uptime(seconds);
}

}  // namespace vigil
