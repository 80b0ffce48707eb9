#pragma once

// Another machine's figures, as its Prometheus node exporter reports them, computed the same way as
// the local machine's: processor busy = (user + nice + system + irq + softirq) over those plus idle
// and iowait (steal and guest left out, as /proc/stat is read locally); memory used = MemTotal -
// MemAvailable; the root file system's used share as df shows it, used / (used + available);
// upload and download summed over the links that are not virtual.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "collectors/PrometheusText.h"

namespace vigil {

struct MachineTemperature {
    std::string name;  // the sensor's label, else "chip sensor"
    double celsius = 0;
};

struct MachineFigures {
    std::string name;      // the node name, else the address it is scraped at
    std::string instance;  // Prometheus's instance label (host:port), or the exporter's URL
    std::optional<double> processorBusy;  // percent, 0-100
    std::optional<double> memoryTotal;    // bytes
    std::optional<double> memoryUsed;
    std::optional<double> diskTotal;  // the root file system, bytes
    std::optional<double> diskUsed;
    std::optional<double> diskAvailable;
    std::optional<double> downloadRate;  // bytes per second
    std::optional<double> uploadRate;
    std::optional<double> load1, load5, load15;
    std::optional<double> uptime;  // seconds
    std::vector<MachineTemperature> temperatures;

    // used / (used + available) x 100, rounded up as df does; nothing when either is unknown.
    std::optional<int> diskUsedPercent() const;
    // used / total x 100, rounded to the nearest; nothing when either is unknown.
    std::optional<int> memoryUsedPercent() const;
};

// A link counted in upload and download: not loopback and not one of the virtual kinds that carry
// another link's traffic again (veth, bridges, tunnels, container and VM links).
bool isPhysicalLinkName(std::string_view device);
// The same links as a PromQL regular expression (what isPhysicalLinkName refuses).
std::string virtualLinkPattern();

// The counters of one scrape, before rates.
struct NodeCounters {
    std::string nodeName;
    std::optional<double> cpuBusySeconds, cpuCountedSeconds;
    std::optional<double> memoryTotal, memoryAvailable;
    std::optional<double> rootSize, rootFree, rootAvailable;
    std::optional<double> receivedBytes, sentBytes;
    std::optional<double> load1, load5, load15;
    std::optional<double> bootTime, time;
    std::vector<MachineTemperature> temperatures;
};

NodeCounters nodeCounters(const std::vector<PrometheusSample>& samples);

// The figures of `current`, with processor busy and rates over `elapsed` since `previous` (none
// without a previous scrape, or where a counter went down: a restart).
MachineFigures deriveMachineFigures(const NodeCounters* previous, const NodeCounters& current,
                                    std::chrono::duration<double> elapsed);

}  // namespace vigil
