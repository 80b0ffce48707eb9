#include "history/HistoryDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>

namespace vigil {

namespace {

constexpr double kScale = 100.0;  // values are stored in hundredths

std::int64_t stored(double value) {
    if (!std::isfinite(value))
        return 0;
    const double scaled = std::round(value * kScale);
    constexpr double kLimit = 9.0e18;
    if (scaled > kLimit)
        return std::int64_t(kLimit);
    if (scaled < -kLimit)
        return -std::int64_t(kLimit);
    return std::int64_t(scaled);
}

double loaded(std::int64_t value) {
    return double(value) / kScale;
}

std::int64_t floorTo(std::int64_t ms, std::int64_t step) {
    return ms - ((ms % step) + step) % step;
}

std::string failure(sqlite3* db, const char* call) {
    return std::string(call) + " -- " + (db ? sqlite3_errmsg(db) : "out of memory");
}

bool isCorruption(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

// A prepared statement that finalizes itself.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }
    void bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
    void bind(int index, const std::string& value) {
        sqlite3_bind_text(stmt_, index, value.data(), int(value.size()), SQLITE_TRANSIENT);
    }
    // SQLITE_ROW or SQLITE_DONE when it worked.
    int step() { return sqlite3_step(stmt_); }
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Creates the file with mode 0600 where it is missing, and makes an existing one private.
bool makePrivateFile(const std::string& path, std::string& error) {
    std::error_code ignored;
    const auto folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder, ignored)) {
        std::filesystem::create_directories(folder, ignored);
        ::chmod(folder.c_str(), 0700);
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "open " + path + " -- " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, 0600);
    ::close(fd);
    return true;
}

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS series(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS points(
  series INTEGER NOT NULL, tier INTEGER NOT NULL, t INTEGER NOT NULL,
  avg INTEGER NOT NULL, max INTEGER, n INTEGER,
  PRIMARY KEY(series, tier, t)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS top(
  minute INTEGER NOT NULL, kind TEXT NOT NULL, rank INTEGER NOT NULL,
  name TEXT NOT NULL, value INTEGER NOT NULL,
  PRIMARY KEY(minute, kind, rank)) WITHOUT ROWID;
)sql";

}  // namespace

const char* toString(HistoryTier tier) {
    switch (tier) {
        case HistoryTier::raw:
            return "raw";
        case HistoryTier::minute:
            return "minute";
        case HistoryTier::quarter:
            return "quarter";
    }
    return "unknown";
}

HistoryDatabase::Opened HistoryDatabase::open(const std::string& path, Mode mode) {
    Opened opened;
    std::error_code ignored;
    if (mode == Mode::readOnly && !std::filesystem::exists(path, ignored)) {
        opened.status = Opened::Status::missing;
        opened.error = "open " + path + " -- no history recorded yet";
        return opened;
    }
    if (mode == Mode::readWrite && !makePrivateFile(path, opened.error))
        return opened;

    sqlite3* db = nullptr;
    const int flags = mode == Mode::readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        opened.error = failure(db, ("sqlite3_open " + path).c_str());
        sqlite3_close(db);
        return opened;
    }
    std::unique_ptr<HistoryDatabase> database(new HistoryDatabase(db));
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 1000);
    std::string error;
    const bool prepared = mode == Mode::readWrite
                              ? database->prepareSchema(error)
                              : database->exec("SELECT count(*) FROM sqlite_schema", error);
    const auto failedWith = [&](std::string error) {
        const int code = sqlite3_extended_errcode(db);
        opened.status = isCorruption(code) ? Opened::Status::corrupt : Opened::Status::failed;
        opened.error = std::move(error);
        return std::move(opened);
    };
    if (!prepared)
        return failedWith(error);
    Statement check(db, "PRAGMA quick_check");
    if (!check || check.step() != SQLITE_ROW)
        return failedWith(failure(db, "quick_check"));
    const auto* answer = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
    if (!answer || std::strcmp(answer, "ok") != 0) {
        opened.status = Opened::Status::corrupt;
        opened.error = std::string("quick_check -- ") + (answer ? answer : "no answer");
        return opened;
    }
    opened.status = Opened::Status::ok;
    opened.database = std::move(database);
    return opened;
}

HistoryDatabase::~HistoryDatabase() {
    sqlite3_close_v2(db_);
}

bool HistoryDatabase::exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = std::string("sqlite3_exec -- ") + (message ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    return false;
}

bool HistoryDatabase::prepareSchema(std::string& error) {
    return exec("PRAGMA journal_mode=WAL", error) && exec("PRAGMA synchronous=NORMAL", error) &&
           exec(kSchema, error);
}

