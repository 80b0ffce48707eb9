#include "settings/DefaultsFile.h"

#include "C/system/ErrorReport.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace vigil {

namespace {

using Json = DefaultsValue;

std::string errorText(int error) {
    return std::strerror(error);
}

void errorLine(const std::string& text) {
    // Each line here marks a change of state (the file moved aside, writes starting to fail), which
    // the store itself writes once.
    ErrorReport::shared().reportEach(text);
}

DefaultsFile::Identity identityOf(const struct stat& st) {
    DefaultsFile::Identity id;
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.mtimeNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    id.ctimeNs = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
    return id;
}

// The identity of the file at the path now; nothing when it cannot be told (stat failed for
// another reason than a missing file), which makes the caller re-read.
std::optional<DefaultsFile::Identity> statIdentity(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return identityOf(st);
    if (errno == ENOENT || errno == ENOTDIR)
        return DefaultsFile::Identity{};
    return std::nullopt;
}

// Creates the folder and its missing parents (mode 0700); false with errno set on failure.
bool makeFolders(const std::filesystem::path& folder) {
    struct stat st;
    if (stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        errno = ENOTDIR;
        return false;
    }
    if (errno != ENOENT)
        return false;
    const auto parent = folder.parent_path();
    if (!parent.empty() && parent != folder && !makeFolders(parent))
        return false;
    if (mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST)
        return true;
    return false;
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string utcStamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
    return text;
}

// Renames without replacing an existing target; false with errno set (EEXIST when taken).
bool renameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing target too.
    if (link(from.c_str(), to.c_str()) != 0)
        return false;
    unlink(from.c_str());
    return true;
}

class LockFile {
  public:
    explicit LockFile(const std::string& path) {
        // Never through a symbolic link: a planted link would make the lock create or open a file
        // outside the settings folder.
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            // An existing lock file can still be locked through a read-only descriptor; if
            // there is none, the reason the first open failed is the one worth reporting.
            const int createError = errno;
            fd_ = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd_ < 0) {
                error_ = createError;
                return;
            }
        }
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            close(fd_);
            fd_ = -1;
            return;
        }
    }
    ~LockFile() {
        if (fd_ >= 0)
            close(fd_);  // closing the last descriptor releases the lock
    }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    bool held() const { return fd_ >= 0; }
    int error() const { return error_; }

  private:
    int fd_ = -1;
    int error_ = 0;
};

void applyChange(Json& dictionary, const DefaultsFile::Change& change) {
    switch (change.kind) {
        case DefaultsFile::Change::Kind::set:
            dictionary[change.key] = change.value;
            break;
        case DefaultsFile::Change::Kind::remove:
            dictionary.erase(change.key);
            break;
        case DefaultsFile::Change::Kind::removeAll:
            dictionary = Json::object();
            break;
    }
}

}  // namespace

struct DefaultsFile::ReadResult {
    enum class Status { missing, ok, corrupt, failed } status = Status::missing;
    Json dictionary = Json::object();
    Identity identity;
    std::string detail;  // why corrupt, or the failing call and its error
};

DefaultsFile::DefaultsFile(std::filesystem::path path)
    : path_(std::move(path)), contents_(std::make_shared<const Json>(Json::object())) {
    if (!path_.empty()) {
        folder_ = path_.parent_path();
        if (folder_.empty())
            folder_ = ".";
        name_ = path_.filename().string();
        lockPath_ = path_.string() + ".lock";
    }
}

DefaultsFile::~DefaultsFile() {
    if (inotifyFd_ >= 0)
        close(inotifyFd_);
}

std::shared_ptr<const DefaultsValue> DefaultsFile::contents() {
    return mutex_.synchronise([&] {
        refreshLocked();
        return contents_;
    });
}

