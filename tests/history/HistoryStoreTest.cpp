// The history store on real SQLite files: what a restart keeps, what thinning merges, and what
// happens when the file is corrupt, locked, read-only or on a full disk.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "C/system/ErrorReport.h"
#include "history/History.h"
#include "history/HistoryDatabase.h"
#include "support/PrivateMounts.h"
#include "support/SelfExec.h"
#include "support/TempFolder.h"
#include "support/TmpfsMount.h"

namespace vigil {
namespace {

using test::TempFolder;

constexpr std::int64_t kBase = 1'699'999'200'000;  // 2023-11-14T22:00:00Z

// Error lines written by one History, collected.
struct ErrorLines {
    std::mutex mutex;
    std::vector<std::string> lines;
    ErrorReport report{nullptr, [this](const std::string& line) {
                           std::lock_guard lock(mutex);
                           lines.push_back(line);
                       }};
    std::vector<std::string> all() {
        std::lock_guard lock(mutex);
        return lines;
    }
};

History::Options optionsFor(const std::string& path, ErrorLines& errors,
                            std::atomic<std::int64_t>* clock = nullptr) {
    History::Options options;
    options.path = path;
    options.writeInterval = std::chrono::minutes(10);  // writes happen when a test asks
    options.errors = &errors.report;
    if (clock)
        options.clock = [clock] { return clock->load(); };
    return options;
}

// The stored points of one tier, straight from the file.
std::vector<HistoryPoint> stored(const std::string& path, const std::string& series,
                                 HistoryTier tier) {
    auto opened = HistoryDatabase::open(path, HistoryDatabase::Mode::readOnly);
    if (!opened.database)
        return {};
    return opened.database->points(series, tier, 0, LLONG_MAX);
}

std::vector<double> valuesOf(const std::vector<HistoryPoint>& points) {
    std::vector<double> values;
    for (const auto& point : points)
        values.push_back(point.value);
    return values;
}

// A child that records samples 0-9, writes them, records 10-19, says so and waits; SIGTERM
// makes it stop the store as the program does at exit.
VIGIL_CHILD_JOB(historyWriter) {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, nullptr);
    History::Options options;
    options.path = test::childEnv("HISTORY_PATH");
    options.writeInterval = std::chrono::minutes(10);
    History history(options);
    const std::int64_t start = history.now();
    for (int i = 0; i < 20; ++i) {
        history.record("cpu.busy", start + i * 1000, i);
        if (i == 9)
            history.writeNow();
    }
    std::printf("queued\n");
    std::fflush(stdout);
    int signal = 0;
    sigwait(&term, &signal);
    history.stop();
    return 0;
}

std::vector<double> valuesAfterStopping(const std::string& path, int signal) {
    int out = -1;
    const pid_t pid =
        test::startSelf({"VIGIL_CHILD_JOB=historyWriter", "HISTORY_PATH=" + path}, &out);
    std::string said;
    char buffer[64];
    ssize_t n;
    while (said.find("queued") == std::string::npos && (n = read(out, buffer, sizeof buffer)) > 0)
        said.append(buffer, size_t(n));
    close(out);
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    return valuesOf(stored(path, "cpu.busy", HistoryTier::raw));
}

TEST(HistoryStore, SurvivesStopsWithSigtermWholeAndWithSigkillLessTheUnwrittenMinute) {
    TempFolder folder;
    const std::string path = folder / "history.sqlite";

    std::vector<double> all;
    for (int i = 0; i < 20; ++i)
        all.push_back(i);
    EXPECT_EQ(valuesAfterStopping(path, SIGTERM), all);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    std::filesystem::remove(path);
    // Killed: what was written stays; the ten samples queued since are the lost last minute.
    EXPECT_EQ(valuesAfterStopping(path, SIGKILL),
              std::vector<double>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(HistoryStore, ThinningKeepsAverageAndMaximumOfWhatItMerges) {
    TempFolder folder;
    const std::string path = folder / "history.sqlite";
    ErrorLines errors;
    std::atomic<std::int64_t> clock{kBase};
    History history(optionsFor(path, errors, &clock));

    // Minute 0: 10, 20, 60 (average 30, maximum 60); minute 1: 40, 50.5 (45.25, 50.5);
    // minute 14: 7 alone. The quarter: (10+20+60+40+50.5+7)/6 = 31.25, maximum 60.
    const std::pair<std::int64_t, double> samples[] = {
        {0, 10}, {20'000, 20}, {40'000, 60}, {60'000, 40}, {61'000, 50.5}, {14 * 60'000, 7}};
    for (const auto& [at, value] : samples)
        history.record("cpu.busy", kBase + at, value);
    clock = kBase + 16 * 60'000;
    history.writeNow();

    clock = kBase + 2 * 3'600'000;  // samples past their hour are gone, minutes stay
    history.writeNow();
    EXPECT_TRUE(stored(path, "cpu.busy", HistoryTier::raw).empty());
    const auto minutes = history.points("cpu.busy", kBase, kBase + 3'600'000);
    ASSERT_EQ(minutes.size(), 3u);
    EXPECT_EQ(minutes[0].tier, HistoryTier::minute);
    EXPECT_EQ(minutes[0].ms, kBase);
    EXPECT_DOUBLE_EQ(minutes[0].value, 30);
    EXPECT_DOUBLE_EQ(minutes[0].max, 60);
    EXPECT_EQ(minutes[1].ms, kBase + 60'000);
    EXPECT_DOUBLE_EQ(minutes[1].value, 45.25);
    EXPECT_DOUBLE_EQ(minutes[1].max, 50.5);
    EXPECT_DOUBLE_EQ(minutes[2].value, 7);

    clock = kBase + 3 * 24 * 3'600'000LL;  // minutes past 48 hours are gone, the quarter stays
    history.writeNow();
    EXPECT_TRUE(stored(path, "cpu.busy", HistoryTier::minute).empty());
    const auto quarters = history.points("cpu.busy", kBase - 1, clock);
    ASSERT_EQ(quarters.size(), 1u);
    EXPECT_EQ(quarters[0].tier, HistoryTier::quarter);
    EXPECT_EQ(quarters[0].ms, kBase);
    EXPECT_DOUBLE_EQ(quarters[0].value, 31.25);
    EXPECT_DOUBLE_EQ(quarters[0].max, 60);

    clock = kBase + 91 * 24 * 3'600'000LL;
    history.writeNow();
    EXPECT_TRUE(stored(path, "cpu.busy", HistoryTier::quarter).empty());
    EXPECT_TRUE(errors.all().empty());
}

// Runs SQL on the file over a connection of its own, as another program (or damage) would.
void execOn(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK)
        << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

TEST(HistoryStore, FileOfTheEarlierOnePointPerRowFormIsReadAndFoldedIntoBlocksWhenWritten) {
    TempFolder folder;
    const std::string path = folder / "history.sqlite";
    // Two samples at 22:05, the minute of 22:00 and the quarter of 22:00, a top list of 22:00.
    execOn(path, R"sql(
        CREATE TABLE series(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
        CREATE TABLE points(series INTEGER NOT NULL, tier INTEGER NOT NULL, t INTEGER NOT NULL,
          avg INTEGER NOT NULL, max INTEGER, n INTEGER,
          PRIMARY KEY(series, tier, t)) WITHOUT ROWID;
        CREATE TABLE top(minute INTEGER NOT NULL, kind TEXT NOT NULL, rank INTEGER NOT NULL,
          name TEXT NOT NULL, value INTEGER NOT NULL, PRIMARY KEY(minute, kind, rank)) WITHOUT ROWID;
        INSERT INTO series VALUES(1, 'cpu.busy');
        INSERT INTO points VALUES(1, 0, 1699999500000, 1000, NULL, NULL),
                                 (1, 0, 1699999501100, 2050, NULL, NULL),
                                 (1, 1, 1699999200000, 3000, 6000, 3),
                                 (1, 2, 1699999200000, 3125, 6000, 6);
        INSERT INTO top VALUES(1699999200000, 'cpu', 0, 'firefox', 1250);)sql");
    EXPECT_EQ(valuesOf(stored(path, "cpu.busy", HistoryTier::raw)),
              std::vector<double>({10, 20.5}));

    ErrorLines errors;
    std::atomic<std::int64_t> clock{kBase + 10 * 60'000};
    History history(optionsFor(path, errors, &clock));
    history.record("cpu.busy", kBase + 6 * 60'000, 7);
    history.writeNow();

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* rowTable = nullptr;
    sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_schema WHERE name = 'points'", -1, &rowTable,
                       nullptr);
    EXPECT_EQ(sqlite3_step(rowTable), SQLITE_DONE) << "the row table is still there";
    sqlite3_finalize(rowTable);
    sqlite3_close(db);

    EXPECT_EQ(valuesOf(stored(path, "cpu.busy", HistoryTier::raw)),
              std::vector<double>({10, 20.5, 7}));
    const auto minutes = stored(path, "cpu.busy", HistoryTier::minute);
    ASSERT_EQ(minutes.size(), 3u);
    EXPECT_EQ(minutes[0].ms, kBase);
    EXPECT_DOUBLE_EQ(minutes[0].value, 30);
    EXPECT_DOUBLE_EQ(minutes[0].max, 60);
    EXPECT_EQ(minutes[1].ms, kBase + 5 * 60'000);  // merged from the samples
    EXPECT_DOUBLE_EQ(minutes[1].value, 15.25);
    EXPECT_DOUBLE_EQ(minutes[1].max, 20.5);
    EXPECT_DOUBLE_EQ(minutes[2].value, 7);
    const auto quarters = stored(path, "cpu.busy", HistoryTier::quarter);
    ASSERT_EQ(quarters.size(), 1u);
    EXPECT_DOUBLE_EQ(quarters[0].value, 31.25);
    EXPECT_DOUBLE_EQ(quarters[0].max, 60);
    const auto apps = history.top(kBase + 30'000, "cpu");
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].name, "firefox");
    EXPECT_DOUBLE_EQ(apps[0].value, 12.5);
    EXPECT_TRUE(errors.all().empty());
}

TEST(HistoryStore, DamagedBlockIsSkippedWithOneErrorLineAndReplacedByTheNextWrite) {
    TempFolder folder;
    const std::string path = folder / "history.sqlite";
    ErrorLines errors;
    std::atomic<std::int64_t> clock{kBase + 50'000};
    History history(optionsFor(path, errors, &clock));
    history.record("cpu.busy", kBase + 10'000, 1);
    history.record("cpu.busy", kBase + 20'000, 2);
    history.record("mem.usage", kBase + 20'000, 5);
    history.writeNow();
    execOn(path, R"sql(UPDATE blocks SET data = x'01ff' WHERE series =
                         (SELECT id FROM series WHERE name = 'cpu.busy'))sql");

    EXPECT_TRUE(history.points("cpu.busy", kBase, kBase + 60'000).empty());
    EXPECT_TRUE(history.points("cpu.busy", kBase, kBase + 60'000).empty());
    EXPECT_EQ(valuesOf(history.points("mem.usage", kBase, kBase + 60'000)), std::vector<double>{5});
    ASSERT_EQ(errors.all().size(), 1u);
    EXPECT_NE(errors.all()[0].find("block of cpu.busy (raw, from 1699999200000) is damaged: time "
                                   "step at byte 2 ends inside a number -- skipped"),
              std::string::npos)
        << errors.all()[0];

    history.record("cpu.busy", kBase + 40'000, 3);
    history.writeNow();
    EXPECT_EQ(valuesOf(stored(path, "cpu.busy", HistoryTier::raw)), std::vector<double>{3});
    ASSERT_EQ(errors.all().size(), 2u);
    EXPECT_NE(
        errors.all()[1].find("is damaged: time step at byte 2 ends inside a number -- replaced"),
        std::string::npos)
        << errors.all()[1];
}

TEST(HistoryStore, CorruptFileIsMovedAsideAndANewOneBegun) {
    TempFolder folder;
    const std::string path = folder / "history.sqlite";
    std::ofstream(path) << std::string(8192, 'x');
    ErrorLines errors;
    History history(optionsFor(path, errors));
    history.record("mem.used", 1.5);
    history.writeNow();

    const auto lines = errors.all();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("moved aside to " + path + ".corrupt-"), std::string::npos) << lines[0];
    int asideCopies = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        if (entry.path().filename().string().rfind("history.sqlite.corrupt-", 0) == 0 &&
            entry.path().string().find("-wal") == std::string::npos &&
            entry.path().string().find("-shm") == std::string::npos) {
            ++asideCopies;
            EXPECT_EQ(test::readText(entry.path()), std::string(8192, 'x'));
        }
    }
    EXPECT_EQ(asideCopies, 1);
    EXPECT_EQ(valuesOf(stored(path, "mem.used", HistoryTier::raw)), std::vector<double>{1.5});
    EXPECT_TRUE(history.persistent());
}

TEST(HistoryStore, LockedFileKeepsHistoryInMemoryWithOneErrorLineUntilItIsFree) {
    TempFolder folder;
    const std::string path = folder / "history.sqlite";
    ErrorLines errors;
    History history(optionsFor(path, errors));
    history.record("net.total.down", 100);
    history.writeNow();

    // Another process holds the write lock (as a second copy of the store in the middle of a
    // write would).
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    history.record("net.total.down", 200);
    history.writeNow();
    history.record("net.total.down", 300);
    history.writeNow();
    EXPECT_FALSE(history.persistent());
    const auto lines = errors.all();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("keeping history in memory"), std::string::npos) << lines[0];
    const std::int64_t now = history.now();
    EXPECT_EQ(valuesOf(history.points("net.total.down", now - 60'000, now + 1)),
              std::vector<double>({100, 200, 300}));

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    history.writeNow();
    EXPECT_TRUE(history.persistent());
    EXPECT_EQ(valuesOf(stored(path, "net.total.down", HistoryTier::raw)),
              std::vector<double>({100, 200, 300}));
    EXPECT_EQ(errors.all().size(), 1u);
}

TEST(HistoryStore, ReadOnlyAndFullDisksKeepHistoryInMemoryWithOneErrorLine) {
    VIGIL_IN_PRIVATE_MOUNTS([] {
        TempFolder folder;
        {
            test::TmpfsMount disk(folder / "ro", "1m");
            ASSERT_TRUE(disk.mounted()) << disk.reason();
            ASSERT_TRUE(disk.setReadOnly(true)) << disk.reason();
            ErrorLines errors;
            History history(optionsFor(folder / "ro/vigil/history.sqlite", errors));
            history.record("cpu.busy", 42);
            history.writeNow();
            history.writeNow();
            EXPECT_FALSE(history.persistent());
            EXPECT_EQ(errors.all().size(), 1u);
            const std::int64_t now = history.now();
            EXPECT_EQ(valuesOf(history.points("cpu.busy", now - 60'000, now + 1)),
                      std::vector<double>{42});
        }
        test::TmpfsMount disk(folder / "full", "512k");
        ASSERT_TRUE(disk.mounted()) << disk.reason();
        const std::string path = folder / "full/history.sqlite";
        ErrorLines errors;
        History history(optionsFor(path, errors));
        history.record("cpu.busy", 1);
        history.writeNow();
        ASSERT_TRUE(history.persistent());
        ASSERT_TRUE(disk.fill());
        const std::int64_t start = history.now();
        for (int i = 0; i < 5000; ++i)
            history.record("volume:/home.read", start + i, i);
        history.writeNow();
        history.writeNow();
        EXPECT_FALSE(history.persistent());
        ASSERT_EQ(errors.all().size(), 1u) << errors.all()[0];
        EXPECT_EQ(history.points("volume:/home.read", start, start + 5000).size(), 5000u);

        disk.empty();
        history.writeNow();
        EXPECT_TRUE(history.persistent());
        EXPECT_EQ(stored(path, "volume:/home.read", HistoryTier::raw).size(), 5000u);
    });
}

}  // namespace
}  // namespace vigil
