#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "history/HistoryTypes.h"

namespace vigil {

class ErrorReport;
class HistoryDatabase;

// What Vigil remembers of its figures. record() only queues a sample (any thread, cheap); a
// writer thread of the history's own writes the queue to the file once a minute and at stop(),
// in one transaction, and thins the tiers there. Reads (any thread) see the file and the queue.
//
// A file that cannot be opened or written (locked, read-only, full) costs one error line; the
// samples stay queued in memory (the newest 120,000 of them, about an hour of a large machine)
// and the next minute tries again. A
// corrupt file is moved aside to "<file>.corrupt-<time>" and a new one begun.
class History {
  public:
    using Clock = std::function<std::int64_t()>;  // milliseconds since the epoch

    struct Options {
        std::string path;  // the file; "" keeps history in memory only
        std::chrono::milliseconds writeInterval{60'000};
        Clock clock;                    // the wall clock when null
        ErrorReport* errors = nullptr;  // the process's reporter when null
    };

    // $XDG_STATE_HOME/vigil/history.sqlite ($HOME/.local/state when unset).
    static std::string defaultPath();
    // The program's history: the default file, written once a minute. Created on first use.
    static History& shared();

    explicit History(Options options);
    ~History();  // stop()
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // Queues one sample of `series` taken now (or at `ms`). Ignored while recording is off.
    void record(std::string_view series, double value);
    void record(std::string_view series, std::int64_t ms, double value);
    // Queues the top applications of the minute that holds `ms` by "cpu" or "mem".
    void recordTop(std::int64_t ms, std::string kind, std::vector<HistoryApp> apps);

    // Off stops recording (and drops what is queued); nothing stored is deleted.
    void setRecording(bool on);
    bool recording() const;

    // The series' points with since <= time < until in the finest tier that still covers `since`.
    std::vector<HistoryPoint> points(const std::string& series, std::int64_t sinceMs,
                                     std::int64_t untilMs) const;
    std::vector<HistoryApp> top(std::int64_t ms, const std::string& kind) const;
    // The samples of `series` taken after `afterMs`, from memory, as the file keeps them: the last
    // kRecentMs of every series recorded by this history stay there, written or not. None when
    // some of those samples are no longer there (older than that, or cleared): read points().
    std::optional<std::vector<HistoryPoint>> recentSamples(const std::string& series,
                                                           std::int64_t afterMs) const;
    static constexpr std::int64_t kRecentMs = 3 * history::kMinuteMs;
    // Changes when recorded history is deleted (clear()): what was read before is gone.
    std::uint64_t generation() const;
    // When the writer last wrote, or tried to (0 before it did): the minutes and quarters
    // completed by then are in the file, or merged from memory where it could not be written.
    std::int64_t lastWriteMs() const;
    // Deletes every recorded point and top list, queued or stored.
    void clear();

    // Writes what is queued now and waits for it (tests, the end of the program).
    void writeNow();
    // Writes what is queued and ends the writer thread; later records are kept in memory only.
    void stop();
    // Whether the last attempt to write the file worked.
    bool persistent() const;

    std::int64_t now() const;

  private:
    struct Recent {
        std::deque<std::pair<std::int64_t, double>> samples;  // time, value; oldest first
        std::int64_t forgottenThroughMs = INT64_MIN;          // the newest sample dropped
    };
    struct Queued {
        std::vector<HistorySample> samples;
        std::vector<HistoryTopList> tops;
    };

    void run();
    void writeQueued(std::unique_lock<std::mutex>& lock);
    bool ensureOpen(std::string& error);
    void moveAside(const std::string& reason);
    void reportFailure(const std::string& detail);
    void reportDamage(const std::vector<std::string>& damage);
    void trimQueue();
    void keepRecent(std::string_view series, std::int64_t ms, double value);
    HistoryDatabase* reader() const;
    void appendQueued(std::vector<HistoryPoint>& points, const std::string& series,
                      HistoryTier tier, std::int64_t sinceMs, std::int64_t untilMs) const;

    Options options_;
    ErrorReport& errors_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    Queued queued_;
    std::map<std::string, Recent, std::less<>> recent_;
    std::uint64_t generation_ = 0;
    std::int64_t lastWriteMs_ = 0;
    bool recording_ = true;
    bool writeRequested_ = false;
    bool stopping_ = false;
    std::uint64_t writesStarted_ = 0, writesDone_ = 0;
    std::condition_variable written_;
    bool persistent_ = true;
    bool clearRequested_ = false;

    std::unique_ptr<HistoryDatabase> writer_;  // the writer thread's connection
    mutable std::mutex readMutex_;
    mutable std::unique_ptr<HistoryDatabase> reader_;
    std::thread thread_;
};

}  // namespace vigil
