#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Sensors.h"
#include "platform/Sysfs.h"
#include "system/SystemResource.h"

namespace vigil {

// Every temperature, fan, voltage, current and power sensor of the machine, read through
// libsensors on the background queue and published as one immutable snapshot, with the
// processor's temperature chosen among them.
class Sensors : public SystemResource {
  public:
    // The processor's temperature and where it comes from: a sensor's id, or a thermal zone's
    // type ("cpu-thermal") where no sensor chip of the processor is known.
    struct CPUTemperature {
        std::string source;
        double celsius = 0;
        std::optional<double> max, critical;  // the chip's limits, where it gives them
        bool operator==(const CPUTemperature&) const = default;
    };
    struct Snapshot {
        std::vector<platform::SensorChip> chips;
        std::optional<CPUTemperature> cpu;
    };
    using Reader = std::function<std::vector<platform::SensorChip>()>;

    // Reads the machine under `root` ("/": this machine, in-process; another tree is read in a
    // private mount namespace, as root). `reader` replaces the read (benchmarks).
    explicit Sensors(std::string root = "/", Reader reader = nullptr);

    SystemResourceType type() const override { return SystemResourceType::sensors; }
    void update() override;

    std::shared_ptr<const Snapshot> snapshot() const;
    std::optional<CPUTemperature> cpuTemperature() const { return snapshot()->cpu; }
    // The sensor the user picked for the processor ("" or an id that is not there: by rule).
    void setPreferredCPUSensor(std::string id);
    // The temperature of a disk or of a partition's disk ("nvme0n1", "sda1") from the drive's own
    // sensor chip (nvme, drivetemp), when it has one.
    std::optional<double> driveTemperature(const std::string& disk) const;

    // The processor's sensor: the preferred one when present, else coretemp's "Package id 0",
    // k10temp's Tdie or Tctl, zenpower's Tdie or Tctl, else the hottest thermal zone whose type
    // names the cpu.
    static std::optional<CPUTemperature> chooseCPUSensor(
        const std::vector<platform::SensorChip>& chips,
        const std::vector<platform::ThermalZone>& zones, const std::string& preferred);

  private:
    std::string root_;
    Reader reader_;
    platform::Sysfs sysfs_;
    mutable std::mutex mutex_;
    std::shared_ptr<const Snapshot> snapshot_;
    std::string preferred_;
};

}  // namespace vigil
