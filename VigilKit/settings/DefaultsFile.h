#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Mutex.h"
#include "settings/DefaultsTypes.h"

namespace vigil {

// The file behind a settings store: one JSON dictionary, shared by every process of the suite.
//
// - Writes are atomic: a temporary file in the same folder is written, flushed to disk (fsync)
//   and renamed over the file, so a reader or a crash sees the old or the new file, never a mix.
// - Writers take an flock on "<file>.lock" and re-read the file under it, then change only their
//   own keys: two processes writing different keys never lose each other's.
// - Readers follow other writers: an inotify watch on the folder flags a change, and the file is
//   re-read at the next access (where inotify is not available, every access compares the file's
//   identity from stat instead).
// - A file that does not parse, holds something other than a dictionary, or is larger than
//   kMaxFileSize (judged by its size, without reading it) is moved aside to
//   "<file>.corrupt-<UTC time>" with one error line; it is never overwritten. The values the
//   store held stand and are written back in its place; a store that held none reads as empty.
// - When the file cannot be written (a read-only folder, no home folder), one error line says so
//   and the changes live on in memory: reads see them and the next successful write saves them.
//
// Every operation is thread-safe.
class DefaultsFile {
  public:
    // One change to the stored dictionary.
    struct Change {
        enum class Kind { set, remove, removeAll };
        Kind kind;
        std::string key;
        DefaultsValue value;
    };

    // An empty path keeps everything in memory (one error line at the first write).
    explicit DefaultsFile(std::filesystem::path path);
    ~DefaultsFile();
    DefaultsFile(const DefaultsFile&) = delete;
    DefaultsFile& operator=(const DefaultsFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // The dictionary as stored now (re-read first when the file changed). Never null.
    std::shared_ptr<const DefaultsValue> contents();

    // Applies the change to the file; false when it could only be kept in memory.
    bool apply(const Change& change);

    // The dictionary a settings file's text holds: a blank text is an empty dictionary; nullopt,
    // with `why` saying what is wrong, for text that is not JSON or holds something else.
    static std::optional<DefaultsValue> parseText(std::string_view text, std::string* why);

    // Largest file read; anything bigger is not a settings file and is moved aside unread.
    static constexpr int64_t kMaxFileSize = 16 * 1024 * 1024;

    struct Identity {
        bool exists = false;
        uint64_t device = 0, inode = 0;
        int64_t size = 0, mtimeNs = 0, ctimeNs = 0;
        friend bool operator==(const Identity&, const Identity&) = default;
    };

  private:
    struct ReadResult;

    void refreshLocked();
    void reloadLocked();
    bool watchLocked(bool& justAdded);
    bool drainEventsLocked();
    ReadResult readFile() const;
    // With the lock held: the current file, with a corrupt one moved aside. False when the file
    // can be neither read nor moved aside (it must then not be overwritten).
    bool readForWriteLocked(DefaultsValue& out, std::string& failure);
    bool moveAsideLocked(const std::string& reason, bool keep, std::string& failure);
    // Writes the file with the pending changes and `change`, if any.
    bool writeLocked(const std::optional<Change>& change, std::string& failure);
    void reportWriteFailureLocked(const std::string& failure);
    // Makes every value held in memory a pending change, so the next write saves them all.
    void keepMemoryLocked();
    static std::string outcome(bool keep);
    void applyPendingTo(DefaultsValue& dictionary) const;
    void addPending(const Change& change);

    std::filesystem::path path_;
    std::filesystem::path folder_;
    std::string name_;
    std::string lockPath_;

    Mutex mutex_;
    std::shared_ptr<const DefaultsValue> contents_;
    std::optional<Identity> loaded_;
    std::vector<Change> pending_;
    bool writeFailing_ = false;
    std::string writeFailureCause_;  // the system error of the failure last reported
    bool readFailing_ = false;
    int inotifyFd_ = -1;
    int watch_ = -1;
};

}  // namespace vigil
