#include "history/History.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "C/system/ErrorReport.h"
#include "history/HistoryDatabase.h"

namespace vigil {

namespace {

std::int64_t wallClockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string utcStamp(std::int64_t ms) {
    const std::time_t seconds = std::time_t(ms / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

constexpr std::size_t kTrimEvery = 4096;
constexpr std::size_t kMaxQueuedSamples = 120'000;
constexpr std::size_t kMaxQueuedTops = 2 * 48 * 60;

// VIGIL_HISTORY_WRITE_SECONDS (1 to 3600): how often the program writes, for the tests that stop
// it; none or anything else keeps the minute.
std::optional<std::chrono::milliseconds> writeIntervalFromEnvironment() {
    const char* text = std::getenv("VIGIL_HISTORY_WRITE_SECONDS");
    if (!text || !*text)
        return std::nullopt;
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (*end || seconds < 1 || seconds > 3600)
        return std::nullopt;
    return std::chrono::seconds(seconds);
}

}  // namespace

std::string History::defaultPath() {
    std::string state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        state = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        state = std::string(home) + "/.local/state";
    else
        state = "/tmp";
    return state + "/vigil/history.sqlite";
}

History& History::shared() {
    static History* instance = [] {
        Options options;
        options.path = defaultPath();
        options.writeInterval = writeIntervalFromEnvironment().value_or(options.writeInterval);
        return new History(std::move(options));
    }();
    return *instance;
}

History::History(Options options)
    : options_(std::move(options)),
      errors_(options_.errors ? *options_.errors : ErrorReport::shared()) {
    persistent_ = !options_.path.empty();
    if (!options_.path.empty())
        thread_ = std::thread([this] { run(); });
}

History::~History() {
    stop();
}

std::int64_t History::now() const {
    return options_.clock ? options_.clock() : wallClockMs();
}

void History::record(std::string_view series, double value) {
    record(series, now(), value);
}

void History::record(std::string_view series, std::int64_t ms, double value) {
    std::lock_guard lock(mutex_);
    if (!recording_)
        return;
    queued_.samples.push_back({std::string(series), ms, value});
    if (queued_.samples.size() % kTrimEvery == 0 && !persistent_)
        trimQueue();
    keepRecent(series, ms, value);
}

// Keeps the series' last kRecentMs of samples, in hundredths as the file keeps them.
void History::keepRecent(std::string_view series, std::int64_t ms, double value) {
    auto found = recent_.find(series);
    if (found == recent_.end())
        found = recent_.emplace(std::string(series), Recent{}).first;
    Recent& recent = found->second;
    recent.samples.emplace_back(ms, std::isfinite(value) ? std::round(value * 100) / 100 : 0);
    while (!recent.samples.empty() && recent.samples.front().first < ms - kRecentMs) {
        recent.forgottenThroughMs =
            std::max(recent.forgottenThroughMs, recent.samples.front().first);
        recent.samples.pop_front();
    }
}

std::optional<std::vector<HistoryPoint>> History::recentSamples(const std::string& series,
                                                                std::int64_t afterMs) const {
    std::lock_guard lock(mutex_);
    std::vector<HistoryPoint> points;
    const auto found = recent_.find(series);
    if (found == recent_.end())
        return points;
    if (found->second.forgottenThroughMs > afterMs)
        return std::nullopt;
    for (const auto& [ms, value] : found->second.samples) {
        if (ms > afterMs)
            points.push_back({ms, value, value, HistoryTier::raw});
    }
    return points;
}

std::int64_t History::lastWriteMs() const {
    std::lock_guard lock(mutex_);
    return lastWriteMs_;
}

std::uint64_t History::generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

void History::recordTop(std::int64_t ms, std::string kind, std::vector<HistoryApp> apps) {
    std::lock_guard lock(mutex_);
    if (recording_)
        queued_.tops.push_back({ms, std::move(kind), std::move(apps)});
}

void History::setRecording(bool on) {
    std::lock_guard lock(mutex_);
    recording_ = on;
}

bool History::recording() const {
    std::lock_guard lock(mutex_);
    return recording_;
}

bool History::persistent() const {
    std::lock_guard lock(mutex_);
    return persistent_;
}

// Bounds the queue while the file cannot be written: about an hour of samples of a large
// machine, and two days of top lists; the oldest go first.
void History::trimQueue() {
    if (queued_.samples.size() > kMaxQueuedSamples) {
        const auto excess = queued_.samples.size() - kMaxQueuedSamples;
        queued_.samples.erase(queued_.samples.begin(), queued_.samples.begin() + long(excess));
    }
    if (queued_.tops.size() > kMaxQueuedTops) {
        const auto excess = queued_.tops.size() - kMaxQueuedTops;
        queued_.tops.erase(queued_.tops.begin(), queued_.tops.begin() + long(excess));
    }
}

void History::run() {
    // Opened at once, so that a damaged or unwritable file is known at start.
    std::string error;
    const bool opened = ensureOpen(error);
    std::unique_lock lock(mutex_);
    if (!opened) {
        persistent_ = false;
        reportFailure(error);
    }
    for (;;) {
        wake_.wait_for(lock, options_.writeInterval,
                       [this] { return writeRequested_ || stopping_; });
        writeRequested_ = false;
        writeQueued(lock);
        if (stopping_) {
            writer_.reset();  // the last connection folds the write-ahead log into the file
            return;
        }
    }
}

void History::writeQueued(std::unique_lock<std::mutex>& lock) {
    ++writesStarted_;
    const std::int64_t writeMs = now();
    Queued batch = std::move(queued_);
    queued_ = {};
    const bool clear = clearRequested_;
    clearRequested_ = false;
    lock.unlock();

    std::string error;
    bool ok = ensureOpen(error);
    if (ok && clear)
        ok = writer_->clear(error);
    if (ok)
        ok = writer_->write(batch.samples, batch.tops, writeMs, error);
    if (writer_)
        reportDamage(writer_->damage());

    lock.lock();
    if (!ok) {
        // Keep what could not be written, older first, for the next attempt and for readers.
        if (!clear) {
            batch.samples.insert(batch.samples.end(), queued_.samples.begin(),
                                 queued_.samples.end());
            batch.tops.insert(batch.tops.end(), queued_.tops.begin(), queued_.tops.end());
            queued_ = std::move(batch);
        }
        clearRequested_ = clearRequested_ || clear;
        trimQueue();
        reportFailure(error);
    } else if (!persistent_) {
        errors_.forget("Error: history " + options_.path);
    }
    persistent_ = ok;
    lastWriteMs_ = writeMs;
    ++writesDone_;
    written_.notify_all();
}

// A damaged block costs what it held: its line says so, once a minute per block.
void History::reportDamage(const std::vector<std::string>& damage) {
    for (const auto& line : damage)
        errors_.report("history " + options_.path, line);
}

void History::reportFailure(const std::string& detail) {
    errors_.report("history " + options_.path, detail + " -- keeping history in memory",
                   "history " + options_.path);
}

bool History::ensureOpen(std::string& error) {
    if (writer_)
        return true;
    auto opened = HistoryDatabase::open(options_.path, HistoryDatabase::Mode::readWrite);
    if (opened.status == HistoryDatabase::Opened::Status::corrupt) {
        moveAside(opened.error);
        opened = HistoryDatabase::open(options_.path, HistoryDatabase::Mode::readWrite);
    }
    if (opened.status != HistoryDatabase::Opened::Status::ok) {
        error = opened.error;
        return false;
    }
    writer_ = std::move(opened.database);
    return true;
}

// Moves a damaged file (with its write-ahead log) out of the way, never over an earlier copy.
void History::moveAside(const std::string& reason) {
    {
        std::lock_guard lock(readMutex_);
        reader_.reset();
    }
    std::error_code failed;
    const std::string base = options_.path + ".corrupt-" + utcStamp(now());
    std::string target = base;
    for (int attempt = 1; std::filesystem::exists(target, failed) && attempt < 1000; ++attempt)
        target = base + "-" + std::to_string(attempt);
    std::filesystem::rename(options_.path, target, failed);
    if (failed) {
        errors_.reportEach("history file " + options_.path + " is damaged (" + reason +
                           ") and could not be moved aside -- " + failed.message());
        return;
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        std::error_code ignored;
        std::filesystem::rename(options_.path + suffix, target + suffix, ignored);
    }
    errors_.reportEach("history file " + options_.path + " is damaged (" + reason +
                       ") -- moved aside to " + target + ", starting a new one");
}

HistoryDatabase* History::reader() const {
    if (!reader_ && !options_.path.empty()) {
        auto opened = HistoryDatabase::open(options_.path, HistoryDatabase::Mode::readOnly);
        reader_ = std::move(opened.database);
    }
    return reader_.get();
}

std::vector<HistoryPoint> History::points(const std::string& series, std::int64_t sinceMs,
                                          std::int64_t untilMs) const {
    const HistoryTier tier = history::tierFor(sinceMs, now());
    std::vector<HistoryPoint> result;
    {
        std::lock_guard lock(readMutex_);
        if (HistoryDatabase* database = reader()) {
            result = database->points(series, tier, sinceMs, untilMs);
            if (!database->readError().empty())
                errors_.report("history " + options_.path, database->readError());
        }
    }
    std::lock_guard lock(mutex_);
    appendQueued(result, series, tier, sinceMs, untilMs);
    return result;
}

// Adds the queued samples (those the file does not have yet, or cannot take) to `points`: as they
// are for the sample tier, merged into their minutes or quarters (average and maximum) for the
// coarser ones, where the file has no point for that time.
void History::appendQueued(std::vector<HistoryPoint>& points, const std::string& series,
                           HistoryTier tier, std::int64_t sinceMs, std::int64_t untilMs) const {
    const std::int64_t step = tier == HistoryTier::minute    ? history::kMinuteMs
                              : tier == HistoryTier::quarter ? history::kQuarterMs
                                                             : 1;
    struct Bucket {
        double sum = 0, max = 0;
        int count = 0;
    };
    std::map<std::int64_t, Bucket> buckets;
    for (const auto& sample : queued_.samples) {
        if (sample.series != series || sample.ms < sinceMs || sample.ms >= untilMs)
            continue;
        Bucket& bucket = buckets[sample.ms - sample.ms % step];
        bucket.max = bucket.count ? std::max(bucket.max, sample.value) : sample.value;
        bucket.sum += sample.value;
        ++bucket.count;
    }
    if (buckets.empty())
        return;
    std::set<std::int64_t> stored;
    for (const auto& point : points)
        stored.insert(point.ms);
    for (const auto& [ms, bucket] : buckets) {
        if (tier == HistoryTier::raw || !stored.count(ms))
            points.push_back({ms, bucket.sum / bucket.count, bucket.max, tier});
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const auto& a, const auto& b) { return a.ms < b.ms; });
}

std::vector<HistoryApp> History::top(std::int64_t ms, const std::string& kind) const {
    {
        std::lock_guard lock(mutex_);
        const std::int64_t minute = ms - ms % history::kMinuteMs;
        for (auto it = queued_.tops.rbegin(); it != queued_.tops.rend(); ++it) {
            if (it->kind == kind && it->minuteMs - it->minuteMs % history::kMinuteMs == minute)
                return it->apps;
        }
    }
    std::lock_guard lock(readMutex_);
    HistoryDatabase* database = reader();
    return database ? database->top(ms, kind) : std::vector<HistoryApp>{};
}

void History::clear() {
    {
        std::lock_guard lock(mutex_);
        queued_ = {};
        recent_.clear();
        ++generation_;
        clearRequested_ = true;
    }
    writeNow();
}

void History::writeNow() {
    std::unique_lock lock(mutex_);
    if (!thread_.joinable() || stopping_)
        return;
    // The next write to start takes what is queued now.
    const std::uint64_t target = writesStarted_ + 1;
    writeRequested_ = true;
    wake_.notify_all();
    written_.wait(lock, [&] { return writesDone_ >= target || stopping_; });
}

void History::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() || stopping_)
            return;
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

}  // namespace vigil