bool DefaultsFile::apply(const Change& change) {
    return mutex_.synchronise([&] {
        std::string failure;
        if (path_.empty()) {
            failure = "no settings folder (neither XDG_CONFIG_HOME nor HOME is set)";
        } else {
            refreshLocked();
            if (writeLocked(change, failure)) {
                writeFailing_ = false;
                return true;
            }
        }
        reportWriteFailureLocked(failure);
        addPending(change);
        auto updated = std::make_shared<Json>(*contents_);
        applyChange(*updated, change);
        contents_ = std::move(updated);
        return false;
    });
}

void DefaultsFile::reportWriteFailureLocked(const std::string& failure) {
    // One line per cause: a folder that was read-only and is now full says so again.
    const size_t detail = failure.rfind(" -- ");
    std::string cause = detail == std::string::npos ? failure : failure.substr(detail + 4);
    if (!writeFailing_ || cause != writeFailureCause_) {
        errorLine("settings: " + failure + "; changes are kept in memory");
        writeFailing_ = true;
        writeFailureCause_ = std::move(cause);
    }
}

void DefaultsFile::refreshLocked() {
    if (path_.empty())
        return;
    bool check = !loaded_.has_value();
    bool justAdded = false;
    if (watchLocked(justAdded)) {
        if (drainEventsLocked() || justAdded)
            check = true;
    } else {
        check = true;
    }
    if (!check)
        return;
    const auto now = statIdentity(path_.string());
    if (now && loaded_ && *now == *loaded_)
        return;
    reloadLocked();
}

bool DefaultsFile::watchLocked(bool& justAdded) {
    if (inotifyFd_ < 0) {
        inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotifyFd_ < 0)
            return false;
    }
    if (watch_ < 0) {
        watch_ =
            inotify_add_watch(inotifyFd_, folder_.c_str(),
                              IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                  IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
        if (watch_ < 0)
            return false;
        justAdded = true;
    }
    return true;
}

bool DefaultsFile::drainEventsLocked() {
    bool changed = false;
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        ssize_t n = read(inotifyFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            if (event->mask & IN_Q_OVERFLOW)
                changed = true;
            if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                // The folder went away: watch again (or compare by stat) from now on.
                if (event->mask & IN_IGNORED)
                    watch_ = -1;
                changed = true;
            }
            if (event->len > 0 && name_ == event->name)
                changed = true;
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return changed;
}

DefaultsFile::ReadResult DefaultsFile::readFile() const {
    ReadResult result;
    // O_NONBLOCK: a FIFO put in place of the file must not hold the reader until someone writes
    // to it (it is then refused as not a regular file). Regular files ignore the flag.
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return result;
        result.status = ReadResult::Status::failed;
        result.detail = "open " + path_.string() + " -- " + errorText(errno);
        return result;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        result.status = ReadResult::Status::failed;
        result.detail = "fstat " + path_.string() + " -- " + errorText(errno);
        close(fd);
        return result;
    }
    result.identity = identityOf(st);
    if (!S_ISREG(st.st_mode)) {
        result.status = ReadResult::Status::failed;
        result.detail = "open " + path_.string() + " -- not a regular file";
        close(fd);
        return result;
    }
    // Judged by its size first: a file far larger than any settings file is never read into
    // memory (reading it would grow the process by as much, for good).
    if (st.st_size > kMaxFileSize) {
        result.status = ReadResult::Status::corrupt;
        result.detail = "is " + std::to_string(st.st_size / (1024 * 1024)) +
                        " MiB, over the 16 MiB a settings file may have (not read)";
        close(fd);
        return result;
    }
    std::string text;
    char chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.status = ReadResult::Status::failed;
            result.detail = "read " + path_.string() + " -- " + errorText(errno);
            close(fd);
            return result;
        }
        if (n == 0)
            break;
        text.append(chunk, static_cast<size_t>(n));
        if (static_cast<int64_t>(text.size()) > kMaxFileSize)
            break;
    }
    close(fd);

    if (static_cast<int64_t>(text.size()) > kMaxFileSize) {
        // It grew while being read.
        result.status = ReadResult::Status::corrupt;
        result.detail = "grew over the 16 MiB a settings file may have";
        return result;
    }
    std::optional<Json> parsed = parseText(text, &result.detail);
    if (!parsed) {
        result.status = ReadResult::Status::corrupt;
        return result;
    }
    result.status = ReadResult::Status::ok;
    result.dictionary = std::move(*parsed);
    return result;
}

