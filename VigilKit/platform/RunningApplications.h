#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AppCgroups.h"
#include "platform/DesktopEntries.h"
#include "platform/ProcessTable.h"

namespace vigil {

// One running application: a process of the user that a desktop entry names, or that leads an
// app-*.scope / app-*.service cgroup. Immutable once listed; a removal hands out a copy with
// `terminated` set.
struct RunningApplication {
    pid_t pid = 0;
    uint64_t startTime = 0;        // clock ticks after boot: tells a reused pid apart
    std::string bundleIdentifier;  // the desktop file ID (or the cgroup's application ID)
    std::string localizedName;     // the entry's Name, else the process name
    std::string icon;              // the entry's Icon (theme name or path); may be empty
    // The folder of the app unit's cgroup when the list comes from the user's cgroup tree: its
    // figures are the group's. Empty when the process was found by the /proc walk.
    std::string cgroup;
    bool terminated = false;

    bool isSameProcess(const RunningApplication& other) const {
        return pid == other.pid && startTime == other.startTime;
    }
};
using RunningApplicationPtr = std::shared_ptr<const RunningApplication>;

// The application ID that a systemd unit of a launched application carries:
// "app-gnome-org.gnome.Terminal-4242.scope" -> "gnome-org.gnome.Terminal" and, without the
// launcher, "org.gnome.Terminal"; systemd's "\x2d" escapes are undone. Empty for other units.
std::vector<std::string> applicationIdsOfUnit(std::string_view unit);

namespace platform {

// The workspace's list of running applications. Where the user's service manager keeps its
// applications in app-*.scope / app-*.service groups of the cgroup v2 tree, the list is those
// groups, each led by its first process; elsewhere it is read from /proc below a root directory,
// walking the processes only when tasks came or went and reading again only those new or due.
// Each
// poll() reads the list again and reports what changed to the observer: an insertion (the new
// applications) or a removal (copies of the gone ones, marked terminated). Not thread-safe: the
// owner calls it from one thread (the main queue).
class RunningApplications {
  public:
    enum class ChangeKind { setting = 1, insertion = 2, removal = 3, replacement = 4 };
    struct Change {
        ChangeKind kind;
        std::vector<RunningApplicationPtr> values;
    };
    using Observer = std::function<void(const Change&)>;

    struct Options {
        std::string root = "/";
        // The applications directories; empty: from the environment.
        std::optional<std::vector<std::string>> applicationDirectories;
        uid_t uid = ::getuid();
        // The folder of the user's app units (".../user@UID.service/app.slice"). Unset: found
        // below `root` (AppCgroups::locate); empty: none, the /proc walk only.
        std::optional<std::string> appCgroups;
    };

    RunningApplications();
    explicit RunningApplications(Options options);
    RunningApplications(const RunningApplications&) = delete;
    RunningApplications& operator=(const RunningApplications&) = delete;

    // The list as last read (read now if it never was).
    std::vector<RunningApplicationPtr> runningApplications();
    // `observer` hears every change that poll() finds.
    void observe(Observer observer);
    // Reads the list again and reports what changed.
    void poll();

    // Whether a parent pid stands for the launcher: pid 1, or the user's service manager.
    bool isLauncher(pid_t ppid) const;
    // Whether the last poll listed the app units of the cgroup tree (else it walked /proc).
    bool listsCgroups() const { return listedGroups_; }

    const ProcessTable& processes() const { return processes_; }

  private:
    std::vector<RunningApplicationPtr> scan();
    std::vector<RunningApplicationPtr> scanProcesses();
    // The app units, or nullopt when the tree holds none (the /proc walk then stands in).
    std::optional<std::vector<RunningApplicationPtr>> scanGroups();
    // Finds the processes that came: walks the listing when the task counters are unknown, every
    // few polls, and when more pids were given out than are worth looking up one by one; looks
    // up the pids given out since the last poll otherwise.
    void list();
    void walk(const std::optional<ProcessTable::TaskCounters>& counters);
    void probe(uint32_t first, uint32_t last);
    // Learns one listed (or looked-up) process; drops it when it is gone.
    bool learnListed(const ProcessEntry& entry, bool isNew);
    // Reads again the known processes that are due and were not read by this poll's listing.
    void recheck();

    Options options_;
    ProcessTable processes_;
    DesktopEntries desktop_;
    std::vector<RunningApplicationPtr> current_;
    bool scanned_ = false;
    std::set<pid_t> serviceManagers_;
    // What the polls learnt of each process, by pid: kept while the pid stays listed with the same
    // start time and name. A process whose folder keeps its inode is looked at again only every
    // few polls (its name changes on exec, it may become a zombie or change its user).
    struct Known {
        uint64_t inode = 0;  // of its /proc folder
        uint64_t startTime = 0;
        std::string comm;
        bool mine = false;          // owned by the user (else only its owner is checked again)
        bool kernelThread = false;  // never read again while its folder stays
        std::string argv0;
        std::string unit;
        uint64_t firstSeen = 0;
        uint64_t seen = 0;       // the last poll that listed it
        uint64_t readAt = 0;     // the last poll that read its files
        bool candidate = false;  // the user's, running a program: judged in this poll
        ProcessStat stat;        // as of this poll (candidates only)
        // The last judgement and what it rested on; judged again when any of these changed.
        bool judged = false;
        pid_t judgedPpid = 0;
        std::string judgedUnit;
        std::optional<std::string> judgedParentUnit;  // nullopt: the parent is no candidate
        RunningApplicationPtr app;                    // null: no application
    };
    // What is known of a process at first sight, before its owner and command line.
    Known firstFacts(const ProcessEntry& entry, const ProcessStat& stat) const;
    // Brings `facts` up to date for one listed process; false when it is gone.
    bool learn(const ProcessEntry& entry, Known& facts, bool isNew);
    bool isDue(pid_t pid, const Known& facts) const;
    RunningApplicationPtr judge(pid_t pid, const Known& facts, bool leads,
                                const std::string& cgroup = {}) const;
    // One app unit and the process that leads it: the one whose parent is outside the group
    // (the earliest started, should there be several).
    struct Group {
        pid_t pid = 0;
        Known facts;
        RunningApplicationPtr app;
    };
    // Whether the group's leader still runs the program it was judged by.
    bool leaderStands(const Group& group) const;
    Group leadGroup(const AppGroup& unit) const;
    std::optional<AppCgroups> appTree_;
    std::map<std::string, Group> groups_;  // by folder
    bool listedGroups_ = false;
    std::map<pid_t, Known> known_;
    uint64_t generation_ = 0;
    std::optional<ProcessTable::TaskCounters> listedAt_;  // read just before the walk
    uint64_t listedGeneration_ = 0;
    uint32_t probedTo_ = 0;  // the last pid looked up
    Observer observer_;
};

}  // namespace platform

}  // namespace vigil
