#include "platform/Workspace.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace vigil {

namespace {

std::string basenameOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// systemd escapes '-' and other bytes of a unit name as "\xNN".
std::string unescapeUnit(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool isAppUnit(std::string_view unit) {
    return unit.starts_with("app-") && (unit.ends_with(".scope") || unit.ends_with(".service"));
}

std::string lastComponent(std::string_view path) {
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    return basenameOf(path);
}

constexpr uint64_t kCgroupSettlePolls = 5;
// A process whose folder kept its inode is read again on one poll in this many (spread over the
// polls by pid).
constexpr uint64_t kRecheckPolls = 4;
// The /proc listing is walked at least this often, whatever the task counters say.
constexpr uint64_t kWalkEveryPolls = 15;

}  // namespace

std::vector<std::string> applicationIdsOfUnit(std::string_view unit) {
    std::vector<std::string> ids;
    if (!isAppUnit(unit))
        return ids;
    std::string_view rest = unit.substr(4);
    if (rest.ends_with(".scope")) {
        rest.remove_suffix(6);
        // A scope ends in "-<random>".
        const size_t dash = rest.rfind('-');
        if (dash != std::string_view::npos && dash > 0)
            rest = rest.substr(0, dash);
    } else {
        rest.remove_suffix(8);
        const size_t at = rest.find('@');
        if (at != std::string_view::npos)
            rest = rest.substr(0, at);
    }
    if (rest.empty())
        return ids;
    ids.push_back(unescapeUnit(rest));
    // "app[-<launcher>]-<ApplicationID>": the ID without the launcher.
    const size_t dash = rest.find('-');
    if (dash != std::string_view::npos && dash + 1 < rest.size()) {
        ids.push_back(unescapeUnit(rest.substr(dash + 1)));
    }
    return ids;
}

platform::Workspace::Workspace() : Workspace(Options{}) {}

platform::Workspace::Workspace(Options options)
    : options_(std::move(options)),
      processes_(options_.root),
      desktop_(options_.applicationDirectories
                   ? DesktopEntries(options_.root, *options_.applicationDirectories)
                   : DesktopEntries(options_.root)) {}

bool platform::Workspace::isLauncher(pid_t ppid) const {
    return ppid == 1 || serviceManagers_.contains(ppid);
}

bool platform::Workspace::isDue(pid_t pid, const Known& facts) const {
    return generation_ - facts.firstSeen < kCgroupSettlePolls ||
           (generation_ + static_cast<uint64_t>(pid)) % kRecheckPolls == 0;
}

platform::Workspace::Known platform::Workspace::firstFacts(const ProcessEntry& entry,
                                                           const ProcessStat& stat) const {
    Known facts;
    facts.inode = entry.inode;
    facts.startTime = stat.startTime;
    facts.comm = stat.comm;
    facts.firstSeen = generation_;
    return facts;
}

bool platform::Workspace::learn(const ProcessEntry& entry, Known& facts, bool isNew) {
    const pid_t pid = entry.pid;
    // The same folder, and not yet due: the same process, as last seen. Another process under the
    // same pid comes with another folder. A kernel thread stays what it was.
    if (!isNew && facts.inode == entry.inode && (facts.kernelThread || !isDue(pid, facts)))
        return true;
    facts.candidate = false;
    if (facts.kernelThread)
        isNew = true;  // its folder changed: whatever runs under the pid now is learnt afresh
    if (!isNew && !facts.mine) {
        // Another user's process concerns us only once its owner changes (a new process under
        // the same pid, or one that changed its user).
        const auto owner = processes_.owner(pid);
        if (!owner)
            return false;
        if (*owner != options_.uid) {
            facts.inode = entry.inode;
            return true;
        }
        isNew = true;
    }
    auto stat = processes_.stat(pid);
    if (!stat)
        return false;  // gone
    if (stat->isKernelThread()) {
        facts = firstFacts(entry, *stat);
        facts.kernelThread = true;
        return true;
    }
    // The command line and cgroup of a process seen before are kept, as long as it is the same
    // process (start time) running the same program (the name changes on exec).
    if (isNew || facts.startTime != stat->startTime || facts.comm != stat->comm) {
        const auto owner = processes_.owner(pid);
        if (!owner)
            return false;
        facts = firstFacts(entry, *stat);
        facts.mine = *owner == options_.uid;
        if (!facts.mine)
            return true;
    }
    // Asked again while empty: a process caught in exec has its new name before its new
    // arguments, and would otherwise never be judged.
    if (facts.argv0.empty()) {
        const auto argv = processes_.commandLine(pid);
        facts.argv0 = argv.empty() ? std::string() : argv[0];
    }
    facts.inode = entry.inode;
    if (stat->state == 'Z' || stat->state == 'X')
        return true;  // a zombie: listed, but no application
    // The cgroup is read again for a few polls: launchers move a new process into its scope.
    if (generation_ - facts.firstSeen < kCgroupSettlePolls) {
        const auto cgroup = processes_.cgroup(pid);
        facts.unit = cgroup ? lastComponent(*cgroup) : std::string();
    }
    facts.candidate = !facts.argv0.empty();  // a process without a command line runs no program
    facts.stat = std::move(*stat);
    return true;
}

RunningApplicationPtr platform::Workspace::judge(pid_t pid, const Known& facts, bool leads) const {
    const std::string argv0 = basenameOf(facts.argv0);
    const DesktopEntry* entry = desktop_.match(argv0);
    if (!entry) {
        // Programs that rewrite their title ("prog: worker") keep the name in front.
        const std::string first = basenameOf(facts.argv0.substr(0, facts.argv0.find(' ')));
        if (first != argv0)
            entry = desktop_.match(first);
    }
    if (!entry)
        entry = desktop_.match(facts.comm);

    std::string unitId;
    // Only the leader of the unit's cgroup stands for it: its parent is not in the same cgroup.
    if (isAppUnit(facts.unit) && leads) {
        const auto ids = applicationIdsOfUnit(facts.unit);
        for (const auto& id : ids) {
            if (const DesktopEntry* byId = desktop_.byId(id)) {
                if (!entry)
                    entry = byId;
                unitId = id;
                break;
            }
        }
        if (unitId.empty() && !ids.empty())
            unitId = ids.back();
    }
    if (!entry && unitId.empty())
        return nullptr;

    auto app = std::make_shared<RunningApplication>();
    app->pid = pid;
    app->startTime = facts.startTime;
    if (entry) {
        app->bundleIdentifier = entry->id;
        app->localizedName = entry->name;
        app->icon = entry->icon;
    } else {
        app->bundleIdentifier = unitId;
        app->localizedName = facts.comm;
    }
    return app;
}

const std::vector<ProcessEntry>& platform::Workspace::listing() {
    const auto counters = processes_.taskCounters();
    if (!counters || counters != listedAt_ || generation_ - listedGeneration_ >= kWalkEveryPolls) {
        listed_ = processes_.entries();
        listedAt_ = counters;
        listedGeneration_ = generation_;
    }
    return listed_;
}

std::vector<RunningApplicationPtr> platform::Workspace::scan() {
    // The desktop entries changed: every process is judged again.
    if (desktop_.refresh()) {
        for (auto& [pid, facts] : known_)
            facts.judged = false;
    }
    ++generation_;
    std::set<pid_t> managers;
    for (const ProcessEntry& entry : listing()) {
        auto [it, isNew] = known_.try_emplace(entry.pid);
        if (!learn(entry, it->second, isNew)) {
            known_.erase(it);
            continue;
        }
        it->second.seen = generation_;
        if (it->second.candidate && it->second.comm == "systemd" && entry.pid != 1)
            managers.insert(entry.pid);
    }
    // Processes no longer listed are gone.
    std::erase_if(known_, [this](const auto& item) { return item.second.seen != generation_; });
    serviceManagers_ = std::move(managers);

    std::vector<RunningApplicationPtr> list;
    for (auto& [pid, facts] : known_) {
        if (!facts.candidate)
            continue;
        std::optional<std::string> parentUnit;
        if (const auto parent = known_.find(facts.stat.ppid);
            parent != known_.end() && parent->second.candidate) {
            parentUnit = parent->second.unit;
        }
        if (!facts.judged || facts.judgedPpid != facts.stat.ppid ||
            facts.judgedUnit != facts.unit || facts.judgedParentUnit != parentUnit) {
            facts.app = judge(pid, facts, !parentUnit || *parentUnit != facts.unit);
            facts.judged = true;
            facts.judgedPpid = facts.stat.ppid;
            facts.judgedUnit = facts.unit;
            facts.judgedParentUnit = std::move(parentUnit);
        }
        if (facts.app)
            list.push_back(facts.app);
    }
    return list;
}

std::vector<RunningApplicationPtr> platform::Workspace::runningApplications() {
    if (!scanned_) {
        current_ = scan();
        scanned_ = true;
    }
    return current_;
}

void platform::Workspace::observe(Observer observer) {
    observer_ = std::move(observer);
    runningApplications();
}

void platform::Workspace::poll() {
    auto next = scan();
    auto previous = std::move(current_);
    current_ = next;
    scanned_ = true;

    using Identity = std::pair<pid_t, uint64_t>;
    auto identities = [](const std::vector<RunningApplicationPtr>& list) {
        std::set<Identity> set;
        for (const auto& app : list)
            set.emplace(app->pid, app->startTime);
        return set;
    };
    const std::set<Identity> before = identities(previous);
    const std::set<Identity> after = identities(next);

    Change removed{ChangeKind::removal, {}};
    for (const auto& old : previous) {
        if (after.contains({old->pid, old->startTime}))
            continue;
        auto gone = std::make_shared<RunningApplication>(*old);
        gone->terminated = true;
        removed.values.push_back(std::move(gone));
    }
    Change inserted{ChangeKind::insertion, {}};
    for (const auto& app : next) {
        if (!before.contains({app->pid, app->startTime}))
            inserted.values.push_back(app);
    }
    if (!observer_)
        return;
    if (!removed.values.empty())
        observer_(removed);
    if (!inserted.values.empty())
        observer_(inserted);
}

}  // namespace vigil
