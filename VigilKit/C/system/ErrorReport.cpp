#include "C/system/ErrorReport.h"

#include <cstdio>

namespace vigil {

namespace {

// Bounds the memory of a process whose causes keep changing (a file named by a counter).
constexpr std::size_t kMaxCauses = 512;

void writeToStderr(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace

ErrorReport::ErrorReport(Clock clock, Sink sink)
    : clock_(clock ? std::move(clock) : Clock(std::chrono::steady_clock::now)),
      sink_(sink ? std::move(sink) : Sink(writeToStderr)) {}

bool ErrorReport::report(std::string_view call, std::string_view detail, std::string_view cause) {
    std::string text(call);
    text.append(" -- ").append(detail);
    return reportText(text, cause);
}

bool ErrorReport::reportText(std::string_view text, std::string_view cause) {
    std::string line = "Error: ";
    line.append(text);
    return write(std::move(line), cause);
}

void ErrorReport::reportEach(std::string_view text) {
    std::string line = "Error: ";
    line.append(text);
    std::lock_guard lock(mutex_);
    sink_(line);
}

void ErrorReport::answerCommandLine(std::string_view program, std::string_view text) {
    std::string line(program);
    line.append(": ").append(text);
    std::lock_guard lock(mutex_);
    sink_(line);
}

bool ErrorReport::note(std::string_view text) {
    std::string line = "Vigil: ";
    line.append(text);
    return write(std::move(line), {});
}

bool ErrorReport::write(std::string line, std::string_view cause) {
    std::string key(cause.empty() ? std::string_view(line) : cause);
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    auto it = written_.find(key);
    if (it != written_.end() && now - it->second.at < kQuietTime)
        return false;
    if (it == written_.end() && written_.size() >= kMaxCauses)
        written_.clear();
    // Written under the lock, so that two threads with the same cause cannot both write it.
    sink_(line);
    written_.insert_or_assign(std::move(key), Written{now, std::move(line)});
    return true;
}

void ErrorReport::forget(std::string_view linePrefix) {
    std::lock_guard lock(mutex_);
    std::erase_if(written_, [linePrefix](const auto& entry) {
        return entry.second.line.starts_with(linePrefix);
    });
}

ErrorReport& ErrorReport::shared() {
    // Never destroyed: threads may still report while the process exits.
    static auto* report = new ErrorReport;
    return *report;
}

}  // namespace vigil