std::int64_t HistoryDatabase::seriesId(const std::string& name, std::string& error) {
    Statement insert(db_, "INSERT OR IGNORE INTO series(name) VALUES(?1)");
    Statement select(db_, "SELECT id FROM series WHERE name = ?1");
    if (!insert || !select) {
        error = failure(db_, "prepare series");
        return -1;
    }
    insert.bind(1, name);
    if (insert.step() != SQLITE_DONE) {
        error = failure(db_, "insert series");
        return -1;
    }
    select.bind(1, name);
    if (select.step() != SQLITE_ROW) {
        error = failure(db_, "select series");
        return -1;
    }
    return sqlite3_column_int64(select.get(), 0);
}

bool HistoryDatabase::insertSamples(const std::vector<HistorySample>& samples, std::string& error) {
    Statement insert(db_,
                     "INSERT OR REPLACE INTO points(series, tier, t, avg) VALUES(?1, 0, ?2, ?3)");
    if (!insert) {
        error = failure(db_, "prepare points");
        return false;
    }
    std::map<std::string, std::int64_t, std::less<>> ids;
    for (const auto& sample : samples) {
        auto found = ids.find(sample.series);
        if (found == ids.end()) {
            const std::int64_t id = seriesId(sample.series, error);
            if (id < 0)
                return false;
            found = ids.emplace(sample.series, id).first;
        }
        insert.bind(1, found->second);
        insert.bind(2, sample.ms);
        insert.bind(3, stored(sample.value));
        if (insert.step() != SQLITE_DONE) {
            error = failure(db_, "insert points");
            return false;
        }
        insert.reset();
    }
    return true;
}

bool HistoryDatabase::insertTops(const std::vector<HistoryTopList>& tops, std::string& error) {
    Statement remove(db_, "DELETE FROM top WHERE minute = ?1 AND kind = ?2");
    Statement insert(db_, "INSERT INTO top VALUES(?1, ?2, ?3, ?4, ?5)");
    if (!remove || !insert) {
        error = failure(db_, "prepare top");
        return false;
    }
    for (const auto& list : tops) {
        const std::int64_t minute = floorTo(list.minuteMs, history::kMinuteMs);
        remove.bind(1, minute);
        remove.bind(2, list.kind);
        if (remove.step() != SQLITE_DONE) {
            error = failure(db_, "delete top");
            return false;
        }
        remove.reset();
        for (std::size_t rank = 0; rank < list.apps.size(); ++rank) {
            insert.bind(1, minute);
            insert.bind(2, list.kind);
            insert.bind(3, std::int64_t(rank));
            insert.bind(4, list.apps[rank].name);
            insert.bind(5, stored(list.apps[rank].value));
            if (insert.step() != SQLITE_DONE) {
                error = failure(db_, "insert top");
                return false;
            }
            insert.reset();
        }
    }
    return true;
}

// Merges the complete minutes from `fromMs` on into the minute tier (average and maximum of the
// samples) and the complete quarters into the quarter tier (the minutes' average weighted by
// their sample counts, and the largest maximum), then drops what is past its keeping time.
bool HistoryDatabase::thin(std::int64_t fromMs, std::int64_t nowMs, std::string& error) {
    // Series by series, so that every statement walks its part of the key (series, tier, time)
    // rather than the whole table.
    Statement ids(db_, "SELECT id FROM series");
    Statement minutes(db_, R"sql(
        INSERT OR REPLACE INTO points(series, tier, t, avg, max, n)
        SELECT ?3, 1, t - t % 60000, CAST(round(avg(avg)) AS INTEGER), max(avg), count(*)
        FROM points WHERE series = ?3 AND tier = 0 AND t >= ?1 AND t < ?2
        GROUP BY t - t % 60000)sql");
    Statement quarters(db_, R"sql(
        INSERT OR REPLACE INTO points(series, tier, t, avg, max, n)
        SELECT ?3, 2, t - t % 900000, CAST(round(sum(avg * n) * 1.0 / sum(n)) AS INTEGER),
               max(max), sum(n)
        FROM points WHERE series = ?3 AND tier = 1 AND t >= ?1 AND t < ?2
        GROUP BY t - t % 900000)sql");
    Statement drop(db_, "DELETE FROM points WHERE series = ?1 AND tier = ?2 AND t < ?3");
    Statement dropTop(db_, "DELETE FROM top WHERE minute < ?1");
    if (!ids || !minutes || !quarters || !drop || !dropTop) {
        error = failure(db_, "prepare thinning");
        return false;
    }
    const std::pair<int, std::int64_t> kept[] = {
        {0, history::kRawKeptMs}, {1, history::kMinuteKeptMs}, {2, history::kQuarterKeptMs}};
    while (ids.step() == SQLITE_ROW) {
        const std::int64_t id = sqlite3_column_int64(ids.get(), 0);
        minutes.bind(1, floorTo(fromMs, history::kMinuteMs));
        minutes.bind(2, floorTo(nowMs, history::kMinuteMs));
        minutes.bind(3, id);
        quarters.bind(1, floorTo(fromMs, history::kQuarterMs));
        quarters.bind(2, floorTo(nowMs, history::kQuarterMs));
        quarters.bind(3, id);
        if (minutes.step() != SQLITE_DONE || quarters.step() != SQLITE_DONE) {
            error = failure(db_, "merge tiers");
            return false;
        }
        minutes.reset();
        quarters.reset();
        for (const auto& [tier, keptMs] : kept) {
            drop.bind(1, id);
            drop.bind(2, tier);
            drop.bind(3, nowMs - keptMs);
            if (drop.step() != SQLITE_DONE) {
                error = failure(db_, "drop old points");
                return false;
            }
            drop.reset();
        }
    }
    dropTop.bind(1, nowMs - history::kTopKeptMs);
    if (dropTop.step() != SQLITE_DONE) {
        error = failure(db_, "drop old top lists");
        return false;
    }
    return true;
}

