#pragma once

#include <sys/statvfs.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/BlockingCalls.h"

namespace vigil {

// One line of /proc/self/mountinfo, with the octal escapes (\040 and friends) decoded.
struct MountEntry {
    int mountId = 0;
    int parentId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;        // the part of the source file system mounted here ("/" for all of it)
    std::string mountPoint;  // where it is mounted
    std::string options;     // per-mount options
    std::string fstype;      // file-system type ("ext4", "nfs4", "fuse.sshfs" ...)
    std::string source;      // mount source ("/dev/sda1", "server:/export", "tmpfs")
    std::string superOptions;

    // Text after the last "/" of the source ("sda1" for "/dev/sda1"; the source itself without
    // "/").
    std::string deviceBaseName() const;
    // The source is a path under /dev.
    bool isBlockSource() const;
    bool isNetwork() const;
};

// Decodes the kernel's octal escapes ("\040" for a space, "\011", "\012", "\134"). A backslash not
// followed by three octal digits is kept as it is.
std::string unescapeMountField(std::string_view field);

// Parses one mountinfo line; nullopt when it does not have the documented shape.
std::optional<MountEntry> parseMountInfoLine(std::string_view line);

// Parses a whole mountinfo text in table order. A malformed line is skipped; when `malformed` is
// given it receives how many were.
std::vector<MountEntry> parseMountInfo(std::string_view text, int* malformed = nullptr);

// The file-system types that are listed as volumes (local disk file systems, optical media, network
// shares). Pseudo and virtual file systems, overlays, tmpfs and the automounter are not.
bool isKeptFileSystem(std::string_view fstype);
bool isNetworkFileSystem(std::string_view fstype);

// The mounts that are volumes: kept types only, and a source mounted more than once (bind mounts,
// btrfs subvolumes, the same share twice) only at its first mount point.
std::vector<MountEntry> listedMounts(const std::vector<MountEntry>& table);

// Reads <root>/proc/self/mountinfo.
class MountTable {
  public:
    explicit MountTable(std::string root = "/");

    const std::string& root() const { return root_; }
    std::string mountInfoPath() const;

    // The whole table in kernel order; nullopt (and one error line) when it cannot be read.
    // Malformed lines are skipped, with one error line whenever their count changes.
    std::optional<std::vector<MountEntry>> read() const;
    // The listed volumes; empty when the table cannot be read.
    std::vector<MountEntry> volumes() const;

  private:
    std::string root_;
    mutable std::atomic<int> malformedReported_{0};
};

// Capacity of a mounted file system, in bytes.
struct FileSystemSize {
    int64_t total = 0;
    int64_t free = 0;
    int64_t used = 0;
};

// Converts statvfs figures to bytes, as df shows them: total = blocks, used = blocks - free blocks,
// free = blocks available to unprivileged users (the root reserve of ext4 and others is not free
// space for the user), each x the fragment size. nullopt when the figures overflow or contradict
// each other.
std::optional<FileSystemSize> fileSystemSize(const struct statvfs& st);

// statvfs with a time-out, for every file system: any of them can hang (a network share whose
// server went away, a FUSE file system whose daemon stopped). The call runs on a helper thread of
// BlockingCalls; when it does not answer within the time-out the mount is remembered as hung and
// skipped, without another call, until that call returns.
class StatfsRunner {
  public:
    using StatFunction = std::function<int(const char*, struct statvfs*)>;
    enum class Outcome { ok, failed, timedOut, skipped, notMountPoint };

    // `calls` runs the helpers; BlockingCalls::shared() when null.
    explicit StatfsRunner(std::chrono::milliseconds timeout = std::chrono::seconds(2),
                          StatFunction function = nullptr, BlockingCalls* calls = nullptr);

    // Runs statvfs on `path`. With `checkMountPoint`, a path that lies on the same file system as
    // its parent folder (unmounted since it was listed) gives notMountPoint. On `failed`, `error`
    // is the errno.
    Outcome run(const std::string& path, bool checkMountPoint, struct statvfs* out, int* error);

    // True while the last call on `path` has not answered.
    bool isHung(const std::string& path);

  private:
    std::string keyOf(const std::string& path) const;

    std::chrono::milliseconds timeout_;
    StatFunction function_;
    BlockingCalls& calls_;
};

}  // namespace vigil
