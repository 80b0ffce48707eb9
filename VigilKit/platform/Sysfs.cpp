#include "platform/Sysfs.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

namespace vigil::platform {

std::optional<std::vector<int>> parseCpuList(std::string_view text) {
    text = trim(text);
    std::vector<int> cpus;
    while (!text.empty()) {
        auto comma = text.find(',');
        std::string_view range = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        auto dash = range.find('-');
        auto first = parseU64(range.substr(0, dash));
        auto last = dash == std::string_view::npos ? first : parseU64(range.substr(dash + 1));
        if (!first || !last || *last < *first || *last > 65535)
            return std::nullopt;
        for (auto c = *first; c <= *last; ++c)
            cpus.push_back(static_cast<int>(c));
    }
    std::sort(cpus.begin(), cpus.end());
    cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
    return cpus;
}

CoreCounts deriveCoreCounts(const std::vector<int>& present, const std::vector<int>& online,
                            const std::vector<CpuTopology>& topology) {
    CoreCounts counts;
    counts.logicalMax = static_cast<std::int64_t>(present.size());
    counts.logicalNow = static_cast<std::int64_t>(online.size());
    std::set<std::pair<std::int64_t, std::int64_t>> all, now;
    std::int64_t unknown = 0;
    for (const auto& t : topology) {
        bool isOnline = std::binary_search(online.begin(), online.end(), t.cpu);
        if (!t.packageAndCore) {
            ++unknown;
            continue;
        }
        all.insert(*t.packageAndCore);
        if (isOnline)
            now.insert(*t.packageAndCore);
    }
    counts.physicalNow = static_cast<std::int64_t>(now.size());
    counts.physicalMax = static_cast<std::int64_t>(all.size());
    if (unknown > 0) {
        // CPUs without visible topology (offline ones): assume they share cores as the visible
        // ones do, rounding up.
        std::int64_t visible = static_cast<std::int64_t>(topology.size()) - unknown;
        std::int64_t threadsPerCore =
            counts.physicalMax > 0 ? std::max<std::int64_t>(1, visible / counts.physicalMax) : 1;
        counts.physicalMax += (unknown + threadsPerCore - 1) / threadsPerCore;
    }
    if (counts.physicalNow == 0 && counts.logicalNow > 0 && topology.empty()) {
        counts.physicalNow = counts.logicalNow;
        counts.physicalMax = counts.logicalMax;
    }
    return counts;
}

const char* toString(ThermalState state) {
    switch (state) {
        case ThermalState::nominal:
            return "nominal";
        case ThermalState::fair:
            return "fair";
        case ThermalState::serious:
            return "serious";
        case ThermalState::critical:
            return "critical";
    }
    return "nominal";
}

ThermalState thermalStateOf(const ThermalZone& zone) {
    std::optional<std::int64_t> passive, hot;
    for (const auto& trip : zone.trips) {
        if (trip.milliCelsius <= 0)
            continue;  // disabled trip points read 0 or negative
        if (trip.type == "critical" || trip.type == "hot") {
            hot = hot ? std::min(*hot, trip.milliCelsius) : trip.milliCelsius;
        } else if (trip.type == "passive") {
            passive = passive ? std::min(*passive, trip.milliCelsius) : trip.milliCelsius;
        }
    }
    if (hot && zone.milliCelsius >= *hot)
        return ThermalState::critical;
    if (passive && zone.milliCelsius >= *passive)
        return ThermalState::serious;
    std::optional<std::int64_t> lowest = passive ? passive : hot;
    if (lowest && zone.milliCelsius >= *lowest - 10000)
        return ThermalState::fair;
    return ThermalState::nominal;
}

ThermalState thermalStateOf(const std::vector<ThermalZone>& zones) {
    ThermalState worst = ThermalState::nominal;
    for (const auto& zone : zones)
        worst = std::max(worst, thermalStateOf(zone));
    return worst;
}

std::optional<std::uint64_t> parseZramMemUsed(std::string_view text) {
    nextWord(text);
    nextWord(text);
    return parseU64(nextWord(text));
}

Sysfs::Sysfs(std::string root) : root_(std::move(root)) {}

Read<std::vector<int>> Sysfs::cpuList(const char* name) const {
    std::string p = path(std::string("/sys/devices/system/cpu/") + name);
    auto text = readAttribute(p);
    if (!text)
        return Read<std::vector<int>>::from(text);
    auto list = parseCpuList(text.value);
    if (!list)
        return Read<std::vector<int>>::failure(p + ": malformed CPU list");
    return Read<std::vector<int>>::of(std::move(*list));
}

Read<std::vector<int>> Sysfs::presentCpus() const {
    return cpuList("present");
}
Read<std::vector<int>> Sysfs::onlineCpus() const {
    return cpuList("online");
}

Read<CoreCounts> Sysfs::coreCounts() const {
    auto present = presentCpus();
    if (!present)
        return Read<CoreCounts>::from(present);
    auto online = onlineCpus();
    if (!online)
        return Read<CoreCounts>::from(online);
    std::vector<CpuTopology> topology;
    for (int cpu : present.value) {
        CpuTopology t{cpu, std::nullopt};
        std::string dir = path("/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/");
        auto package = readAttribute(dir + "physical_package_id");
        auto core = readAttribute(dir + "core_id");
        if (package.outcome == Outcome::failure)
            return Read<CoreCounts>::from(package);
        if (core.outcome == Outcome::failure)
            return Read<CoreCounts>::from(core);
        if (package && core) {
            auto p = parseI64(package.value);
            auto c = parseI64(core.value);
            if (!p || !c)
                return Read<CoreCounts>::failure(dir + ": malformed topology");
            t.packageAndCore = std::make_pair(*p, *c);
        }
        topology.push_back(t);
    }
    return Read<CoreCounts>::of(deriveCoreCounts(present.value, online.value, topology));
}

namespace {
// Names in a directory that start with a prefix, sorted.
std::vector<std::string> listDir(const std::string& dirPath, std::string_view prefix, int* err) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(dirPath.c_str());
    if (!dir) {
        if (err)
            *err = errno;
        return names;
    }
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name.substr(0, prefix.size()) == prefix && name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}
}  // namespace

