#include "platform/AppCgroups.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>

#include "platform/MountTable.h"
#include "platform/ProcessTable.h"
#include "platform/Read.h"

namespace vigil::platform {

namespace {

// Slices nest (app.slice/app-graphical.slice/...); deeper than this they are not looked into.
constexpr int kSliceDepth = 4;

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<uint64_t> parseWholeNumber(std::string_view text) {
    return parseU64(trim(text));
}

// The folder of a hierarchy path ("/user.slice/...") below the mount, or empty when the mount
// does not show that part of the hierarchy.
std::string folderOf(const std::string& root, const Cgroup2Mount& mount, std::string_view path) {
    std::string_view shown = mount.hierarchyRoot;
    while (shown.size() > 1 && shown.back() == '/')
        shown.remove_suffix(1);
    if (shown != "/") {
        if (!path.starts_with(shown) || (path.size() > shown.size() && path[shown.size()] != '/'))
            return {};
        path.remove_prefix(shown.size());
    }
    std::string folder = joinRoot(root, mount.mountPoint);
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    if (!path.empty() && path.front() != '/')
        folder += '/';
    folder.append(path);
    return folder;
}

void collectGroups(const std::string& folder, int depth, std::vector<AppGroup>& out) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> slices;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)
            continue;
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (isAppUnit(name)) {
            out.push_back({folder + "/" + std::string(name), std::string(name)});
        } else if (name.ends_with(".slice") && depth < kSliceDepth) {
            slices.emplace_back(name);
        }
    }
    ::closedir(dir);
    for (const auto& slice : slices)
        collectGroups(folder + "/" + slice, depth + 1, out);
}

}  // namespace

bool isAppUnit(std::string_view unit) {
    return unit.starts_with("app-") && (unit.ends_with(".scope") || unit.ends_with(".service"));
}

std::optional<Cgroup2Mount> parseCgroup2Mount(std::string_view mountinfo) {
    for (const MountEntry& entry : parseMountInfo(mountinfo)) {
        if (entry.fstype == "cgroup2")
            return Cgroup2Mount{entry.mountPoint, entry.root};
    }
    return std::nullopt;
}

std::optional<uint64_t> parseCpuStatUsage(std::string_view text) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (nextWord(line) == "usage_usec")
            return parseWholeNumber(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return std::nullopt;
}

AppCgroups::AppCgroups(std::string tree) : tree_(std::move(tree)) {}

std::optional<std::string> AppCgroups::locate(const std::string& root, uid_t uid) {
    const auto mountinfo = readSmallFile(joinRoot(root, "/proc/self/mountinfo"), 4 << 20);
    if (!mountinfo)
        return std::nullopt;
    const auto mount = parseCgroup2Mount(*mountinfo);
    if (!mount)
        return std::nullopt;
    const std::string manager = "/user@" + std::to_string(uid) + ".service";
    // A session whose layout is not the usual one: the manager this process runs under.
    if (const auto own = readSmallFile(joinRoot(root, "/proc/self/cgroup"), 8192)) {
        if (const auto path = parseUnifiedCgroup(*own)) {
            const size_t at = path->find(manager + "/");
            if (at != std::string::npos) {
                const std::string folder =
                    folderOf(root, *mount, path->substr(0, at + manager.size()) + "/app.slice");
                if (!folder.empty() && isDirectory(folder))
                    return folder;
            }
        }
    }
    const std::string user = std::to_string(uid);
    const std::string folder =
        folderOf(root, *mount, "/user.slice/user-" + user + ".slice" + manager + "/app.slice");
    if (!folder.empty() && isDirectory(folder))
        return folder;
    return std::nullopt;
}

std::vector<AppGroup> AppCgroups::groups() const {
    std::vector<AppGroup> groups;
    collectGroups(tree_, 0, groups);
    return groups;
}

std::vector<pid_t> AppCgroups::processes(const std::string& group) {
    std::vector<pid_t> pids;
    const auto text = readSmallFile(group + "/cgroup.procs", 4 << 20);
    if (!text)
        return pids;
    // One pid a line.
    const char* at = text->data();
    const char* const end = at + text->size();
    while (at < end) {
        pid_t pid = 0;
        const auto [next, ec] = std::from_chars(at, end, pid);
        if (ec == std::errc() && pid > 0)
            pids.push_back(pid);
        at = std::find(next, end, '\n');
        if (at < end)
            ++at;
    }
    return pids;
}

std::optional<GroupUsage> AppCgroups::usage(const std::string& group, const ProcessTable& table) {
    const auto cpuStat = readSmallFile(group + "/cpu.stat", 8192);
    if (!cpuStat)
        return std::nullopt;
    const auto usec = parseCpuStatUsage(*cpuStat);
    if (!usec)
        return std::nullopt;
    GroupUsage usage;
    usage.cputime = static_cast<double>(*usec) / 1000.0;
    if (const auto current = readSmallFile(group + "/memory.current", 64)) {
        usage.mem = parseWholeNumber(*current).value_or(0);
    } else {
        // The memory controller is not on this hierarchy (a hybrid layout keeps it on v1).
        usage.memoryFromProcesses = true;
        for (const pid_t pid : processes(group))
            usage.mem += table.residentBytes(pid).value_or(0);
    }
    if (const auto tasks = readSmallFile(group + "/pids.current", 64)) {
        usage.threads = static_cast<int32_t>(parseWholeNumber(*tasks).value_or(0));
    } else if (const auto threads = readSmallFile(group + "/cgroup.threads", 4 << 20)) {
        int32_t count = 0;
        for (const char c : *threads)
            count += c == '\n';
        usage.threads = count;
    }
    return usage;
}

}  // namespace vigil::platform
