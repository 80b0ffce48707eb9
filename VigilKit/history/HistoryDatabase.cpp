#include "history/HistoryDatabase.h"

#include "history/HistoryBlock.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <string_view>

namespace vigil {

namespace {

constexpr double kScale = 100.0;  // values are stored in hundredths

std::int64_t stored(double value) {
    if (!std::isfinite(value))
        return 0;
    const double scaled = std::round(value * kScale);
    // Within half the range of the integers, so that a maximum less an average still fits.
    constexpr double kLimit = 4.0e18;
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
    void bindBlob(int index, const std::string& bytes) {
        sqlite3_bind_blob(stmt_, index, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
    }
    std::string_view blob(int column) const {
        const void* bytes = sqlite3_column_blob(stmt_, column);
        const int size = sqlite3_column_bytes(stmt_, column);
        return bytes ? std::string_view(static_cast<const char*>(bytes), std::size_t(size))
                     : std::string_view();
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

// A block is a run of one series' points of one tier (HistoryBlock). The rows are wider than a
// page's share of an index b-tree allows without spilling (about 1,000 bytes), so the blocks live
// in a table with row ids and their key in an index of its own.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS series(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS blocks(
  series INTEGER NOT NULL, tier INTEGER NOT NULL, start INTEGER NOT NULL, data BLOB NOT NULL,
  UNIQUE(series, tier, start));
CREATE TABLE IF NOT EXISTS top(
  minute INTEGER NOT NULL, kind TEXT NOT NULL, rank INTEGER NOT NULL,
  name TEXT NOT NULL, value INTEGER NOT NULL,
  PRIMARY KEY(minute, kind, rank)) WITHOUT ROWID;
)sql";

// The table of earlier files: one row per point. Read as it is and folded into blocks when the
// file is next opened for writing.
constexpr const char* kRowTable = "points";

std::string blockName(const std::string& series, HistoryTier tier, std::int64_t startMs) {
    return "block of " + series + " (" + toString(tier) + ", from " + std::to_string(startMs) + ")";
}

bool isTier(std::int64_t tier) {
    return tier >= 0 && tier <= std::int64_t(HistoryTier::quarter);
}

}  // namespace

// The blocks of one transaction: reads them, merges entries into them and writes them back. A
// block whose bytes do not decode is noted in `damage` and treated as empty (a write replaces it).
class HistoryDatabase::BlockStore {
  public:
    BlockStore(sqlite3* db, std::vector<std::string>& damage)
        : db_(db),
          damage_(damage),
          load_(db, "SELECT data FROM blocks WHERE series = ?1 AND tier = ?2 AND start = ?3"),
          store_(db, R"sql(INSERT INTO blocks(series, tier, start, data) VALUES(?1, ?2, ?3, ?4)
                           ON CONFLICT(series, tier, start) DO UPDATE SET data = excluded.data)sql"),
          range_(db, R"sql(SELECT start, data FROM blocks
                           WHERE series = ?1 AND tier = ?2 AND start >= ?3 AND start < ?4
                           ORDER BY start)sql"),
          drop_(db, "DELETE FROM blocks WHERE series = ?1 AND tier = ?2 AND start < ?3") {}

    bool ready(std::string& error) const {
        if (load_ && store_ && range_ && drop_)
            return true;
        error = failure(db_, "prepare blocks");
        return false;
    }

    // Puts the entries (any order, times within the tier's steps) into their blocks.
    bool put(std::int64_t series, const std::string& name, HistoryTier tier,
             std::vector<HistoryBlock::Entry> entries, std::string& error) {
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.ms < b.ms; });
        for (std::size_t first = 0; first < entries.size();) {
            const std::int64_t start = HistoryBlock::startFor(tier, entries[first].ms);
            HistoryBlock block = load(series, name, tier, start);
            std::size_t next = first;
            for (; next < entries.size() && entries[next].ms < start + HistoryBlock::spanOf(tier);
                 ++next)
                block.put(entries[next]);
            if (!store(series, block, error))
                return false;
            first = next;
        }
        return true;
    }

