#include "system/Sensors.h"

#include <algorithm>
#include <filesystem>

namespace vigil {

namespace fs = std::filesystem;
using platform::SensorChip;
using platform::SensorKind;

Sensors::Sensors(std::string root, Reader reader)
    : root_(std::move(root)),
      reader_(std::move(reader)),
      sysfs_(root_),
      snapshot_(std::make_shared<Snapshot>()) {
    if (!reader_) {
        reader_ = [root = root_] {
            auto read = platform::readSensorsUnder(root);
            if (!read.error.empty())
                platform::reportError("sensors", read.error);
            return std::move(read.chips);
        };
    }
}

void Sensors::update() {
    auto next = std::make_shared<Snapshot>();
    next->chips = reader_();
    const auto zones = sysfs_.thermalZones();
    std::string preferred;
    {
        std::lock_guard lock(mutex_);
        preferred = preferred_;
    }
    next->cpu = chooseCPUSensor(next->chips, zones.value, preferred);
    std::lock_guard lock(mutex_);
    snapshot_ = std::move(next);
}

std::shared_ptr<const Sensors::Snapshot> Sensors::snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

void Sensors::setPreferredCPUSensor(std::string id) {
    std::lock_guard lock(mutex_);
    preferred_ = std::move(id);
}

namespace {

std::optional<Sensors::CPUTemperature> temperatureOf(const SensorChip& chip,
                                                     const std::string& label) {
    for (const auto& sensor : chip.sensors) {
        if (sensor.kind == SensorKind::temperature && sensor.label == label && sensor.value)
            return Sensors::CPUTemperature{sensor.id, *sensor.value, sensor.max, sensor.critical};
    }
    return std::nullopt;
}

std::optional<Sensors::CPUTemperature> byRule(const std::vector<SensorChip>& chips) {
    const std::pair<const char*, std::vector<const char*>> rules[] = {
        {"coretemp", {"Package id 0"}},
        {"k10temp", {"Tdie", "Tctl"}},
        {"zenpower", {"Tdie", "Tctl"}},
    };
    for (const auto& [prefix, labels] : rules) {
        for (const auto& chip : chips) {
            if (chip.prefix != prefix)
                continue;
            for (const char* label : labels) {
                if (auto found = temperatureOf(chip, label))
                    return found;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<Sensors::CPUTemperature> Sensors::chooseCPUSensor(
    const std::vector<SensorChip>& chips, const std::vector<platform::ThermalZone>& zones,
    const std::string& preferred) {
    if (!preferred.empty()) {
        for (const auto& chip : chips) {
            for (const auto& sensor : chip.sensors) {
                if (sensor.id == preferred && sensor.value)
                    return CPUTemperature{sensor.id, *sensor.value, sensor.max, sensor.critical};
            }
        }
    }
    if (auto found = byRule(chips))
        return found;
    std::optional<CPUTemperature> hottest;
    for (const auto& zone : zones) {
        if (zone.type.find("cpu") == std::string::npos)
            continue;
        const double celsius = static_cast<double>(zone.milliCelsius) / 1000.0;
        if (!hottest || celsius > hottest->celsius)
            hottest = CPUTemperature{zone.type, celsius, std::nullopt, std::nullopt};
    }
    return hottest;
}

std::optional<double> Sensors::driveTemperature(const std::string& disk) const {
    if (disk.empty() || disk.find('/') != std::string::npos)
        return std::nullopt;
    // A SATA disk's device is its SCSI device, where drivetemp hangs its chip; an NVMe namespace's
    // device is the controller, whose own device is the PCI function that holds the nvme chip.
    std::vector<std::string> devices;
    std::error_code error;
    // A partition's drive is the folder above it.
    std::string whole = disk;
    const fs::path entry = fs::path(sysfs_.path("/sys/class/block/")) / disk;
    if (fs::exists(entry / "partition", error))
        whole = fs::canonical(entry, error).parent_path().filename().string();
    fs::path device = fs::path(sysfs_.path("/sys/block/")) / whole / "device";
    for (int depth = 0; depth < 2; ++depth) {
        const auto target = fs::read_symlink(device, error);
        if (error)
            break;
        devices.push_back(target.filename().string());
        device = device / "device";
    }
    const auto snap = snapshot();
    for (const auto& chip : snap->chips) {
        if (chip.prefix != "nvme" && chip.prefix != "drivetemp")
            continue;
        if (std::find(devices.begin(), devices.end(), chip.device) == devices.end())
            continue;
        for (const auto& sensor : chip.sensors) {
            if (sensor.kind == SensorKind::temperature && sensor.value)
                return sensor.value;
        }
    }
    return std::nullopt;
}

}  // namespace vigil
