#include "platform/RunningApplications.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/AppCgroups.h"

namespace vigil {

namespace {

using platform::isAppUnit;

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

std::string lastComponent(std::string_view path) {
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    return basenameOf(path);
}

constexpr uint64_t kCgroupSettlePolls = 5;
// A process whose folder kept its inode is read again on one poll in this many (spread over the
// polls by pid): often while it is young, seldom once it has run for a while (what is looked for,
// an exec into an application or a change of user, happens mostly early in a process's life).
constexpr uint64_t kRecheckPolls = 4;
constexpr uint64_t kYoungPolls = 30;
constexpr uint64_t kRecheckOldPolls = 128;
// The /proc listing is walked at least this often, whatever the task counters say.
constexpr uint64_t kWalkEveryPolls = 15;
// New pids up to this many are looked up one by one instead of walking the listing...
constexpr uint32_t kProbePids = 128;
// ...and more than that start a walk, but not sooner than this many polls after the last one (a
// machine starting hundreds of processes a second would otherwise be walked at every poll); the
// newest pids are looked up meanwhile.
constexpr uint64_t kPollsBetweenWalks = 6;

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

platform::RunningApplications::RunningApplications() : RunningApplications(Options{}) {}

platform::RunningApplications::RunningApplications(Options options)
    : options_(std::move(options)),
      processes_(options_.root),
      desktop_(options_.applicationDirectories
                   ? DesktopEntries(options_.root, *options_.applicationDirectories)
                   : DesktopEntries(options_.root)) {
    const auto tree =
        options_.appCgroups ? options_.appCgroups : AppCgroups::locate(options_.root, options_.uid);
    if (tree && !tree->empty())
        appTree_.emplace(*tree);
}

bool platform::RunningApplications::isLauncher(pid_t ppid) const {
    return ppid == 1 || serviceManagers_.contains(ppid);
}

bool platform::RunningApplications::isDue(pid_t pid, const Known& facts) const {
    // What ran before the first poll is no newcomer: it settled long ago.
    const uint64_t age = facts.firstSeen == 1 ? kYoungPolls : generation_ - facts.firstSeen;
    // Settling, an application (whether it still runs it), or caught in exec.
    if (age < kCgroupSettlePolls || facts.app || (facts.mine && facts.argv0.empty()))
        return true;
    const uint64_t every = age < kYoungPolls ? kRecheckPolls : kRecheckOldPolls;
    return (generation_ + static_cast<uint64_t>(pid)) % every == 0;
}

platform::RunningApplications::Known platform::RunningApplications::firstFacts(
    const ProcessEntry& entry, const ProcessStat& stat) const {
    Known facts;
    facts.inode = entry.inode;
    facts.startTime = stat.startTime;
    facts.comm = stat.comm;
    facts.firstSeen = generation_;
    facts.readAt = generation_;
    return facts;
}

bool platform::RunningApplications::learn(const ProcessEntry& entry, Known& facts, bool isNew) {
    const pid_t pid = entry.pid;
    // The same folder, and not yet due: the same process, as last seen. Another process under the
    // same pid comes with another folder. A kernel thread stays what it was.
    if (!isNew && facts.inode == entry.inode && (facts.kernelThread || !isDue(pid, facts)))
        return true;
    facts.readAt = generation_;
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

RunningApplicationPtr platform::RunningApplications::judge(pid_t pid, const Known& facts,
                                                           bool leads,
                                                           const std::string& cgroup) const {
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
    app->cgroup = cgroup;
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

bool platform::RunningApplications::learnListed(const ProcessEntry& entry, bool isNew) {
    auto [it, inserted] = known_.try_emplace(entry.pid);
    if (!learn(entry, it->second, isNew || inserted)) {
        known_.erase(it);
        return false;
    }
    it->second.seen = generation_;
    if (it->second.candidate && it->second.comm == "systemd" && entry.pid != 1)
        serviceManagers_.insert(entry.pid);
    return true;
}

void platform::RunningApplications::walk(
    const std::optional<ProcessTable::TaskCounters>& counters) {
    listedAt_ = counters;
    listedGeneration_ = generation_;
    probedTo_ = counters ? counters->lastPid : 0;
    serviceManagers_.clear();
    for (const ProcessEntry& entry : processes_.entries())
        learnListed(entry, false);
    // Processes no longer listed are gone.
    std::erase_if(known_, [this](const auto& item) { return item.second.seen != generation_; });
}

void platform::RunningApplications::probe(uint32_t first, uint32_t last) {
    // Pids looked up by an earlier poll since the last walk are not looked up again.
    if (probedTo_ >= first && probedTo_ <= last)
        first = probedTo_ + 1;
    probedTo_ = last;
    for (uint32_t pid = first; pid <= last && pid > 0; ++pid) {
        const auto stat = processes_.stat(static_cast<pid_t>(pid));
        if (!stat || stat->thread)
            continue;  // gone already, or a thread (reachable by its id, but no process)
        const auto known = known_.find(static_cast<pid_t>(pid));
        if (known != known_.end() && known->second.startTime == stat->startTime)
            continue;
        // A new process, or one under a reused pid: learnt afresh. Its folder's inode is learnt
        // at the next walk.
        learnListed({static_cast<pid_t>(pid), 0}, true);
    }
}

void platform::RunningApplications::list() {
    const auto counters = processes_.taskCounters();
    if (!counters || !listedAt_ || generation_ - listedGeneration_ >= kWalkEveryPolls) {
        walk(counters);
        return;
    }
    if (*counters == *listedAt_)
        return;  // no task created or reaped since
    const uint32_t from = listedAt_->lastPid;
    const uint32_t to = counters->lastPid;
    if (to >= from && to - from <= kProbePids) {
        // Tasks that were reaped are found by the rechecks (applications at every poll) and by
        // the next walk.
        probe(from + 1, to);
        listedAt_ = counters;
    } else if (generation_ - listedGeneration_ >= kPollsBetweenWalks) {
        walk(counters);
    } else {
        probe(to > kProbePids ? to - kProbePids + 1 : 1, to);
    }
}

void platform::RunningApplications::recheck() {
    for (auto it = known_.begin(); it != known_.end();) {
        Known& facts = it->second;
        const bool listedNow = facts.seen == generation_;
        if (listedNow || facts.kernelThread || !isDue(it->first, facts)) {
            ++it;
            continue;
        }
        if (!learn({it->first, facts.inode}, facts, false)) {
            it = known_.erase(it);
            continue;
        }
        facts.seen = generation_;
        ++it;
    }
}

bool platform::RunningApplications::leaderStands(const Group& group) const {
    if (group.pid <= 0)
        return false;
    const auto stat = processes_.stat(group.pid);
    return stat && stat->startTime == group.facts.startTime && stat->comm == group.facts.comm &&
           stat->state != 'Z' && stat->state != 'X';
}

platform::RunningApplications::Group platform::RunningApplications::leadGroup(
    const AppGroup& unit) const {
    const std::vector<pid_t> pids = AppCgroups::processes(unit.path);
    std::vector<ProcessStat> members;
    for (const pid_t pid : pids) {
        if (auto stat = processes_.stat(pid); stat && stat->state != 'Z' && stat->state != 'X')
            members.push_back(std::move(*stat));
    }
    const ProcessStat* leader = nullptr;
    for (const ProcessStat& member : members) {
        const bool parentInside = std::find(pids.begin(), pids.end(), member.ppid) != pids.end();
        if (!parentInside && (!leader || member.startTime < leader->startTime))
            leader = &member;
    }
    Group group;
    if (!leader)
        return group;  // empty, or only zombies: looked at again next poll
    group.pid = leader->pid;
    group.facts.startTime = leader->startTime;
    group.facts.comm = leader->comm;
    group.facts.unit = unit.unit;
    group.facts.stat = *leader;
    const auto argv = processes_.commandLine(leader->pid);
    group.facts.argv0 = argv.empty() ? std::string() : argv[0];
    group.app = judge(group.pid, group.facts, /*leads=*/true, unit.path);
    return group;
}

std::optional<std::vector<RunningApplicationPtr>> platform::RunningApplications::scanGroups() {
    const std::vector<AppGroup> units = appTree_->groups();
    if (units.empty())
        return std::nullopt;
    // The desktop entries changed: every group is judged again.
    if (desktop_.refresh())
        groups_.clear();
    std::map<std::string, Group> next;
    std::vector<RunningApplicationPtr> list;
    for (const AppGroup& unit : units) {
        auto known = groups_.find(unit.path);
        Group group = known != groups_.end() && leaderStands(known->second)
                          ? std::move(known->second)
                          : leadGroup(unit);
        if (group.app)
            list.push_back(group.app);
        next.emplace(unit.path, std::move(group));
    }
    groups_ = std::move(next);
    return list;
}

std::vector<RunningApplicationPtr> platform::RunningApplications::scan() {
    if (appTree_) {
        if (auto list = scanGroups()) {
            listedGroups_ = true;
            return std::move(*list);
        }
    }
    listedGroups_ = false;
    return scanProcesses();
}

std::vector<RunningApplicationPtr> platform::RunningApplications::scanProcesses() {
    // The desktop entries changed: every process is judged again.
    if (desktop_.refresh()) {
        for (auto& [pid, facts] : known_)
            facts.judged = false;
    }
    ++generation_;
    list();
    recheck();

    std::vector<RunningApplicationPtr> list;
    for (auto& [pid, facts] : known_) {
        if (!facts.candidate)
            continue;
        // Judged before and not read again: nothing it was judged by changed (a parent's unit
        // settles while its children, younger, are still read at every poll).
        if (facts.judged && facts.readAt != generation_) {
            if (facts.app)
                list.push_back(facts.app);
            continue;
        }
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

std::vector<RunningApplicationPtr> platform::RunningApplications::runningApplications() {
    if (!scanned_) {
        current_ = scan();
        scanned_ = true;
    }
    return current_;
}

void platform::RunningApplications::observe(Observer observer) {
    observer_ = std::move(observer);
    runningApplications();
}

void platform::RunningApplications::poll() {
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