bool HistoryDatabase::write(const std::vector<HistorySample>& samples,
                            const std::vector<HistoryTopList>& tops, std::int64_t nowMs,
                            std::string& error) {
    // The minutes to merge again: those the new samples fall in and those that completed since
    // the last merge (on the first write, the last hour: a previous run may have left some).
    std::int64_t fromMs = mergedUntilMs_ ? mergedUntilMs_ : nowMs - history::kRawKeptMs;
    for (const auto& sample : samples)
        fromMs = std::min(fromMs, sample.ms);
    if (!exec("BEGIN IMMEDIATE", error))
        return false;
    if (insertSamples(samples, error) && insertTops(tops, error) && thin(fromMs, nowMs, error) &&
        exec("COMMIT", error)) {
        mergedUntilMs_ = floorTo(nowMs, history::kMinuteMs);
        return true;
    }
    std::string ignored;
    exec("ROLLBACK", ignored);
    return false;
}

bool HistoryDatabase::clear(std::string& error) {
    if (exec("BEGIN IMMEDIATE; DELETE FROM points; DELETE FROM top; DELETE FROM series; COMMIT",
             error)) {
        return true;
    }
    std::string ignored;
    exec("ROLLBACK", ignored);
    return false;
}

std::vector<HistoryPoint> HistoryDatabase::points(const std::string& series, HistoryTier tier,
                                                  std::int64_t sinceMs, std::int64_t untilMs) {
    std::vector<HistoryPoint> result;
    Statement select(db_, R"sql(
        SELECT p.t, p.avg, coalesce(p.max, p.avg) FROM points p JOIN series s ON s.id = p.series
        WHERE s.name = ?1 AND p.tier = ?2 AND p.t >= ?3 AND p.t < ?4 ORDER BY p.t)sql");
    if (!select) {
        readError_ = failure(db_, "prepare select points");
        return result;
    }
    select.bind(1, series);
    select.bind(2, std::int64_t(tier));
    select.bind(3, sinceMs);
    select.bind(4, untilMs);
    int code;
    while ((code = select.step()) == SQLITE_ROW) {
        result.push_back({sqlite3_column_int64(select.get(), 0),
                          loaded(sqlite3_column_int64(select.get(), 1)),
                          loaded(sqlite3_column_int64(select.get(), 2)), tier});
    }
    readError_ = code == SQLITE_DONE ? std::string() : failure(db_, "select points");
    return result;
}

std::vector<std::string> HistoryDatabase::seriesNames() {
    std::vector<std::string> names;
    Statement select(db_, "SELECT name FROM series ORDER BY name");
    while (select && select.step() == SQLITE_ROW)
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0)));
    return names;
}

std::vector<HistoryApp> HistoryDatabase::top(std::int64_t ms, const std::string& kind) {
    std::vector<HistoryApp> apps;
    Statement select(db_,
                     "SELECT name, value FROM top WHERE minute = ?1 AND kind = ?2 ORDER BY rank");
    if (!select)
        return apps;
    select.bind(1, floorTo(ms, history::kMinuteMs));
    select.bind(2, kind);
    while (select.step() == SQLITE_ROW) {
        apps.push_back({reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0)),
                        loaded(sqlite3_column_int64(select.get(), 1))});
    }
    return apps;
}

}  // namespace vigil