    // The entries of the tier's blocks that start in [fromMs, toMs), oldest first.
    bool read(std::int64_t series, const std::string& name, HistoryTier tier, std::int64_t fromMs,
              std::int64_t toMs, std::vector<HistoryBlock::Entry>& entries, std::string& error) {
        range_.bind(1, series);
        range_.bind(2, std::int64_t(tier));
        range_.bind(3, fromMs);
        range_.bind(4, toMs);
        int code;
        while ((code = range_.step()) == SQLITE_ROW) {
            const std::int64_t start = sqlite3_column_int64(range_.get(), 0);
            if (auto block = decoded(range_, 1, name, tier, start, "skipped"))
                entries.insert(entries.end(), block->entries().begin(), block->entries().end());
        }
        range_.reset();
        if (code == SQLITE_DONE)
            return true;
        error = failure(db_, "select blocks");
        return false;
    }

    // Drops the tier's blocks that start before `beforeMs`.
    bool drop(std::int64_t series, HistoryTier tier, std::int64_t beforeMs, std::string& error) {
        drop_.bind(1, series);
        drop_.bind(2, std::int64_t(tier));
        drop_.bind(3, beforeMs);
        const bool done = drop_.step() == SQLITE_DONE;
        drop_.reset();
        if (!done)
            error = failure(db_, "drop old blocks");
        return done;
    }

  private:
    HistoryBlock load(std::int64_t series, const std::string& name, HistoryTier tier,
                      std::int64_t start) {
        load_.bind(1, series);
        load_.bind(2, std::int64_t(tier));
        load_.bind(3, start);
        std::optional<HistoryBlock> block;
        if (load_.step() == SQLITE_ROW)
            block = decoded(load_, 0, name, tier, start, "replaced");
        load_.reset();
        return block ? std::move(*block) : HistoryBlock(tier, start);
    }

    bool store(std::int64_t series, const HistoryBlock& block, std::string& error) {
        store_.bind(1, series);
        store_.bind(2, std::int64_t(block.tier()));
        store_.bind(3, block.startMs());
        store_.bindBlob(4, block.encode());
        const bool done = store_.step() == SQLITE_DONE;
        store_.reset();
        if (!done)
            error = failure(db_, "store block");
        return done;
    }

    // The block in the statement's column; a damaged one is noted with what became of it.
    std::optional<HistoryBlock> decoded(Statement& statement, int column, const std::string& name,
                                        HistoryTier tier, std::int64_t start, const char* outcome) {
        std::string why;
        auto block = HistoryBlock::decode(tier, start, statement.blob(column), why);
        if (!block)
            damage_.push_back(blockName(name, tier, start) + " is damaged: " + why + " -- " +
                              outcome);
        return block;
    }

    sqlite3* db_;
    std::vector<std::string>& damage_;
    Statement load_, store_, range_, drop_;
};

