#include "system/Formatting.h"

#include <sys/time.h>

#include <array>
#include <charconv>
#include <cmath>

#include "settings/Defaults.h"

namespace vigil {

namespace {

constexpr std::array<const char*, 8> kUnits = {"B", "KB", "MB", "GB", "TB", "PB", "EB", "ZB"};

// printf's "%.Nf" in the C locale, whatever the process locale is: to_chars rounds the exact
// binary value to nearest (ties to even), as glibc's printf does. A result that rounds to zero
// loses its minus sign ("0", not "-0"). Non-finite values give the empty text.
std::string fixed(double value, int precision) {
    if (!std::isfinite(value))
        return {};
    char buffer[400];  // the largest finite double has 309 integer digits
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    if (error != std::errc())
        return {};
    std::string text(buffer, end);
    if (text.size() > 1 && text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos) {
        text.erase(0, 1);
    }
    return text;
}

std::string bytes2str(double value, double base, ByteNotation roundFrom) {
    if (std::isnan(value))
        return {};
    size_t unit = 0;
    while (value > base) {
        value /= base;
        ++unit;
        if (unit >= kUnits.size())
            return {};  // still above the base at "ZB"; also +infinity
    }
    if (!std::isfinite(value))
        return {};  // -infinity
    const bool decimals =
        static_cast<int>(unit) > static_cast<int>(roundFrom) && value - std::trunc(value) >= 0.005;
    const std::string number = fixed(value, decimals ? 2 : 0);
    if (number.empty())
        return {};
    return number + " " + kUnits[unit];
}

std::string bps2str(double value) {
    if (std::isnan(value))
        return {};
    for (size_t unit = 1; unit < kUnits.size(); ++unit) {
        value *= 0.0009765625;
        if (value < 1024) {
            const std::string number = fixed(value, 1);
            if (number.empty())
                return {};  // -infinity
            return number + " " + kUnits[unit] + "/s";
        }
    }
    return {};
}

std::string wholeDegrees(double value) {
    const std::string number = fixed(std::round(value), 0);
    if (number.empty())
        return {};
    return number + "\u00B0";
}

}  // namespace

std::optional<ByteNotation> byteNotationFromRaw(int64_t raw) {
    if (raw < 0 || raw > 7)
        return std::nullopt;
    return static_cast<ByteNotation>(raw);
}

const char* unitText(ByteNotation notation) {
    const auto index = static_cast<size_t>(notation);
    return index < kUnits.size() ? kUnits[index] : "";
}

std::string byteStr(double bytes) {
    return bytes2str(bytes, 1024, ByteNotation::B);
}

std::string byteStr(double bytes, ByteNotation roundFrom) {
    return bytes2str(bytes, 1024, roundFrom);
}

std::string diskByteStr(double bytes) {
    return bytes2str(bytes, 1000, ByteNotation::B);
}

std::string bpsStr(double bytesPerSecond) {
    return bps2str(bytesPerSecond);
}

std::string celcius(double celsius) {
    return wholeDegrees(celsius);
}

std::string fahrenheit(double celsius) {
    return wholeDegrees(celsius * 1.8 + 32);
}

std::string degrees(double celsius) {
    return degrees(celsius, Defaults::shared());
}

std::string degrees(double celsius, Defaults& defaults) {
    return defaults["temperature"].intValue() != 0 ? fahrenheit(celsius) : vigil::celcius(celsius);
}

std::string toStr(double value) {
    return fixed(value, 2);
}

int64_t TimeFormat::now() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return tv.tv_sec;
}

int64_t TimeFormat::milli() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return int64_t{tv.tv_sec} * 1000 + tv.tv_usec / 1000;
}

TimeFormat::Split TimeFormat::split(int64_t seconds) {
    Split s;
    s.days = seconds / 86400;
    int64_t rest = seconds % 86400;
    s.hrs = rest / 3600;
    rest %= 3600;
    s.mins = rest / 60;
    s.secs = rest % 60;
    return s;
}

std::string TimeFormat::uptime(int64_t seconds) {
    if (seconds < 0)
        seconds = 0;
    std::string text;
    if (seconds >= 86400) {
        text += std::to_string(seconds / 86400);
        text += seconds < 172800 ? " day, " : " days, ";
    }
    const int64_t r = seconds % 86400;
    if (r >= 3600) {
        text += std::to_string(r / 3600);
        text += r < 7200 ? " hour, " : " hours, ";
    }
    const int64_t minutes = (r % 3600) / 60;
    text += std::to_string(minutes);
    text += minutes == 1 ? " minute" : " minutes";
    return text;
}

std::string TimeFormat::uptime(double seconds) {
    if (std::isnan(seconds) || seconds <= 0)
        return uptime(int64_t{0});
    if (seconds >= 9223372036854775808.0)
        return uptime(std::numeric_limits<int64_t>::max());
    return uptime(static_cast<int64_t>(seconds));
}

}  // namespace vigil
