#pragma once

#include "C/system/ErrorReport.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vigil::platform {

// Every read of the platform layer ends in one of three ways: a value, "not on this machine" (the
// file or device does not exist here, which is not an error), or a failure (the source exists but
// could not be read or did not parse). Only a failure is reported on stderr.
enum class Outcome { value, absent, failure };

template <typename T>
struct Read {
    Outcome outcome = Outcome::absent;
    T value{};
    std::string error;  // what failed, for the error line

    bool ok() const { return outcome == Outcome::value; }
    explicit operator bool() const { return ok(); }

    static Read of(T v) { return Read{Outcome::value, std::move(v), {}}; }
    static Read absent() { return Read{Outcome::absent, T{}, {}}; }
    static Read failure(std::string why) { return Read{Outcome::failure, T{}, std::move(why)}; }
    template <typename U>
    static Read from(const Read<U>& other) {
        return Read{other.outcome, T{}, other.error};
    }
};

// Error lines go through the process's error report (C/system/ErrorReport.h).
using vigil::reportError;
// Reports a failed read (absent and successful reads write nothing). The failure's text (the path
// and the system error) is the cause: one broken file read by several callers gives one line a
// minute. Returns the read unchanged. reportUnreadable does the same for a detail of the caller's
// ("<path>: missing" for a file that must exist).
inline void reportUnreadable(std::string_view call, std::string_view detail) {
    ErrorReport::shared().report(call, detail, detail);
}
template <typename T>
const Read<T>& reportIfFailed(const Read<T>& read, std::string_view call) {
    if (read.outcome == Outcome::failure)
        reportUnreadable(call, read.error);
    return read;
}
// Forgets which lines were already written (tests).
void resetReportedErrors();

// Reads a whole file. A missing file (ENOENT, ENOTDIR) is absent; any other error is a failure
// whose text names the path and the system error. Files larger than `limit` are failures.
Read<std::string> readFile(const std::string& path, std::size_t limit = 4 << 20);
// Reads into a caller's buffer to spare an allocation per sample.
Outcome readFileInto(const std::string& path, std::string& out, std::string* error,
                     std::size_t limit = 4 << 20);
// Opens a file for reading. On failure returns -1 and sets `outcome` as readFileInto would.
int openForReading(const std::string& path, Outcome* outcome, std::string* error);
// Reads an open file to its end into `out`, from the file's position or from its start; the
// descriptor stays open. `path` names the file in the error text.
enum class ReadFrom { position, start };
Outcome readDescriptor(int fd, ReadFrom from, const std::string& path, std::string& out,
                       std::string* error, std::size_t limit = 4 << 20);
// The first line of a small attribute file, without its line break and surrounding blanks.
Read<std::string> readAttribute(const std::string& path);

// Joins a root directory and an absolute path ("/" + "/proc/stat" -> "/proc/stat").
std::string joinRoot(std::string_view root, std::string_view path);

// Pure helpers for parsers.
std::string_view trim(std::string_view s);
// A decimal number of type T filling the whole text (a leading "-" only for signed types); false
// for anything else (junk, overflow), leaving `out` unspecified.
template <typename T>
bool parseNumber(std::string_view text, T& out) {
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}
// A decimal unsigned number filling the whole text; nullopt for anything else (sign, junk,
// overflow).
std::optional<std::uint64_t> parseU64(std::string_view s);
std::optional<std::int64_t> parseI64(std::string_view s);
std::optional<double> parseDouble(std::string_view s);
// "0x0300a1" or "300a1" as hexadecimal.
std::optional<std::uint64_t> parseHex(std::string_view s);
// Splits off the next blank-separated word; empty when none is left.
std::string_view nextWord(std::string_view& s);
// Cuts text to at most `max` bytes without splitting a UTF-8 sequence, and replaces invalid
// sequences with U+FFFD.
std::string cleanUtf8(std::string_view s, std::size_t max = std::string::npos);

}  // namespace vigil::platform
