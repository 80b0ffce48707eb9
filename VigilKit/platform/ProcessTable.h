#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Procfs.h"

namespace vigil {

// Reads a kernel file of at most `limit` bytes whole. Empty when it cannot be opened or read; then
// `error` (when given) receives errno. Files of /proc and /sys report a size of 0 or 4096 whatever
// they hold, so this reads until the end rather than trusting the size.
std::optional<std::string> readSmallFile(const std::string& path, size_t limit = 65536,
                                         int* error = nullptr);

// The fields of /proc/<pid>/stat that the applications resource needs.
struct ProcessStat {
    pid_t pid = 0;
    std::string comm;  // the name between the parentheses, at most 15 bytes, may hold blanks
    char state = '?';
    pid_t ppid = 0;
    uint64_t flags = 0;  // the kernel's PF_* flags of the task
    uint64_t utime = 0;  // clock ticks
    uint64_t stime = 0;
    int64_t threads = 0;
    uint64_t startTime = 0;  // clock ticks after boot
    // A thread that does not lead its process: reachable as /proc/<tid>, never listed there.
    bool thread = false;

    // Kernel threads never exec, change parent or join a user's cgroup.
    bool isKernelThread() const { return (flags & kKernelThreadFlag) != 0; }
    static constexpr uint64_t kKernelThreadFlag = 0x00200000;  // PF_KTHREAD
};

// Parses the whole line of /proc/<pid>/stat; empty when it is not of that form. The name may hold
// blanks and parentheses: it ends at the last ')'.
std::optional<ProcessStat> parseProcessStat(std::string_view text);
// Parses /proc/<pid>/statm: the resident page count (second field).
std::optional<uint64_t> parseStatmResident(std::string_view text);
// The cgroup v2 path of a process ("0::/user.slice/..."), from /proc/<pid>/cgroup; empty when the
// process is in no unified hierarchy.
std::optional<std::string> parseUnifiedCgroup(std::string_view text);

// Per-process figures: user + system processor time, resident memory, threads.
struct ApplicationAttributes {
    double cputime = 0;  // milliseconds
    uint64_t mem = 0;    // resident bytes
    int32_t threads = 0;
};

// One numbered folder of /proc: a process, and the inode number of its folder. Another process
// under the same pid has another inode (the number may also change while the process runs, when
// the kernel drops and makes the folder's entry again).
struct ProcessEntry {
    pid_t pid = 0;
    uint64_t inode = 0;
};

// The process table under a root directory ("/" on a real machine: /proc/<pid>/...). A pid that
// vanishes between listing and reading is a failed read, never an error line.
class ProcessTable {
  public:
    explicit ProcessTable(std::string root = "/");

    // The machine's thread total and the pid given out last (/proc/loadavg). A task created
    // takes a new pid and one reaped lowers the total, so while both stay the same the list of
    // processes does too.
    struct TaskCounters {
        uint32_t threads = 0;
        uint32_t lastPid = 0;
        bool operator==(const TaskCounters&) const = default;
    };
    // nullopt when they cannot be read or the kernel does not give the last pid. Keeps the file
    // open between calls: one caller at a time.
    std::optional<TaskCounters> taskCounters();

    std::vector<pid_t> pids() const;
    // The processes with their folders' inodes, by pid.
    std::vector<ProcessEntry> entries() const;
    std::optional<ProcessStat> stat(pid_t pid) const;
    std::optional<uint64_t> residentBytes(pid_t pid) const;
    // The owner of /proc/<pid> (the real user of the process).
    std::optional<uid_t> owner(pid_t pid) const;
    // argv as the kernel keeps it in /proc/<pid>/cmdline (empty for kernel threads and zombies).
    std::vector<std::string> commandLine(pid_t pid) const;
    std::optional<std::string> cgroup(pid_t pid) const;

    // 1 with the record filled, 0 when the pid is below 2 or cannot be read.
    int applicationAttributes(pid_t pid, ApplicationAttributes* out) const;
    // The parent's pid, or -1 when the pid is below 2 or cannot be read.
    pid_t parentPid(pid_t pid) const;

    const std::string& root() const { return root_; }

  private:
    std::string procPath(pid_t pid, const char* file) const;

    std::string root_;
    platform::Procfs procfs_;
    long ticksPerSecond_;
    long pageSize_;
};

}  // namespace vigil

// The collector layer's per-process functions, on the machine's own /proc.
int getApplicationAttributes(pid_t pid, vigil::ApplicationAttributes* attributes);
pid_t getParentPid(pid_t pid);
