#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vigil {
class ProcessTable;
}

namespace vigil::platform {

// The mount point of the cgroup v2 hierarchy in a /proc/<pid>/mountinfo text, with the root of
// the hierarchy that the mount shows (the fourth field: "/" unless a subtree is mounted);
// nullopt when none is mounted. Octal escapes ("\040") are undone.
struct Cgroup2Mount {
    std::string mountPoint;
    std::string hierarchyRoot;
};
std::optional<Cgroup2Mount> parseCgroup2Mount(std::string_view mountinfo);

// An app-*.scope or app-*.service: a unit that systemd made for one launched application.
bool isAppUnit(std::string_view unit);

// One application unit of the user's service manager: an app-*.scope or app-*.service group.
struct AppGroup {
    std::string path;  // the group's folder
    std::string unit;  // its last component, the unit's name
};

// What a group used, its descendants and exited children included: processor time from
// cpu.stat, memory from memory.current where the memory controller gives it to the group, else
// the resident memory of the group's processes summed (`memoryFromProcesses`).
struct GroupUsage {
    double cputime = 0;  // milliseconds
    uint64_t mem = 0;    // bytes
    int32_t threads = 0;
    bool memoryFromProcesses = false;
};

// The user's applications as systemd accounts them: each launched application runs in its own
// app-*.scope or app-*.service below user@UID.service/app.slice. Reading a few files per group
// replaces a walk of every process. Stateless; any thread.
class AppCgroups {
  public:
    // `tree`: the folder holding the app units (".../user@UID.service/app.slice").
    explicit AppCgroups(std::string tree);

    // The app.slice of `uid` below `root` ("/" on a real machine): the user@UID.service that
    // this process itself runs under, else the usual place below user.slice; nullopt when the
    // cgroup v2 hierarchy or the folder is not there.
    static std::optional<std::string> locate(const std::string& root, uid_t uid);

    // The app units below the tree; slices are looked into, units are not (their children are
    // part of them).
    std::vector<AppGroup> groups() const;
    // The processes of a group (cgroup.procs), in the order the kernel lists them.
    static std::vector<pid_t> processes(const std::string& group);
    // nullopt when the group is gone or its cpu.stat cannot be read.
    static std::optional<GroupUsage> usage(const std::string& group, const ProcessTable& table);

    const std::string& tree() const { return tree_; }

  private:
    std::string tree_;
};

// "usage_usec <n>" of a cpu.stat text, in microseconds.
std::optional<uint64_t> parseCpuStatUsage(std::string_view text);

}  // namespace vigil::platform
