#include "collectors/MachineFigures.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace vigil {

namespace {

bool isBusyMode(std::string_view mode) {
    return mode == "user" || mode == "nice" || mode == "system" || mode == "irq" ||
           mode == "softirq";
}
bool isIdleMode(std::string_view mode) {
    return mode == "idle" || mode == "iowait";
}

void add(std::optional<double>& sum, double value) {
    if (std::isfinite(value))
        sum = sum.value_or(0) + value;
}

void set(std::optional<double>& figure, double value) {
    if (std::isfinite(value))
        figure = value;
}

std::optional<double> delta(const std::optional<double>& before, const std::optional<double>& now) {
    if (!before || !now || *now < *before)
        return std::nullopt;
    return *now - *before;
}

std::optional<int> roundedUpPercent(const std::optional<double>& part,
                                    const std::optional<double>& whole) {
    if (!part || !whole || *whole <= 0)
        return std::nullopt;
    double share = std::clamp(*part / *whole * 100.0, 0.0, 100.0);
    return static_cast<int>(std::ceil(share));
}

struct SensorKey {
    std::string chip, sensor;
    auto operator<=>(const SensorKey&) const = default;
};

void readTemperatures(const std::vector<PrometheusSample>& samples, NodeCounters& counters) {
    std::map<SensorKey, std::string> labels;
    for (const auto& sample : samples)
        if (sample.name == "node_hwmon_sensor_label")
            labels[{std::string(sample.label("chip")), std::string(sample.label("sensor"))}] =
                sample.label("label");
    for (const auto& sample : samples) {
        if (sample.name != "node_hwmon_temp_celsius" || !std::isfinite(sample.value))
            continue;
        SensorKey key{std::string(sample.label("chip")), std::string(sample.label("sensor"))};
        auto label = labels.find(key);
        std::string name = label != labels.end() && !label->second.empty()
                               ? label->second
                               : key.chip + " " + key.sensor;
        counters.temperatures.push_back({std::move(name), sample.value});
    }
}

}  // namespace

std::optional<int> MachineFigures::diskUsedPercent() const {
    if (!diskUsed || !diskAvailable)
        return std::nullopt;
    return roundedUpPercent(diskUsed, *diskUsed + *diskAvailable);
}

std::optional<int> MachineFigures::memoryUsedPercent() const {
    if (!memoryUsed || !memoryTotal || *memoryTotal <= 0)
        return std::nullopt;
    return static_cast<int>(
        std::lround(std::clamp(*memoryUsed / *memoryTotal * 100.0, 0.0, 100.0)));
}

namespace {
constexpr std::string_view kVirtualLinkPrefixes[] = {
    "lo",  "veth",    "docker", "br-",  "virbr",  "vnet",  "tun",     "tap",  "dummy",
    "cni", "flannel", "cali",   "kube", "lxc",    "lxd",   "vxlan",   "gre",  "ip6tnl",
    "sit", "ifb",     "wg",     "zt",   "podman", "vmnet", "vboxnet", "bond", "team"};
}  // namespace

bool isPhysicalLinkName(std::string_view device) {
    if (device.empty())
        return false;
    for (std::string_view prefix : kVirtualLinkPrefixes)
        if (device.substr(0, prefix.size()) == prefix)
            return false;
    return true;
}

std::string virtualLinkPattern() {
    std::string pattern = "(";
    for (std::string_view prefix : kVirtualLinkPrefixes) {
        if (pattern.size() > 1)
            pattern += '|';
        pattern += prefix;
    }
    return pattern + ").*";
}

NodeCounters nodeCounters(const std::vector<PrometheusSample>& samples) {
    NodeCounters counters;
    for (const auto& sample : samples) {
        const std::string& name = sample.name;
        double value = sample.value;
        if (name == "node_cpu_seconds_total") {
            std::string_view mode = sample.label("mode");
            if (isBusyMode(mode))
                add(counters.cpuBusySeconds, value);
            if (isBusyMode(mode) || isIdleMode(mode))
                add(counters.cpuCountedSeconds, value);
        } else if (name == "node_memory_MemTotal_bytes") {
            set(counters.memoryTotal, value);
        } else if (name == "node_memory_MemAvailable_bytes") {
            set(counters.memoryAvailable, value);
        } else if (name.starts_with("node_filesystem_") && sample.label("mountpoint") == "/") {
            if (name == "node_filesystem_size_bytes")
                set(counters.rootSize, value);
            else if (name == "node_filesystem_free_bytes")
                set(counters.rootFree, value);
            else if (name == "node_filesystem_avail_bytes")
                set(counters.rootAvailable, value);
        } else if (name == "node_network_receive_bytes_total" &&
                   isPhysicalLinkName(sample.label("device"))) {
            add(counters.receivedBytes, value);
        } else if (name == "node_network_transmit_bytes_total" &&
                   isPhysicalLinkName(sample.label("device"))) {
            add(counters.sentBytes, value);
        } else if (name == "node_load1") {
            set(counters.load1, value);
        } else if (name == "node_load5") {
            set(counters.load5, value);
        } else if (name == "node_load15") {
            set(counters.load15, value);
        } else if (name == "node_boot_time_seconds") {
            set(counters.bootTime, value);
        } else if (name == "node_time_seconds") {
            set(counters.time, value);
        } else if (name == "node_uname_info") {
            counters.nodeName = sample.label("nodename");
        }
    }
    readTemperatures(samples, counters);
    return counters;
}

MachineFigures deriveMachineFigures(const NodeCounters* previous, const NodeCounters& current,
                                    std::chrono::duration<double> elapsed) {
    MachineFigures figures;
    figures.name = current.nodeName;
    figures.memoryTotal = current.memoryTotal;
    if (current.memoryTotal && current.memoryAvailable)
        figures.memoryUsed = std::max(0.0, *current.memoryTotal - *current.memoryAvailable);
    figures.diskTotal = current.rootSize;
    if (current.rootSize && current.rootFree)
        figures.diskUsed = std::max(0.0, *current.rootSize - *current.rootFree);
    figures.diskAvailable = current.rootAvailable;
    figures.load1 = current.load1;
    figures.load5 = current.load5;
    figures.load15 = current.load15;
    if (current.time && current.bootTime)
        figures.uptime = std::max(0.0, *current.time - *current.bootTime);
    figures.temperatures = current.temperatures;
    if (!previous)
        return figures;
    auto busy = delta(previous->cpuBusySeconds, current.cpuBusySeconds);
    auto counted = delta(previous->cpuCountedSeconds, current.cpuCountedSeconds);
    if (busy && counted && *counted > 0)
        figures.processorBusy = std::clamp(*busy / *counted * 100.0, 0.0, 100.0);
    double seconds = elapsed.count();
    if (seconds > 0) {
        if (auto received = delta(previous->receivedBytes, current.receivedBytes))
            figures.downloadRate = *received / seconds;
        if (auto sent = delta(previous->sentBytes, current.sentBytes))
            figures.uploadRate = *sent / seconds;
    }
    return figures;
}

}  // namespace vigil
