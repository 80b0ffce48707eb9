#include "system/Applications.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>

#include "C/system/Time.h"
#include "platform/AppCgroups.h"
#include "runtime/Timer.h"

namespace vigil {

namespace {

// WebKitGTK's web-content and network helpers, whose owner is not known by their names.
bool isWebKitHelper(const std::string& name) {
    return name.starts_with("WebKitWebProcess") || name.starts_with("WebKitNetworkProcess");
}

}  // namespace

std::string auxiliaryOwnerName(const std::string& name) {
    size_t drop = 0;
    if (name.ends_with(" Web Content")) {
        drop = 2;
    } else if (name.ends_with(" Networking")) {
        drop = 1;
    } else {
        return {};
    }
    std::vector<std::string> words;
    std::istringstream stream(name);
    for (std::string word; stream >> word;)
        words.push_back(word);
    if (words.size() <= drop)
        return {};
    words.resize(words.size() - drop);
    std::string owner = words.front();
    for (size_t i = 1; i < words.size(); ++i)
        owner += " " + words[i];
    return owner;
}

std::string Applications::Process::name() const {
    if (app && !app->localizedName.empty())
        return app->localizedName;
    if (app && !app->bundleIdentifier.empty())
        return app->bundleIdentifier;
    return "-";
}

int64_t Applications::activeLogicalCores() {
    static const int64_t cores = [] {
        const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
        return static_cast<int64_t>(online > 0 ? online : 1);
    }();
    return cores;
}

Applications::Applications() : Applications(Options{}) {}

Applications::Applications(Options options)
    : options_(std::move(options)), running_(options_.workspace) {
    activeLogicalCores();
    auto apps = running_.runningApplications();
    const auto self = std::find_if(apps.begin(), apps.end(), [&](const RunningApplicationPtr& a) {
        return a->pid == options_.selfPid;
    });
    if (self != apps.end())
        apps.erase(self);
    sync(apps);

    running_.observe(
        [this](const platform::RunningApplications::Change& change) { observeValue(change); });
    if (options_.interval > 0) {
        std::weak_ptr<void> alive = lifetimeToken();
        timer_ = std::make_unique<Timer>(options_.interval, /*background=*/false, [this, alive] {
            if (alive.lock())
                pollRunningApplications();
        });
        timer_->start();
    }
}

Applications::~Applications() {
    timer_.reset();
}

void Applications::pollRunningApplications() {
    running_.poll();
}

void Applications::observeValue(const platform::RunningApplications::Change& change) {
    switch (change.kind) {
        case platform::RunningApplications::ChangeKind::insertion:
        case platform::RunningApplications::ChangeKind::removal:
            sync(change.values);
            break;
        default:
            break;
    }
}

std::optional<ApplicationAttributes> Applications::figuresOf(const RunningApplication& app) const {
    const ProcessTable& table = running_.processes();
    if (!app.cgroup.empty()) {
        const auto usage = platform::AppCgroups::usage(app.cgroup, table);
        if (!usage)
            return std::nullopt;
        return ApplicationAttributes{usage->cputime, usage->mem, usage->threads};
    }
    ApplicationAttributes attributes;
    if (!table.applicationAttributes(app.pid, &attributes))
        return std::nullopt;
    return attributes;
}

std::shared_ptr<Applications::Process> Applications::makeProcess(
    const RunningApplicationPtr& app) const {
    auto process = std::make_shared<Process>();
    process->app = app;
    if (!app->icon.empty())
        process->icon = app->icon;
    process->pid = app->pid;
    if (!app->cgroup.empty()) {
        // The unit's group holds its children already, whoever started it.
        process->ppid = 1;
    } else {
        process->ppid = running_.processes().parentPid(app->pid);
        // Started by the launcher: pid 1 or the user's service manager.
        if (process->ppid > 1 && running_.isLauncher(process->ppid))
            process->ppid = 1;
    }
    if (const auto figures = figuresOf(*app)) {
        process->prevcputime = figures->cputime;
        process->prevtime = Time_monotonicMilli();
    }
    return process;
}

void Applications::associateNamedParent(const std::shared_ptr<Process>& process,
                                        const std::string& owner) {
    if (owner.empty())
        return;
    for (const auto& candidate : prevProcesses_) {
        if (candidate != process && candidate->name() == owner) {
            process->parent = candidate;
            return;
        }
    }
}

void Applications::sync(const std::vector<RunningApplicationPtr>& apps) {
    for (const auto& app : apps) {
        if (!app)
            continue;
        if (app->terminated) {
            mutex_.synchronise([&] {
                const auto it = std::find_if(
                    prevProcesses_.begin(), prevProcesses_.end(),
                    [&](const std::shared_ptr<Process>& p) { return p->app->isSameProcess(*app); });
                if (it == prevProcesses_.end())
                    return;
                const auto gone = *it;
                prevProcesses_.erase(it);
                // An unresolved entry that leaves is no longer waited for, and entries counted
                // under it stand on their own again.
                if (gone->isUnResolvedName) {
                    unresolvedNamedProcesses_ = std::max<int64_t>(0, unresolvedNamedProcesses_ - 1);
                }
                for (const auto& p : prevProcesses_) {
                    if (p->parent == gone)
                        p->parent.reset();
                }
            });
            continue;
        }
        // Reading the process happens outside the lock.
        auto process = makeProcess(app);
        const std::string name = process->name();
        mutex_.synchronise([&] {
            if (process->ppid < 2) {
                const std::string owner = auxiliaryOwnerName(name);
                if (!owner.empty()) {
                    associateNamedParent(process, owner);
                } else if (isWebKitHelper(name)) {
                    process->isUnResolvedName = true;
                    ++unresolvedNamedProcesses_;
                }
            } else {
                for (const auto& candidate : prevProcesses_) {
                    if (candidate->pid == process->ppid) {
                        process->parent = candidate;
                        break;
                    }
                }
            }
            prevProcesses_.push_back(process);
        });
    }
}

void Applications::resolveWaitingHelpers() {
    if (unresolvedNamedProcesses_ < 1)
        return;
    for (const auto& p : prevProcesses_) {
        if (!p->isUnResolvedName)
            continue;
        const std::string owner = auxiliaryOwnerName(p->name());
        if (owner.empty())
            continue;
        associateNamedParent(p, owner);
        p->isUnResolvedName = false;
        --unresolvedNamedProcesses_;
    }
    if (unresolvedNamedProcesses_ < 0)
        unresolvedNamedProcesses_ = 0;
}

void Applications::takeOwnFigures(Process& p, const ApplicationAttributes& figures,
                                  int64_t now) const {
    p.ownMem = figures.mem;
    const double deltaCpu = figures.cputime - p.prevcputime;
    p.prevcputime = figures.cputime;
    const int64_t deltaTime = now - p.prevtime;
    p.prevtime = now;
    const int64_t divisor =
        figures.threads < 2 ? 1 : std::min<int64_t>(figures.threads, activeLogicalCores());
    double share = 0;
    // A counter that went down (a reused pid) or no time passed gives 0.
    if (deltaTime > 0 && deltaCpu > 0) {
        share = deltaCpu * 100.0 / static_cast<double>(deltaTime) / static_cast<double>(divisor);
    }
    p.ownCpu = std::isfinite(share) ? share : 0;
}

void Applications::update() {
    // The entries are read outside the lock: the readers on the main thread never wait for the
    // files of the whole table.
    struct Sample {
        std::shared_ptr<Process> process;
        std::optional<ApplicationAttributes> figures;
    };
    std::vector<Sample> samples = mutex_.synchronise([&] {
        resolveWaitingHelpers();
        std::vector<Sample> due;
        for (const auto& p : prevProcesses_) {
            // A helper still waiting for its owner keeps its figures until it is resolved.
            if (!p->isUnResolvedName)
                due.push_back({p, std::nullopt});
        }
        return due;
    });
    for (Sample& sample : samples)
        sample.figures = figuresOf(*sample.process->app);
    const int64_t now = Time_monotonicMilli();
    mutex_.synchronise([&] {
        for (const Sample& sample : samples) {
            // A process that could not be read keeps its last own figures.
            if (sample.figures)
                takeOwnFigures(*sample.process, *sample.figures, now);
        }
        for (const auto& p : prevProcesses_) {
            p->cpu = p->ownCpu;
            p->mem = p->ownMem;
        }
        for (const auto& p : prevProcesses_) {
            if (!p->parent || p->isUnResolvedName)
                continue;
            p->parent->cpu += p->cpu;
            p->parent->mem += p->mem;
            p->cpu = 0;
            p->mem = 0;
        }
    });
}

Applications::Process Applications::copyOf(const Process& process) {
    Process copy = process;
    copy.parentPid = process.parent ? process.parent->pid : -1;
    copy.parent.reset();
    return copy;
}

std::vector<Applications::Process> Applications::top(TopList list) const {
    std::vector<Process> sorted = mutex_.synchronise([&] {
        std::vector<Process> copies;
        copies.reserve(prevProcesses_.size());
        for (const auto& p : prevProcesses_)
            copies.push_back(copyOf(*p));
        return copies;
    });
    const auto byCpu = [](const Process& a, const Process& b) { return a.cpu > b.cpu; };
    const auto byMem = [](const Process& a, const Process& b) { return a.mem > b.mem; };
    const size_t n = std::min<size_t>(3, sorted.size());
    if (list == TopList::cpu) {
        std::partial_sort(sorted.begin(), sorted.begin() + n, sorted.end(), byCpu);
    } else {
        std::partial_sort(sorted.begin(), sorted.begin() + n, sorted.end(), byMem);
    }
    sorted.resize(n);
    return sorted;
}

std::vector<Applications::Process> Applications::cpu() const {
    return top(TopList::cpu);
}
std::vector<Applications::Process> Applications::mem() const {
    return top(TopList::mem);
}

std::vector<Applications::Process> Applications::processes() const {
    return mutex_.synchronise([&] {
        std::vector<Process> copies;
        for (const auto& p : prevProcesses_)
            copies.push_back(copyOf(*p));
        return copies;
    });
}

}  // namespace vigil
