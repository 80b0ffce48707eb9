#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "history/HistoryTypes.h"

struct sqlite3;

namespace vigil {

// The history file: an SQLite database in WAL mode, readable by its owner only. Series are named
// by stable identities ("cpu.busy", "volume:/home.read", "net:eth0/aa:bb:cc:dd:ee:ff.up"); each
// point is kept in one of three tiers, packed with its neighbours into blocks (HistoryBlock): a
// minute of samples, an hour of minutes, a day of quarters per row. Values are stored in
// hundredths, as integers. Files of the earlier form, one row per point, are read as they are
// and folded into blocks when next opened for writing.
//
// One object is one connection and is used by one thread at a time; WAL lets a reading connection
// (the views, the snapshot tool) and the writing one work at once. No call throws: failures come
// back as text.
class HistoryDatabase {
  public:
    enum class Mode { readWrite, readOnly };
    struct Opened {
        enum class Status { ok, missing, corrupt, failed } status = Status::failed;
        std::unique_ptr<HistoryDatabase> database;
        std::string error;  // the failing call and SQLite's message
    };

    // Opens (for writing: creates, with mode 0600) the file and checks that it is a sound history
    // file. A file that is no database, or a damaged one, is `corrupt`.
    static Opened open(const std::string& path, Mode mode);
    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase&) = delete;
    HistoryDatabase& operator=(const HistoryDatabase&) = delete;

    // Writes the samples and top lists, merges the complete minutes and quarters that changed
    // into their tiers and drops what is past its keeping time, all in one transaction. On
    // failure nothing is written and `error` says why.
    bool write(const std::vector<HistorySample>& samples, const std::vector<HistoryTopList>& tops,
               std::int64_t nowMs, std::string& error);
    // Removes every point and top list (the file stays).
    bool clear(std::string& error);

    // The points of one series and tier with since <= time < until, oldest first.
    std::vector<HistoryPoint> points(const std::string& series, HistoryTier tier,
                                     std::int64_t sinceMs, std::int64_t untilMs);
    std::vector<std::string> seriesNames();
    // The applications recorded for the minute that holds `ms`, by "cpu" or "mem", first first.
    std::vector<HistoryApp> top(std::int64_t ms, const std::string& kind);
    // The last SQLite failure of a read, or a damaged block it skipped; empty when it worked.
    const std::string& readError() const { return readError_; }
    // The damaged blocks the last write found, one line each: replaced where it wrote them,
    // skipped where it only read them (to merge them into the coarser tiers).
    const std::vector<std::string>& damage() const { return damage_; }

  private:
    class BlockStore;

    explicit HistoryDatabase(sqlite3* db) : db_(db) {}
    bool exec(const char* sql, std::string& error);
    bool prepareSchema(std::string& error);
    bool hasTable(const char* name);
    bool foldRowsIntoBlocks(std::string& error);
    bool copyRowsIntoBlocks(std::string& error);
    bool insertSamples(BlockStore& blocks, const std::vector<HistorySample>& samples,
                       std::string& error);
    bool insertTops(const std::vector<HistoryTopList>& tops, std::string& error);
    bool thin(BlockStore& blocks, std::int64_t fromMs, std::int64_t nowMs, std::string& error);
    void readBlocks(std::vector<HistoryPoint>& result, const std::string& series, HistoryTier tier,
                    std::int64_t sinceMs, std::int64_t untilMs);
    void readRows(std::vector<HistoryPoint>& result, const std::string& series, HistoryTier tier,
                  std::int64_t sinceMs, std::int64_t untilMs);
    std::int64_t seriesId(const std::string& name, std::string& error);

    sqlite3* db_;
    std::string readError_;
    std::vector<std::string> damage_;
    // Where the last merge left off: minutes before it are already in the coarser tiers.
    std::int64_t mergedUntilMs_ = 0;
};

}  // namespace vigil
