#include "collectors/CPUData.h"

#include <cmath>

#include "platform/Read.h"

using vigil::platform::Outcome;

namespace vigil {

CPUTicks toCPUTicks(const platform::CpuTicks& t) {
    // Time the hypervisor gave to other guests is time this machine wanted to run and could not:
    // busy, as top counts it.
    return CPUTicks{t.user, t.system + t.irq + t.softirq + t.steal, t.idle + t.iowait, t.nice};
}

namespace {
// The change of one counter; nullopt for a reset.
std::optional<std::uint64_t> counterDelta(std::uint64_t previous, std::uint64_t current) {
    if (current >= previous)
        return current - previous;
    if (previous <= UINT32_MAX && current <= UINT32_MAX) {
        auto wrapped = static_cast<std::uint32_t>(static_cast<std::uint32_t>(current) -
                                                  static_cast<std::uint32_t>(previous));
        if (wrapped < (1u << 31))
            return wrapped;
    }
    return std::nullopt;
}

double percent(double part, double total) {
    if (!(total > 0))
        return 0;
    double v = part / total * 100.0;
    return std::isfinite(v) ? v : 0;
}
}  // namespace

CPULoad deriveCPULoad(const CPUTicks& previous, const CPUTicks& current, bool* reset) {
    if (reset)
        *reset = false;
    auto user = counterDelta(previous.user, current.user);
    auto system = counterDelta(previous.system, current.system);
    auto idle = counterDelta(previous.idle, current.idle);
    auto nice = counterDelta(previous.nice, current.nice);
    if (!user || !system || !idle || !nice) {
        if (reset)
            *reset = true;
        return {};
    }
    double total = static_cast<double>(*user) + static_cast<double>(*system) +
                   static_cast<double>(*idle) + static_cast<double>(*nice);
    CPULoad load;
    if (total > 0) {
        load.user =
            percent(static_cast<double>(*nice), total) + percent(static_cast<double>(*user), total);
        load.system = percent(static_cast<double>(*system), total);
        load.idle = percent(static_cast<double>(*idle), total);
    }
    return load;
}

std::string cleanCPUBrand(std::string_view raw) {
    std::string text = platform::cleanUtf8(raw, 64);
    for (std::string_view pattern : {"(R)", "(TM)", "@ ", "CPU "}) {
        for (std::size_t at = text.find(pattern); at != std::string::npos;
             at = text.find(pattern, at)) {
            text.erase(at, pattern.size());
        }
    }
    std::string collapsed;
    bool blank = false;
    for (char c : text) {
        bool isBlank = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
        if (isBlank) {
            blank = true;
            continue;
        }
        if (blank && !collapsed.empty())
            collapsed.push_back(' ');
        blank = false;
        collapsed.push_back(c);
    }
    return collapsed;
}

CPUCollector::CPUCollector(std::string root)
    : root_(std::move(root)), procfs_(root_), sysfs_(root_) {}

int CPUCollector::data(CPUData* data) {
    std::lock_guard<std::mutex> lock(mutex_);
    *data = CPUData{0, 0, 0, 0, 0};
    auto ticks = procfs_.cpuTicks();
    platform::reportIfFailed(ticks, "processor ticks");
    if (ticks) {
        CPUTicks current = toCPUTicks(ticks.value);
        bool reset = false;
        CPULoad load = deriveCPULoad(previous_, current, &reset);
        data->user = load.user;
        data->system = load.system;
        data->idle = load.idle;
        previous_ = current;
    } else if (ticks.outcome == Outcome::absent) {
        platform::reportUnreadable("processor ticks", procfs_.path("/proc/stat") + ": missing");
    }
    auto load = procfs_.loadAverage();
    platform::reportIfFailed(load, "load and processes");
    auto processes = countProcesses(ticks ? ticks.value.forks : std::nullopt, load);
    platform::reportIfFailed(processes, "load and processes");
    if (processes && load) {
        data->processes = processes.value;
        data->threads = load.value.total;
    }
    sampledLoad_ = load ? std::make_tuple(load.value.one, load.value.five, load.value.fifteen)
                        : std::make_tuple(0.0, 0.0, 0.0);
    return 1;
}

// The set of tasks, and so their number, stays the same while none is created (the fork count
// goes up) and none is reaped (the thread total goes down, or the fork count up when another is
// created meanwhile). Both are read before the walk, so a change while it runs shows in the next
// sample's pair.
// The walk costs the kernel a microsecond or two per process: a machine of thousands of them,
// where tasks come and go all the time, would be walked at every sample.
std::chrono::steady_clock::duration CPUCollector::recountSpacing(std::uint32_t processes) {
    if (processes < kManyProcesses)
        return std::chrono::steady_clock::duration::zero();
    return std::min<std::chrono::steady_clock::duration>(kProcessRecount,
                                                         kRecountPerProcess * processes);
}

platform::Read<std::uint32_t> CPUCollector::countProcesses(
    std::optional<std::uint64_t> forks, const platform::Read<platform::LoadAverage>& load) {
    const auto now = std::chrono::steady_clock::now();
    const bool known = forks && load;
    if (known && counted_ && now - counted_->at < kProcessRecount &&
        ((counted_->forks == *forks && counted_->threads == load.value.total) ||
         now - counted_->at < recountSpacing(counted_->processes))) {
        return platform::Read<std::uint32_t>::of(counted_->processes);
    }
    auto processes = procfs_.processCount();
    if (known && processes)
        counted_ = CountedProcesses{*forks, load.value.total, processes.value, now};
    else
        counted_.reset();
    return processes;
}

std::optional<host_basic_info> CPUCollector::hostInfo() const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto counts = sysfs_.coreCounts();
    platform::reportIfFailed(counts, "core counts");
    if (!counts)
        return std::nullopt;
    host_basic_info info{};
    auto clamp32 = [](std::int64_t v) {
        return static_cast<std::int32_t>(
            std::min<std::int64_t>(std::max<std::int64_t>(v, 0), INT32_MAX));
    };
    info.max_cpus = clamp32(counts.value.logicalMax);
    info.avail_cpus = clamp32(counts.value.logicalNow);
    info.physical_cpu = clamp32(counts.value.physicalNow);
    info.physical_cpu_max = clamp32(counts.value.physicalMax);
    info.logical_cpu = clamp32(counts.value.logicalNow);
    info.logical_cpu_max = clamp32(counts.value.logicalMax);
    if (auto mem = procfs_.memInfo(); mem && mem.value.memTotal) {
        info.max_mem = *mem.value.memTotal;
        info.memory_size =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(info.max_mem, UINT32_MAX));
    }
    return info;
}

