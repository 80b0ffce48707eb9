#include "platform/DrmFdinfo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/Read.h"

namespace vigil::platform {

namespace {

// "1976 KiB", "3 MiB" or a plain byte count.
std::optional<std::uint64_t> parseMemory(std::string_view value) {
    std::string_view number = nextWord(value);
    std::string_view unit = trim(value);
    auto n = parseU64(number);
    if (!n)
        return std::nullopt;
    std::uint64_t scale = 1;
    if (unit == "KiB")
        scale = 1024;
    else if (unit == "MiB")
        scale = 1024 * 1024;
    else if (unit == "GiB")
        scale = 1024ull * 1024 * 1024;
    else if (!unit.empty())
        return std::nullopt;
    return *n * scale;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::string clientKey(const DrmSample::Entry& e) {
    if (e.client.clientId)
        return e.client.pdev + '/' + std::to_string(*e.client.clientId);
    return e.client.pdev + "/pid" + std::to_string(e.pid);
}

// Busy share of each engine of one client between two readings, in percent of the engine kind.
void addEngineShares(const DrmClient& before, const DrmClient& after, double intervalNs,
                     std::map<std::string, double>& shares) {
    auto capacityOf = [&](const std::string& engine) {
        auto it = after.capacity.find(engine);
        return it == after.capacity.end() || it->second == 0 ? 1.0
                                                             : static_cast<double>(it->second);
    };
    for (const auto& [engine, ns] : after.engineNs) {
        auto old = before.engineNs.find(engine);
        if (old == before.engineNs.end() || ns < old->second || intervalNs <= 0)
            continue;  // new engine, or a counter that went back
        shares[engine] +=
            100.0 * static_cast<double>(ns - old->second) / intervalNs / capacityOf(engine);
    }
    for (const auto& [engine, cycles] : after.cycles) {
        auto total = after.totalCycles.find(engine);
        auto oldCycles = before.cycles.find(engine);
        auto oldTotal = before.totalCycles.find(engine);
        if (total == after.totalCycles.end() || oldCycles == before.cycles.end() ||
            oldTotal == before.totalCycles.end() || cycles < oldCycles->second ||
            total->second <= oldTotal->second)
            continue;
        shares[engine] += 100.0 * static_cast<double>(cycles - oldCycles->second) /
                          static_cast<double>(total->second - oldTotal->second) /
                          capacityOf(engine);
    }
}

double busiest(const std::map<std::string, double>& shares) {
    double top = 0;
    for (const auto& [engine, share] : shares)
        top = std::max(top, share);
    return std::clamp(top, 0.0, 100.0);
}

}  // namespace

std::optional<DrmClient> parseDrmFdinfo(std::string_view text) {
    DrmClient client;
    bool isDrm = false;
    std::map<std::string, std::uint64_t> resident, legacy;
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        auto colon = line.find(':');
        if (colon == std::string_view::npos || !startsWith(line, "drm-"))
            continue;
        std::string_view key = line.substr(0, colon);
        std::string_view value = trim(line.substr(colon + 1));
        auto suffix = [&](std::string_view prefix) {
            return std::string(key.substr(prefix.size()));
        };
        if (key == "drm-driver") {
            client.driver = std::string(value);
            isDrm = !value.empty();
        } else if (key == "drm-pdev") {
            client.pdev = std::string(value);
        } else if (key == "drm-client-id") {
            client.clientId = parseU64(value);
        } else if (startsWith(key, "drm-engine-capacity-")) {
            if (auto n = parseU64(value))
                client.capacity[suffix("drm-engine-capacity-")] = *n;
        } else if (startsWith(key, "drm-engine-")) {
            std::string_view rest = value;
            auto n = parseU64(nextWord(rest));
            if (n && trim(rest) == "ns")
                client.engineNs[suffix("drm-engine-")] = *n;
        } else if (startsWith(key, "drm-total-cycles-")) {
            if (auto n = parseU64(value))
                client.totalCycles[suffix("drm-total-cycles-")] = *n;
        } else if (startsWith(key, "drm-cycles-")) {
            if (auto n = parseU64(value))
                client.cycles[suffix("drm-cycles-")] = *n;
        } else if (startsWith(key, "drm-resident-")) {
            if (auto n = parseMemory(value))
                resident[suffix("drm-resident-")] = *n;
        } else if (startsWith(key, "drm-memory-")) {
            if (auto n = parseMemory(value))
                legacy[suffix("drm-memory-")] = *n;
        }
    }
    if (!isDrm)
        return std::nullopt;
    for (const auto& [region, bytes] : resident.empty() ? legacy : resident)
        client.memoryBytes += bytes;
    return client;
}

DrmUsageReport compareDrmSamples(const DrmSample& before, const DrmSample& after) {
    std::unordered_map<std::string, const DrmSample::Entry*> earlier;
    for (const auto& e : before.clients)
        earlier.emplace(clientKey(e), &e);
    const double intervalNs = static_cast<double>(after.timeNs - before.timeNs);
    std::map<std::string, std::map<std::string, double>> deviceShares;
    std::unordered_map<pid_t, std::map<std::string, double>> processShares;
    DrmUsageReport report;
    for (const auto& e : after.clients) {
        report.byDevice[e.client.pdev].memoryBytes += e.client.memoryBytes;
        report.byProcess[e.pid].memoryBytes += e.client.memoryBytes;
        auto old = earlier.find(clientKey(e));
        if (old == earlier.end())
            continue;  // no earlier reading to compare with
        addEngineShares(old->second->client, e.client, intervalNs, deviceShares[e.client.pdev]);
        addEngineShares(old->second->client, e.client, intervalNs, processShares[e.pid]);
    }
    for (auto& [pdev, shares] : deviceShares)
        report.byDevice[pdev].busyPercent = busiest(shares);
    for (auto& [pid, shares] : processShares)
        report.byProcess[pid].busyPercent = busiest(shares);
    return report;
}

namespace {
// Of the re-checks, every how many reads every process's fd links.
constexpr int kRechecksPerLinkRead = 16;
}  // namespace

DrmClientScan::DrmClientScan(std::string root, uid_t user, int recheckEvery)
    : root_(std::move(root)), user_(user), recheckEvery_(std::max(1, recheckEvery)) {}

std::vector<int> DrmClientScan::findDrmFds(pid_t pid) const {
    std::vector<int> fds;
    const std::string folder = joinRoot(root_, "/proc/" + std::to_string(pid) + "/fd");
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return fds;  // gone, or not ours to read
    char target[256];
    while (dirent* d = ::readdir(dir)) {
        auto fd = parseU64(d->d_name);
        if (!fd)
            continue;
        ssize_t n = ::readlinkat(::dirfd(dir), d->d_name, target, sizeof target - 1);
        if (n > 0 && std::string_view(target, static_cast<size_t>(n)).substr(0, 9) == "/dev/dri/")
            fds.push_back(static_cast<int>(*fd));
    }
    ::closedir(dir);
    return fds;
}

DrmClientScan::Holder DrmClientScan::recheck(int procFd, pid_t pid, Holder* known,
                                             bool everyLink) const {
    // The fd folder belongs to the process's user, and its size is the number of files open.
    Holder holder;
    struct stat st {};
    const std::string fdFolder = std::to_string(pid) + "/fd";
    if (::fstatat(procFd, fdFolder.c_str(), &st, 0) != 0 || st.st_uid != user_)
        return holder;
    holder.openFiles = static_cast<std::int64_t>(st.st_size);
    if (known && !everyLink && holder.openFiles > 0 && holder.openFiles == known->openFiles)
        holder.drmFds = std::move(known->drmFds);
    else
        holder.drmFds = findDrmFds(pid);
    return holder;
}

DrmSample DrmClientScan::sample() {
    const bool recheckAll = samplesUntilRecheck_-- <= 0;
    bool everyLink = false;
    if (recheckAll) {
        samplesUntilRecheck_ = recheckEvery_ - 1;
        everyLink = rechecksUntilEveryLink_-- <= 0;
        if (everyLink)
            rechecksUntilEveryLink_ = kRechecksPerLinkRead - 1;
    }
    DrmSample out;
    std::unordered_map<pid_t, Holder> seen;
    std::unordered_map<std::string, bool> counted;
    std::string text, error;
    const std::string proc = joinRoot(root_, "/proc");
    DIR* dir = ::opendir(proc.c_str());
    if (!dir) {
        if (errno != ENOENT)
            reportError("opendir", proc + ": " + std::strerror(errno));
        return out;
    }
    while (dirent* d = ::readdir(dir)) {
        auto number = parseU64(d->d_name);
        if (!number)
            continue;
        const pid_t pid = static_cast<pid_t>(*number);
        auto known = holders_.find(pid);
        Holder* previous = known != holders_.end() ? &known->second : nullptr;
        Holder holder = previous && !recheckAll ? std::move(*previous)
                                                : recheck(::dirfd(dir), pid, previous, everyLink);
        for (int fd : holder.drmFds) {
            std::string path = proc + '/' + d->d_name + "/fdinfo/" + std::to_string(fd);
            if (readFileInto(path, text, &error, 64 << 10) != Outcome::value)
                continue;
            auto client = parseDrmFdinfo(text);
            if (!client)
                continue;
            DrmSample::Entry entry{pid, std::move(*client)};
            if (counted.emplace(clientKey(entry), true).second)
                out.clients.push_back(std::move(entry));
        }
        seen.emplace(pid, std::move(holder));
    }
    ::closedir(dir);
    holders_ = std::move(seen);
    out.timeNs = monotonicNs();
    return out;
}

}  // namespace vigil::platform