std::optional<DefaultsValue> DefaultsFile::parseText(std::string_view text, std::string* why) {
    // A blank file holds no settings; it reads as an empty dictionary.
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos)
        return Json::object();
    Json parsed = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded()) {
        if (why)
            *why = "not valid JSON";
        return std::nullopt;
    }
    if (!parsed.is_object()) {
        if (why)
            *why = std::string("holds a JSON ") + parsed.type_name() + ", not a dictionary";
        return std::nullopt;
    }
    return parsed;
}

void DefaultsFile::reloadLocked() {
    ReadResult read = readFile();
    Json base = Json::object();
    switch (read.status) {
        case ReadResult::Status::missing:
            break;
        case ReadResult::Status::ok:
            base = std::move(read.dictionary);
            break;
        case ReadResult::Status::failed:
            if (!readFailing_) {
                errorLine("settings: " + read.detail + "; using the values in memory");
                readFailing_ = true;
            }
            // Keep what memory holds, and do not try again until the file changes.
            loaded_ = read.identity;
            return;
        case ReadResult::Status::corrupt: {
            // Move it aside under the writers' lock, after checking it is still the same file.
            bool keep = false;
            bool movedAside = false;
            {
                LockFile lock(lockPath_);
                ReadResult again = readFile();
                read.identity = again.identity;
                if (again.status == ReadResult::Status::corrupt) {
                    keep = !contents_->empty();
                    std::string failure;
                    if (!moveAsideLocked(again.detail, keep, failure)) {
                        errorLine("settings file " + path_.string() + " " + again.detail +
                                  "; left in place (" + failure + "), " + outcome(keep));
                    } else {
                        movedAside = true;
                        read.identity = Identity{};
                    }
                } else if (again.status == ReadResult::Status::ok) {
                    base = std::move(again.dictionary);
                }
            }
            if (keep) {
                keepMemoryLocked();
                loaded_ = read.identity;
                // Writes the values back in place of the refused file (or keeps them pending
                // when the folder cannot be written).
                std::string failure;
                if (movedAside && !writeLocked(std::nullopt, failure))
                    reportWriteFailureLocked(failure);
                return;
            }
            break;
        }
    }
    readFailing_ = false;
    loaded_ = read.identity;
    applyPendingTo(base);
    contents_ = std::make_shared<const Json>(std::move(base));
}

void DefaultsFile::keepMemoryLocked() {
    for (auto it = contents_->begin(); it != contents_->end(); ++it)
        addPending({Change::Kind::set, it.key(), it.value()});
}

std::string DefaultsFile::outcome(bool keep) {
    return keep ? "keeping the values in memory" : "using defaults";
}

bool DefaultsFile::moveAsideLocked(const std::string& reason, bool keep, std::string& failure) {
    const std::string base = path_.string() + ".corrupt-" + utcStamp();
    std::string target = base;
    for (int attempt = 1; attempt < 1000; ++attempt) {
        if (renameNoReplace(path_.string(), target)) {
            errorLine("settings file " + path_.string() + " " + reason + " -- moved aside to " +
                      target + ", " + outcome(keep));
            return true;
        }
        if (errno != EEXIST) {
            failure = "rename -- " + errorText(errno);
            return false;
        }
        target = base + "-" + std::to_string(attempt);
    }
    failure = "rename -- too many earlier copies";
    return false;
}

