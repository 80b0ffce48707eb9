#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/KeptFile.h"
#include "platform/Read.h"

namespace vigil::platform {

// Parses a kernel CPU list ("0-3,6,8-9"); nullopt on anything malformed. Empty text is an empty
// list.
std::optional<std::vector<int>> parseCpuList(std::string_view text);

struct CoreCounts {
    std::int64_t physicalMax = 0, physicalNow = 0, logicalMax = 0, logicalNow = 0;
};

// Reads the logical-to-physical core topology of a set of CPUs: for each CPU its (package, core)
// pair, or nullopt when its topology is not visible (an offline CPU).
struct CpuTopology {
    int cpu = 0;
    std::optional<std::pair<std::int64_t, std::int64_t>> packageAndCore;
};
// Derives the four counts from the present and online lists and the topology of every present CPU.
CoreCounts deriveCoreCounts(const std::vector<int>& present, const std::vector<int>& online,
                            const std::vector<CpuTopology>& topology);

enum class ThermalState { nominal, fair, serious, critical };
const char* toString(ThermalState state);

struct TripPoint {
    std::string type;  // "passive", "active", "hot", "critical"
    std::int64_t milliCelsius = 0;
};
struct ThermalZone {
    std::string name;  // thermal_zoneN
    std::string type;  // "x86_pkg_temp", "acpitz", ...
    std::int64_t milliCelsius = 0;
    std::vector<TripPoint> trips;
};
// The state of one zone: critical at or above a "critical" or "hot" trip point, serious at or above
// a "passive" trip point (the kernel throttles there), fair within 10 °C below the lowest of those,
// nominal otherwise and for a zone without such trip points.
ThermalState thermalStateOf(const ThermalZone& zone);
// The worst state of all zones; nominal without zones.
ThermalState thermalStateOf(const std::vector<ThermalZone>& zones);

// zram's mm_stat: bytes of memory the compressed store uses (third field); nullopt if malformed.
std::optional<std::uint64_t> parseZramMemUsed(std::string_view mmStat);

// Reads /sys under a root directory.
class Sysfs {
  public:
    explicit Sysfs(std::string root = "/");
    const std::string& root() const { return root_; }
    std::string path(std::string_view rel) const { return joinRoot(root_, rel); }

    Read<std::vector<int>> presentCpus() const;
    Read<std::vector<int>> onlineCpus() const;
    Read<CoreCounts> coreCounts() const;
    // Every zone with a readable temperature; zones that fail to read are left out and reported.
    Read<std::vector<ThermalZone>> thermalZones() const;
    // Reads the temperature of each zone listed before; false when one cannot be read (the zone
    // went away or its sensor stopped answering), which calls for listing the zones again.
    bool refreshTemperatures(std::vector<ThermalZone>& zones) const;
    // The zram devices: their names under /sys/block.
    std::vector<std::string> zramDevices() const;
    // The statistics files of these zram devices, kept open for zramMemoryUsed.
    std::vector<KeptFile> zramStatFiles(const std::vector<std::string>& devices) const;
    // Memory used by the zram devices of these files (absent when there is none); `gone` is set
    // when one of them is no longer there.
    Read<std::uint64_t> zramMemoryUsed(std::vector<KeptFile>& statFiles,
                                       bool* gone = nullptr) const;
    // Memory used by every zram device (absent when there is none).
    Read<std::uint64_t> zramMemoryUsed() const {
        auto files = zramStatFiles(zramDevices());
        return zramMemoryUsed(files);
    }

  private:
    Read<std::vector<int>> cpuList(const char* name) const;
    std::string root_;
};

}  // namespace vigil::platform
