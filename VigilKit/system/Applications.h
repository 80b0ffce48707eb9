#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/RunningApplications.h"
#include "runtime/Mutex.h"
#include "runtime/Trackable.h"
#include "system/SystemResource.h"

namespace vigil {

class Timer;

// The user's running applications with their processor share and resident memory, ranked for the
// top-applications tables. The table follows the workspace's list (re-read every 2 s on the main
// queue); update() samples the figures on the background queue: an application in an app unit of
// the cgroup tree is its group (cpu.stat, and memory.current or, where the memory controller is not
// on that hierarchy, its processes' resident memory summed), any other is its own process.
// Auxiliary processes are folded into the application they belong to; a helper whose owner is not
// known yet keeps its figures while the others refresh. The table is guarded by one Mutex; readers
// get copies.
class Applications : public SystemResource, public Trackable {
  public:
    class Process {
      public:
        std::shared_ptr<const RunningApplication> app;
        std::optional<std::string> icon;  // the entry's icon name or path
        uint64_t mem = 0;                 // bytes, its auxiliary processes' included
        double cpu = 0;                   // percent, its auxiliary processes' included
        int32_t pid = 0;
        int32_t ppid = -1;
        // The entry this one is counted under. Copies handed to readers carry none (they would
        // share a live table entry); `parentPid` tells which one it was.
        std::shared_ptr<Process> parent;
        int32_t parentPid = -1;
        double prevcputime = 0;  // ms
        int64_t prevtime = 0;    // ms on the monotonic clock
        bool isUnResolvedName = false;
        // The process's own figures of the last successful sample, before folding.
        uint64_t ownMem = 0;
        double ownCpu = 0;

        // The localised name, else the bundle identifier, else "-".
        std::string name() const;
    };

    struct Options {
        platform::RunningApplications::Options workspace;
        double interval = 2.0;  // the workspace re-read; 0: only on poll()
        // Leave this process out of the first list (the widget does not list itself).
        pid_t selfPid = ::getpid();
    };

    Applications();
    explicit Applications(Options options);
    ~Applications() override;
    Applications(const Applications&) = delete;
    Applications& operator=(const Applications&) = delete;

    SystemResourceType type() const override { return SystemResourceType::app; }
    void update() override;

    // The three applications with the highest processor share / the most memory.
    std::vector<Process> cpu() const;
    std::vector<Process> mem() const;
    // A copy of the whole table in its order.
    std::vector<Process> processes() const;

    int64_t count() const { return 0; }
    static int64_t activeLogicalCores();

    // The workspace's change report: insertions add applications, removals drop them.
    void observeValue(const platform::RunningApplications::Change& change);
    // Reads the workspace's list again now (the timer does it every interval).
    void pollRunningApplications();

  private:
    enum class TopList { cpu, mem };
    std::vector<Process> top(TopList list) const;
    void sync(const std::vector<RunningApplicationPtr>& apps);
    std::shared_ptr<Process> makeProcess(const RunningApplicationPtr& app) const;
    // The figures of an application: its unit's group where it has one, else its process's.
    std::optional<ApplicationAttributes> figuresOf(const RunningApplication& app) const;
    void takeOwnFigures(Process& process, const ApplicationAttributes& figures, int64_t now) const;
    // Counts waiting helpers under their owner once their name tells it.
    void resolveWaitingHelpers();
    void associateNamedParent(const std::shared_ptr<Process>& process, const std::string& owner);
    static Process copyOf(const Process& process);

    Options options_;
    platform::RunningApplications running_;
    mutable Mutex mutex_;
    std::vector<std::shared_ptr<Process>> prevProcesses_;
    int64_t unresolvedNamedProcesses_ = 0;
    std::unique_ptr<Timer> timer_;
};

// The owner's name of an auxiliary process named "<app> Web Content" or "<app> Networking";
// empty for other names.
std::string auxiliaryOwnerName(const std::string& name);

}  // namespace vigil