namespace {

// The entries of `step` (a minute or a quarter) that merge the finer entries in [fromMs, toMs):
// their average weighted by the samples each stands for, their largest maximum, and the samples'
// count. For samples that is the minute's average and maximum.
std::vector<HistoryBlock::Entry> merged(const std::vector<HistoryBlock::Entry>& finer,
                                        std::int64_t step, std::int64_t fromMs, std::int64_t toMs) {
    std::vector<HistoryBlock::Entry> coarser;
    double sum = 0;
    const auto finish = [&] {
        if (!coarser.empty())
            coarser.back().average = std::int64_t(std::round(sum / double(coarser.back().count)));
    };
    for (const auto& entry : finer) {
        if (entry.ms < fromMs || entry.ms >= toMs)
            continue;
        const std::int64_t start = floorTo(entry.ms, step);
        if (coarser.empty() || coarser.back().ms != start) {
            finish();
            coarser.push_back({start, 0, entry.maximum, 0});
            sum = 0;
        }
        sum += double(entry.average) * double(entry.count);
        coarser.back().maximum = std::max(coarser.back().maximum, entry.maximum);
        coarser.back().count += entry.count;
    }
    finish();
    return coarser;
}

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

// Incremental auto-vacuum (which takes effect on a new file, or at a VACUUM) lets each write give
// the pages its thinning freed back to the file system, so that the file holds what it keeps.
bool HistoryDatabase::prepareSchema(std::string& error) {
    return exec("PRAGMA auto_vacuum=INCREMENTAL", error) &&
           exec("PRAGMA journal_mode=WAL", error) && exec("PRAGMA synchronous=NORMAL", error) &&
           exec(kSchema, error) && foldRowsIntoBlocks(error);
}

bool HistoryDatabase::hasTable(const char* name) {
    Statement select(db_, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1");
    if (!select)
        return false;
    select.bind(1, std::string(name));
    return select.step() == SQLITE_ROW;
}

// Moves the points of an earlier file's row table into blocks and drops the table, in one
// transaction, then gives the freed pages back.
bool HistoryDatabase::foldRowsIntoBlocks(std::string& error) {
    if (!hasTable(kRowTable))
        return true;
    if (!exec("BEGIN IMMEDIATE", error))
        return false;
    if (!copyRowsIntoBlocks(error) || !exec("DROP TABLE points", error) || !exec("COMMIT", error)) {
        std::string ignored;
        exec("ROLLBACK", ignored);
        return false;
    }
    std::string ignored;
    exec("VACUUM", ignored);  // only the file's size is at stake
    return true;
}

bool HistoryDatabase::copyRowsIntoBlocks(std::string& error) {
    BlockStore blocks(db_, damage_);
    Statement rows(db_, R"sql(SELECT series, tier, t, avg, coalesce(max, avg), coalesce(n, 1)
                              FROM points ORDER BY series, tier, t)sql");
    if (!blocks.ready(error))
        return false;
    if (!rows) {
        error = failure(db_, "prepare points");
        return false;
    }
    std::int64_t series = -1, tier = -1;
    std::vector<HistoryBlock::Entry> entries;
    const auto flush = [&] {
        return entries.empty() ||
               blocks.put(series, "", HistoryTier(tier), std::move(entries), error);
    };
    int code;
    while ((code = rows.step()) == SQLITE_ROW) {
        const std::int64_t rowSeries = sqlite3_column_int64(rows.get(), 0);
        const std::int64_t rowTier = sqlite3_column_int64(rows.get(), 1);
        if (!isTier(rowTier))
            continue;
        if (rowSeries != series || rowTier != tier) {
            if (!flush())
                return false;
            entries.clear();
            series = rowSeries;
            tier = rowTier;
        }
        const std::int64_t step = HistoryBlock::stepOf(HistoryTier(tier));
        entries.push_back({floorTo(sqlite3_column_int64(rows.get(), 2), step),
                           sqlite3_column_int64(rows.get(), 3), sqlite3_column_int64(rows.get(), 4),
                           std::max<std::int64_t>(1, sqlite3_column_int64(rows.get(), 5))});
    }
    if (code != SQLITE_DONE) {
        error = failure(db_, "select points");
        return false;
    }
    return flush();
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

bool HistoryDatabase::insertSamples(BlockStore& blocks, const std::vector<HistorySample>& samples,
                                    std::string& error) {
    std::map<std::string, std::vector<HistoryBlock::Entry>, std::less<>> bySeries;
    for (const auto& sample : samples) {
        const std::int64_t value = stored(sample.value);
        bySeries[sample.series].push_back({sample.ms, value, value, 1});
    }
    for (auto& [name, entries] : bySeries) {
        const std::int64_t id = seriesId(name, error);
        if (id < 0 || !blocks.put(id, name, HistoryTier::raw, std::move(entries), error))
            return false;
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
// their sample counts, and the largest maximum), then drops the blocks whose every point is past
// its tier's keeping time.
bool HistoryDatabase::thin(BlockStore& blocks, std::int64_t fromMs, std::int64_t nowMs,
                           std::string& error) {
    Statement names(db_, "SELECT id, name FROM series");
    Statement dropTop(db_, "DELETE FROM top WHERE minute < ?1");
    if (!names || !dropTop) {
        error = failure(db_, "prepare thinning");
        return false;
    }
    const std::int64_t minutesFrom = floorTo(fromMs, history::kMinuteMs);
    const std::int64_t minutesTo = floorTo(nowMs, history::kMinuteMs);
    const std::int64_t quartersFrom = floorTo(fromMs, history::kQuarterMs);
    const std::int64_t quartersTo = floorTo(nowMs, history::kQuarterMs);
    const std::pair<HistoryTier, std::int64_t> kept[] = {
        {HistoryTier::raw, history::kRawKeptMs},
        {HistoryTier::minute, history::kMinuteKeptMs},
        {HistoryTier::quarter, history::kQuarterKeptMs}};
    while (names.step() == SQLITE_ROW) {
        const std::int64_t id = sqlite3_column_int64(names.get(), 0);
        const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(names.get(), 1));
        std::vector<HistoryBlock::Entry> samples, minutes;
        if (minutesFrom < minutesTo &&
            (!blocks.read(id, name, HistoryTier::raw, minutesFrom, minutesTo, samples, error) ||
             !blocks.put(id, name, HistoryTier::minute,
                         merged(samples, history::kMinuteMs, minutesFrom, minutesTo), error))) {
            return false;
        }
        if (quartersFrom < quartersTo &&
            (!blocks.read(id, name, HistoryTier::minute,
                          HistoryBlock::startFor(HistoryTier::minute, quartersFrom), quartersTo,
                          minutes, error) ||
             !blocks.put(id, name, HistoryTier::quarter,
                         merged(minutes, history::kQuarterMs, quartersFrom, quartersTo), error))) {
            return false;
        }
        for (const auto& [tier, keptMs] : kept) {
            if (!blocks.drop(id, tier, nowMs - keptMs - HistoryBlock::spanOf(tier) + 1, error))
                return false;
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
    damage_.clear();
    // The minutes to merge again: those the new samples fall in and those that completed since
    // the last merge (on the first write, the last hour: a previous run may have left some).
    std::int64_t fromMs = mergedUntilMs_ ? mergedUntilMs_ : nowMs - history::kRawKeptMs;
    for (const auto& sample : samples)
        fromMs = std::min(fromMs, sample.ms);
    if (!exec("BEGIN IMMEDIATE", error))
        return false;
    BlockStore blocks(db_, damage_);
    if (blocks.ready(error) && insertSamples(blocks, samples, error) && insertTops(tops, error) &&
        thin(blocks, fromMs, nowMs, error) && exec("PRAGMA incremental_vacuum", error) &&
        exec("COMMIT", error)) {
        mergedUntilMs_ = floorTo(nowMs, history::kMinuteMs);
        return true;
    }
    std::string ignored;
    exec("ROLLBACK", ignored);
    return false;
}

bool HistoryDatabase::clear(std::string& error) {
    if (exec("BEGIN IMMEDIATE; DELETE FROM blocks; DELETE FROM top; DELETE FROM series; "
             "PRAGMA incremental_vacuum; COMMIT",
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
    readError_.clear();
    if (hasTable("blocks"))
        readBlocks(result, series, tier, sinceMs, untilMs);
    if (hasTable(kRowTable)) {
        readRows(result, series, tier, sinceMs, untilMs);
        std::stable_sort(result.begin(), result.end(),
                         [](const auto& a, const auto& b) { return a.ms < b.ms; });
    }
    return result;
}

void HistoryDatabase::readBlocks(std::vector<HistoryPoint>& result, const std::string& series,
                                 HistoryTier tier, std::int64_t sinceMs, std::int64_t untilMs) {
    Statement select(db_, R"sql(
        SELECT b.start, b.data FROM blocks b JOIN series s ON s.id = b.series
        WHERE s.name = ?1 AND b.tier = ?2 AND b.start > ?3 AND b.start < ?4 ORDER BY b.start)sql");
    if (!select) {
        readError_ = failure(db_, "prepare select blocks");
        return;
    }
    const std::int64_t span = HistoryBlock::spanOf(tier);
    select.bind(1, series);
    select.bind(2, std::int64_t(tier));
    select.bind(
        3, sinceMs > std::numeric_limits<std::int64_t>::min() + span ? sinceMs - span : sinceMs);
    select.bind(4, untilMs);
    int code;
    while ((code = select.step()) == SQLITE_ROW) {
        const std::int64_t start = sqlite3_column_int64(select.get(), 0);
        std::string why;
        const auto block = HistoryBlock::decode(tier, start, select.blob(1), why);
        if (!block) {
            readError_ = blockName(series, tier, start) + " is damaged: " + why + " -- skipped";
            continue;
        }
        for (const auto& entry : block->entries()) {
            if (entry.ms >= sinceMs && entry.ms < untilMs)
                result.push_back({entry.ms, loaded(entry.average), loaded(entry.maximum), tier});
        }
    }
    if (code != SQLITE_DONE)
        readError_ = failure(db_, "select blocks");
}

void HistoryDatabase::readRows(std::vector<HistoryPoint>& result, const std::string& series,
                               HistoryTier tier, std::int64_t sinceMs, std::int64_t untilMs) {
    Statement select(db_, R"sql(
        SELECT p.t, p.avg, coalesce(p.max, p.avg) FROM points p JOIN series s ON s.id = p.series
        WHERE s.name = ?1 AND p.tier = ?2 AND p.t >= ?3 AND p.t < ?4 ORDER BY p.t)sql");
    if (!select)
        return;  // folded into blocks since
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
    if (code != SQLITE_DONE)
        readError_ = failure(db_, "select points");
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