bool DefaultsFile::readForWriteLocked(Json& out, std::string& failure) {
    ReadResult read = readFile();
    switch (read.status) {
        case ReadResult::Status::missing:
            out = Json::object();
            return true;
        case ReadResult::Status::ok:
            out = std::move(read.dictionary);
            return true;
        case ReadResult::Status::corrupt: {
            const bool keep = !contents_->empty();
            if (!moveAsideLocked(read.detail, keep, failure)) {
                failure = "settings file " + path_.string() + " " + read.detail +
                          " and cannot be moved aside (" + failure + ")";
                return false;
            }
            // What memory holds stands in for the refused file.
            if (keep)
                keepMemoryLocked();
            out = Json::object();
            return true;
        }
        case ReadResult::Status::failed:
            failure = read.detail;
            return false;
    }
    return false;
}

bool DefaultsFile::writeLocked(const std::optional<Change>& change, std::string& failure) {
    if (!makeFolders(folder_)) {
        failure = "mkdir " + folder_.string() + " -- " + errorText(errno);
        return false;
    }
    LockFile lock(lockPath_);
    if (!lock.held()) {
        failure = "lock " + lockPath_ + " -- " + errorText(lock.error());
        return false;
    }

    Json dictionary;
    if (!readForWriteLocked(dictionary, failure))
        return false;
    applyPendingTo(dictionary);
    if (change)
        applyChange(dictionary, *change);
    std::string text;
    try {
        // Invalid UTF-8 in a stored text is replaced rather than failing the whole write.
        text = dictionary.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    } catch (const std::exception& e) {
        failure = std::string("encode -- ") + e.what();
        return false;
    }

    // Temporary files left by a writer that died are removed; only writers holding the lock make
    // them, so none of them is in use now.
    const std::string tempPrefix = name_ + ".tmp-";
    if (DIR* dir = opendir(folder_.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (std::strncmp(entry->d_name, tempPrefix.c_str(), tempPrefix.size()) == 0) {
                unlinkat(dirfd(dir), entry->d_name, 0);
            }
        }
        closedir(dir);
    }

    std::string tempPath = (folder_ / (tempPrefix + "XXXXXX")).string();
    const int fd = mkostemp(tempPath.data(), O_CLOEXEC);
    if (fd < 0) {
        failure = "create " + tempPath + " -- " + errorText(errno);
        return false;
    }
    auto fail = [&](const std::string& call) {
        failure = call + " " + tempPath + " -- " + errorText(errno);
        close(fd);
        unlink(tempPath.c_str());
        return false;
    };
    if (fchmod(fd, 0600) != 0)
        return fail("fchmod");
    if (!writeAll(fd, text))
        return fail("write");
    if (fsync(fd) != 0)
        return fail("fsync");
    if (close(fd) != 0) {
        failure = "close " + tempPath + " -- " + errorText(errno);
        unlink(tempPath.c_str());
        return false;
    }
    if (rename(tempPath.c_str(), path_.c_str()) != 0) {
        failure = "rename " + tempPath + " -- " + errorText(errno);
        unlink(tempPath.c_str());
        return false;
    }
    const int dirFd = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);  // makes the rename itself durable
        close(dirFd);
    }

    loaded_ = statIdentity(path_.string());
    pending_.clear();
    contents_ = std::make_shared<const Json>(std::move(dictionary));
    return true;
}

void DefaultsFile::applyPendingTo(Json& dictionary) const {
    for (const auto& change : pending_)
        applyChange(dictionary, change);
}

void DefaultsFile::addPending(const Change& change) {
    // Keep the list short: a removeAll supersedes everything before it, and a later change of a
    // key supersedes an earlier one.
    if (change.kind == Change::Kind::removeAll) {
        pending_.clear();
    } else {
        std::erase_if(pending_, [&](const Change& earlier) {
            return earlier.kind != Change::Kind::removeAll && earlier.key == change.key;
        });
    }
    pending_.push_back(change);
}

}  // namespace vigil
