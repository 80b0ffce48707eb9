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

std::vector<RunningApplicationPtr> platform::Workspace::scan() {
    struct Candidate {
        ProcessStat stat;
        std::string argv0;
        std::string unit;  // the last component of its cgroup
    };
    // The desktop entries changed: every process is judged again.
    if (desktop_.refresh())
        known_.clear();
    ++generation_;
    std::map<pid_t, Candidate> mine;
    std::set<pid_t> managers;
    std::map<pid_t, Known> known;
    for (const pid_t pid : processes_.pids()) {
        const auto owner = processes_.owner(pid);
        if (!owner || *owner != options_.uid)
            continue;
        auto stat = processes_.stat(pid);
        if (!stat || stat->state == 'Z' || stat->state == 'X')
            continue;  // gone, or a zombie
        // The command line and cgroup of a process seen before are kept, as long as it is the
        // same process (start time) running the same program (the name changes on exec). The
        // cgroup is read again for a few polls: launchers move a new process into its scope.
        Known facts;
        const auto it = known_.find(pid);
        if (it != known_.end() && it->second.startTime == stat->startTime &&
            it->second.comm == stat->comm) {
            facts = it->second;
        } else {
            facts.startTime = stat->startTime;
            facts.comm = stat->comm;
            facts.firstSeen = generation_;
            const auto argv = processes_.commandLine(pid);
            facts.argv0 = argv.empty() ? std::string() : argv[0];
        }
        if (generation_ - facts.firstSeen < kCgroupSettlePolls) {
            const auto cgroup = processes_.cgroup(pid);
            facts.unit = cgroup ? lastComponent(*cgroup) : std::string();
        }
        known[pid] = facts;
        if (facts.argv0.empty())
            continue;  // kernel threads
        if (stat->comm == "systemd" && pid != 1)
            managers.insert(pid);
        mine[pid] = Candidate{std::move(*stat), facts.argv0, facts.unit};
    }
    known_ = std::move(known);
    serviceManagers_ = std::move(managers);

    std::vector<RunningApplicationPtr> list;
    for (const auto& [pid, c] : mine) {
        const DesktopEntry* entry = nullptr;
        const std::string argv0 = basenameOf(c.argv0);
        entry = desktop_.match(argv0);
        if (!entry) {
            // Programs that rewrite their title ("prog: worker") keep the name in front.
            const std::string first = basenameOf(c.argv0.substr(0, c.argv0.find(' ')));
            if (first != argv0)
                entry = desktop_.match(first);
        }
        if (!entry)
            entry = desktop_.match(c.stat.comm);

        std::string unitId;
        if (isAppUnit(c.unit)) {
            // The leader of the unit's cgroup: its parent is not in the same cgroup.
            const auto parent = mine.find(c.stat.ppid);
            const bool leads = parent == mine.end() || parent->second.unit != c.unit;
            if (leads) {
                const auto ids = applicationIdsOfUnit(c.unit);
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
        }
        if (!entry && unitId.empty())
            continue;

        auto app = std::make_shared<RunningApplication>();
        app->pid = pid;
        app->startTime = c.stat.startTime;
        if (entry) {
            app->bundleIdentifier = entry->id;
            app->localizedName = entry->name;
            app->icon = entry->icon;
        } else {
            app->bundleIdentifier = unitId;
            app->localizedName = c.stat.comm;
        }
        list.push_back(std::move(app));
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

    Change removed{ChangeKind::removal, {}};
    for (const auto& old : previous) {
        const bool still =
            std::any_of(next.begin(), next.end(),
                        [&](const RunningApplicationPtr& n) { return n->isSameProcess(*old); });
        if (still)
            continue;
        auto gone = std::make_shared<RunningApplication>(*old);
        gone->terminated = true;
        removed.values.push_back(std::move(gone));
    }
    Change inserted{ChangeKind::insertion, {}};
    for (const auto& app : next) {
        const bool known =
            std::any_of(previous.begin(), previous.end(),
                        [&](const RunningApplicationPtr& p) { return p->isSameProcess(*app); });
        if (!known)
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
