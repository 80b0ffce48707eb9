#include "platform/MountTable.h"

#include "platform/Read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace vigil {

namespace {

// Splits on single spaces; mountinfo separates fields by exactly one space and escapes spaces
// inside fields.
std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start <= line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos)
            end = line.size();
        if (end > start)
            fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

// A machine with tens of thousands of mounts (containers) still fits.
constexpr std::size_t kMountInfoLimit = 64 << 20;

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

}  // namespace

std::string unescapeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) &&
            isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value > 0 && value < 256) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::optional<MountEntry> parseMountInfoLine(std::string_view line) {
    auto fields = splitFields(line);
    // id parent maj:min root mountpoint options [optional...] - fstype source [superoptions]
    if (fields.size() < 9)
        return std::nullopt;
    size_t separator = 0;
    for (size_t i = 6; i < fields.size(); ++i) {
        if (fields[i] == "-") {
            separator = i;
            break;
        }
    }
    if (separator == 0 || separator + 2 >= fields.size())
        return std::nullopt;
    MountEntry entry;
    if (!platform::parseNumber(fields[0], entry.mountId) ||
        !platform::parseNumber(fields[1], entry.parentId))
        return std::nullopt;
    auto colon = fields[2].find(':');
    if (colon == std::string_view::npos ||
        !platform::parseNumber(fields[2].substr(0, colon), entry.major) ||
        !platform::parseNumber(fields[2].substr(colon + 1), entry.minor))
        return std::nullopt;
    entry.root = unescapeMountField(fields[3]);
    entry.mountPoint = unescapeMountField(fields[4]);
    if (entry.mountPoint.empty() || entry.mountPoint[0] != '/')
        return std::nullopt;
    entry.options = unescapeMountField(fields[5]);
    entry.fstype = unescapeMountField(fields[separator + 1]);
    entry.source = unescapeMountField(fields[separator + 2]);
    if (separator + 3 < fields.size())
        entry.superOptions = unescapeMountField(fields[separator + 3]);
    return entry;
}

std::vector<MountEntry> parseMountInfo(std::string_view text, int* malformed) {
    std::vector<MountEntry> entries;
    int bad = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        if (auto entry = parseMountInfoLine(line)) {
            entries.push_back(std::move(*entry));
        } else {
            ++bad;
        }
    }
    if (malformed)
        *malformed = bad;
    return entries;
}

bool isNetworkFileSystem(std::string_view fstype) {
    // Never destroyed, like the kept types below: the process-wide mount watch may still ask while
    // the process exits.
    static const auto* network =
        new std::set<std::string_view>{"nfs", "nfs4", "cifs", "smb3", "smbfs"};
    return network->count(fstype) > 0;
}

bool isKeptFileSystem(std::string_view fstype) {
    static const auto* kept = new std::set<std::string_view>{
        "ext2",    "ext3",  "ext4", "xfs",   "btrfs",   "f2fs",    "zfs", "vfat",
        "msdos",   "exfat", "ntfs", "ntfs3", "fuseblk", "iso9660", "udf", "hfs",
        "hfsplus", "apfs",  "ufs",  "nfs",   "nfs4",    "cifs",    "smb3"};
    return kept->count(fstype) > 0;
}

std::string MountEntry::deviceBaseName() const {
    std::string_view text = source;
    while (text.size() > 1 && text.back() == '/')
        text.remove_suffix(1);
    auto slash = text.rfind('/');
    if (slash == std::string_view::npos || slash + 1 >= text.size())
        return std::string(text);
    return std::string(text.substr(slash + 1));
}

bool MountEntry::isBlockSource() const {
    return source.rfind("/dev/", 0) == 0;
}

bool MountEntry::isNetwork() const {
    return isNetworkFileSystem(fstype);
}

std::vector<MountEntry> listedMounts(const std::vector<MountEntry>& table) {
    std::vector<MountEntry> listed;
    std::set<std::string> sources;
    for (const auto& entry : table) {
        if (!isKeptFileSystem(entry.fstype))
            continue;
        if (entry.source.empty() || entry.source == "none")
            continue;
        // Mounted elsewhere already: a bind mount, another btrfs subvolume, the same share twice.
        if (!sources.insert(entry.source).second)
            continue;
        listed.push_back(entry);
    }
    return listed;
}