std::string CPUCollector::brand() const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto raw = procfs_.cpuBrand();
    platform::reportIfFailed(raw, "processor name");
    if (!raw)
        return std::string();
    return cleanCPUBrand(raw.value);
}

std::int64_t CPUCollector::bootTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto boot = procfs_.bootTime();
    platform::reportIfFailed(boot, "boot time");
    return boot ? boot.value : 0;
}

std::tuple<double, double, double> CPUCollector::loadavg() const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto load = procfs_.loadAverage();
    platform::reportIfFailed(load, "load average");
    if (!load)
        return {0, 0, 0};
    return {load.value.one, load.value.five, load.value.fifteen};
}

std::tuple<double, double, double> CPUCollector::sampledLoadAverage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sampledLoad_;
}

platform::ThermalState CPUCollector::thermalState() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    const bool listDue =
        !zones_ || now - zonesListed_ >= std::chrono::duration<double>(kZoneListSeconds);
    if (listDue || !sysfs_.refreshTemperatures(*zones_)) {
        auto zones = sysfs_.thermalZones();
        platform::reportIfFailed(zones, "thermal zones");
        zones_ = zones ? std::move(zones.value) : std::vector<platform::ThermalZone>{};
        zonesListed_ = now;
    }
    return platform::thermalStateOf(*zones_);
}

CPUCollector& sharedCPUCollector() {
    static auto* collector = new CPUCollector("/");
    return *collector;
}

}  // namespace vigil

int getCPUData(CPUData* data) {
    return vigil::sharedCPUCollector().data(data);
}

void getHostInfo(const std::function<void(host_basic_info*)>& callback) {
    if (auto info = vigil::sharedCPUCollector().hostInfo())
        callback(&*info);
}

std::string getCPUBrand() {
    std::string brand = vigil::sharedCPUCollector().brand();
    return brand;
}

std::int64_t getboottime() {
    return vigil::sharedCPUCollector().bootTime();
}