bool Sysfs::refreshTemperatures(std::vector<ThermalZone>& zones) const {
    const std::string base = path("/sys/class/thermal/");
    for (auto& zone : zones) {
        const auto temp = readAttribute(base + zone.name + "/temp");
        const auto milli = temp ? parseI64(temp.value) : std::nullopt;
        if (!milli)
            return false;
        zone.milliCelsius = *milli;
    }
    return true;
}

Read<std::vector<ThermalZone>> Sysfs::thermalZones() const {
    std::string base = path("/sys/class/thermal/");
    int err = 0;
    auto names = listDir(base, "thermal_zone", &err);
    if (err == ENOENT)
        return Read<std::vector<ThermalZone>>::absent();
    if (err)
        return Read<std::vector<ThermalZone>>::failure(base + ": " + std::strerror(err));
    std::vector<ThermalZone> zones;
    for (const auto& name : names) {
        std::string dir = base + name + "/";
        auto temp = readAttribute(dir + "temp");
        if (!temp) {
            // A zone whose sensor cannot answer (some report EAGAIN or ENODATA) is skipped.
            reportIfFailed(temp, "thermal zone");
            continue;
        }
        auto milli = parseI64(temp.value);
        if (!milli) {
            reportError("thermal zone", dir + "temp: malformed temperature");
            continue;
        }
        ThermalZone zone;
        zone.name = name;
        zone.milliCelsius = *milli;
        if (auto type = readAttribute(dir + "type"))
            zone.type = type.value;
        for (int i = 0; i < 64; ++i) {
            std::string n = std::to_string(i);
            auto type = readAttribute(dir + "trip_point_" + n + "_type");
            if (!type)
                break;
            auto t = readAttribute(dir + "trip_point_" + n + "_temp");
            auto value = t ? parseI64(t.value) : std::nullopt;
            if (!value)
                continue;
            zone.trips.push_back({type.value, *value});
        }
        zones.push_back(std::move(zone));
    }
    return Read<std::vector<ThermalZone>>::of(std::move(zones));
}

std::vector<std::string> Sysfs::zramDevices() const {
    int err = 0;
    return listDir(path("/sys/block/"), "zram", &err);
}

std::vector<KeptFile> Sysfs::zramStatFiles(const std::vector<std::string>& devices) const {
    std::vector<KeptFile> files;
    for (const auto& name : devices)
        files.emplace_back(path("/sys/block/" + name + "/mm_stat"));
    return files;
}

Read<std::uint64_t> Sysfs::zramMemoryUsed(std::vector<KeptFile>& statFiles, bool* gone) const {
    if (statFiles.empty())
        return Read<std::uint64_t>::absent();
    std::uint64_t total = 0;
    std::string text, error;
    for (auto& file : statFiles) {
        switch (file.readInto(text, &error, 64 << 10)) {
            case Outcome::absent:
                if (gone)
                    *gone = true;
                continue;
            case Outcome::failure:
                return Read<std::uint64_t>::failure(std::move(error));
            case Outcome::value:
                break;
        }
        auto used = parseZramMemUsed(text);
        if (!used)
            return Read<std::uint64_t>::failure(file.path() + ": malformed");
        total += *used;
    }
    return Read<std::uint64_t>::of(total);
}

}  // namespace vigil::platform