std::optional<FileSystemSize> fileSystemSize(const struct statvfs& st) {
    uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
    uint64_t blocks = st.f_blocks;
    uint64_t freeBlocks = st.f_bfree;
    uint64_t available = st.f_bavail;
    if (freeBlocks > blocks || available > blocks)
        return std::nullopt;
    if (unit != 0 && blocks > static_cast<uint64_t>(INT64_MAX) / unit)
        return std::nullopt;
    FileSystemSize size;
    size.total = static_cast<int64_t>(blocks * unit);
    size.free = static_cast<int64_t>(available * unit);
    size.used = static_cast<int64_t>((blocks - freeBlocks) * unit);
    return size;
}

namespace {

// False when `path` is plainly no longer a mount point. True when that cannot be told (the path
// or its parent cannot be examined). One call per volume and sample where the kernel says whether
// a path is the root of a mount (Linux 5.8 and later); before that, a mount point is a path on
// another file system than its parent folder.
bool stillMountPoint(const std::string& path) {
    if (path == "/")
        return true;
    struct statx here {};
    if (::statx(AT_FDCWD, path.c_str(), AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC, 0, &here) != 0)
        return true;
    if (here.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
        return (here.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    struct stat parent {};
    if (::stat((path + "/..").c_str(), &parent) != 0)
        return true;
    return makedev(here.stx_dev_major, here.stx_dev_minor) != parent.st_dev;
}

// What a helper found; shared with it, since it may answer after the caller gave up.
struct StatfsAnswer {
    int result = -1;
    int error = 0;
    bool mountPoint = true;
    struct statvfs st {};
};

}  // namespace

StatfsRunner::StatfsRunner(std::chrono::milliseconds timeout, StatFunction function,
                           BlockingCalls* calls)
    : timeout_(timeout),
      function_(function ? std::move(function) : StatFunction(::statvfs)),
      calls_(calls ? *calls : BlockingCalls::shared()) {}

std::string StatfsRunner::keyOf(const std::string& path) const {
    return "statvfs " + path;
}

bool StatfsRunner::isHung(const std::string& path) {
    return calls_.isBusy(keyOf(path));
}

StatfsRunner::Outcome StatfsRunner::run(const std::string& path, bool checkMountPoint,
                                        struct statvfs* out, int* error) {
    auto answer = std::make_shared<StatfsAnswer>();
    auto call = [answer, function = function_, path, checkMountPoint] {
        errno = 0;
        answer->result = function(path.c_str(), &answer->st);
        answer->error = errno;
        if (answer->result == 0 && checkMountPoint)
            answer->mountPoint = stillMountPoint(path);
    };
    switch (calls_.run(keyOf(path), call, timeout_)) {
        case BlockingCalls::Outcome::timedOut:
            return Outcome::timedOut;
        case BlockingCalls::Outcome::stillHung:
            return Outcome::skipped;
        case BlockingCalls::Outcome::answered:
            break;
    }
    if (answer->result != 0) {
        if (error)
            *error = answer->error ? answer->error : EIO;
        return Outcome::failed;
    }
    if (!answer->mountPoint)
        return Outcome::notMountPoint;
    *out = answer->st;
    return Outcome::ok;
}

MountTable::MountTable(std::string root) : root_(std::move(root)) {}

std::string MountTable::mountInfoPath() const {
    return platform::joinRoot(root_, "/proc/self/mountinfo");
}

std::optional<std::vector<MountEntry>> MountTable::read() const {
    std::string path = mountInfoPath();
    auto text = platform::readFile(path, kMountInfoLimit);
    if (!text) {
        platform::reportError("read", text.outcome == platform::Outcome::absent
                                          ? path + ": " + std::strerror(ENOENT)
                                          : text.error);
        return std::nullopt;
    }
    int malformed = 0;
    auto entries = parseMountInfo(text.value, &malformed);
    if (malformedReported_.exchange(malformed) != malformed && malformed > 0) {
        platform::reportError("parse " + path,
                              std::to_string(malformed) + " malformed line(s) skipped");
    }
    return entries;
}

std::vector<MountEntry> MountTable::volumes() const {
    auto table = read();
    if (!table)
        return {};
    return listedMounts(*table);
}

}  // namespace vigil
