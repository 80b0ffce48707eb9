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

// The workspace's list of running applications, read from /proc below a root directory. Each
// poll() reads the list again and reports what changed to the observer: an insertion (the new
// applications) or a removal (copies of the gone ones, marked terminated). Not thread-safe: the
// owner calls it from one thread (the main queue).
class Workspace {
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
    };

    Workspace();
    explicit Workspace(Options options);
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // The list as last read (read now if it never was).
    std::vector<RunningApplicationPtr> runningApplications();
    // `observer` hears every change that poll() finds.
    void observe(Observer observer);
    // Reads the list again and reports what changed.
    void poll();

    // Whether a parent pid stands for the launcher: pid 1, or the user's service manager.
    bool isLauncher(pid_t ppid) const;

    const ProcessTable& processes() const { return processes_; }

  private:
    std::vector<RunningApplicationPtr> scan();

    Options options_;
    ProcessTable processes_;
    DesktopEntries desktop_;
    std::vector<RunningApplicationPtr> current_;
    bool scanned_ = false;
    std::set<pid_t> serviceManagers_;
    // What the last polls learnt of each process of the user.
    struct Known {
        uint64_t startTime = 0;
        std::string comm;
        std::string argv0;
        std::string unit;
        uint64_t firstSeen = 0;
    };
    std::map<pid_t, Known> known_;
    uint64_t generation_ = 0;
    Observer observer_;
};

}  // namespace platform

}  // namespace vigil
