#pragma once

// The one writer of error lines. Every error that the program survives is one line on stderr,
// "Error: <call> -- <detail>", and each cause is written at most once a minute: a source that stays
// broken (or is read by several callers) costs one line a minute, not one per sample. A cause is
// the whole line unless the caller names a narrower one (a failed read names the file and the
// system error, whoever read it).
//
// Errors the program cannot go on from end it through System_abort (C/system/System.h).

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace vigil {

class ErrorReport {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Sink = std::function<void(const std::string& line)>;

    // How long a cause stays quiet after its line was written.
    static constexpr std::chrono::minutes kQuietTime{1};

    // `clock` measures the quiet time (the monotonic clock when null); `sink` receives each line
    // without its line end (stderr when null).
    explicit ErrorReport(Clock clock = nullptr, Sink sink = nullptr);

    // Writes "Error: <call> -- <detail>" unless its cause was written less than kQuietTime ago.
    // Returns whether the line was written.
    bool report(std::string_view call, std::string_view detail, std::string_view cause = {});
    // Writes "Error: <text>" under the same rule.
    bool reportText(std::string_view text, std::string_view cause = {});
    // Writes "Error: <text>" every time. For callers that write a line only when something happens
    // (a settings file moved aside, a store that starts failing) rather than at each sample: the
    // same thing may rightly happen twice in a minute.
    void reportEach(std::string_view text);
    // Writes "<program>: <text>" every time: a command-line request that could not be carried out,
    // answered in the form shells and scripts expect before the program exits.
    void answerCommandLine(std::string_view program, std::string_view text);
    // Writes "Vigil: <text>" under the same rule: a notice of something that works in a lesser way
    // (a stored choice that names nothing, a window system that cannot keep the panel on top).
    bool note(std::string_view text);
    // Forgets the causes whose line starts with `linePrefix` (all when empty), so that they are
    // written again at once: a source that recovered and broke again is news.
    void forget(std::string_view linePrefix = {});

    // The process's reporter, on stderr.
    static ErrorReport& shared();

  private:
    bool write(std::string line, std::string_view cause);

    struct Written {
        std::chrono::steady_clock::time_point at;
        std::string line;
    };

    Clock clock_;
    Sink sink_;
    std::mutex mutex_;
    std::map<std::string, Written, std::less<>> written_;
};

// Shorthands for the process's reporter.
inline bool reportError(std::string_view call, std::string_view detail) {
    return ErrorReport::shared().report(call, detail);
}

}  // namespace vigil
