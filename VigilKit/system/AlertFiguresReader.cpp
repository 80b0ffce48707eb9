#include "system/AlertFiguresReader.h"

#include <algorithm>
#include <cmath>

#include "platform/BlockingCalls.h"
#include "platform/Smart.h"
#include "platform/UDisksSmart.h"
#include "system/Applications.h"
#include "system/Battery.h"
#include "system/Disk.h"
#include "system/Memory.h"
#include "system/Sensors.h"

namespace vigil {

namespace {

// File systems that are full by design (discs, images): never "almost full".
bool alwaysFull(const std::string& fstype) {
    return fstype == "iso9660" || fstype == "udf" || fstype == "squashfs";
}

// The drive's health; nothing when it could not be read (a drive not read keeps what it had).
std::optional<AlertFigures::Drive> readDrive(const std::string& disk, const std::string& model) {
    AlertFigures::Drive drive;
    drive.name = disk;
    drive.model = model;
    drive.nvme = disk.rfind("nvme", 0) == 0;
    auto reading = UDisksSmart().read(disk);
    if (!reading) {
        // No UDisks2 answer: the drive itself, where this process may ask it (root).
        if (auto transport = openSmartTransport("/", disk))
            reading = readSmart(*transport);
    }
    if (!reading || reading->availability != SmartAvailability::read)
        return std::nullopt;
    drive.failing = !reading->passed;
    drive.reallocatedSectors = reading->reallocatedSectors;
    return drive;
}

}  // namespace

AlertFiguresReader::AlertFiguresReader(System& system, std::string root, BlockingCalls* blocking)
    : system_(system), procfs_(std::move(root)), blocking_(blocking) {}

bool AlertFiguresReader::wants(const std::vector<AlertRuleConfig>& enabled, AlertKind kind) const {
    return std::any_of(enabled.begin(), enabled.end(),
                       [kind](const AlertRuleConfig& rule) { return rule.kind == kind; });
}

System::Task* AlertFiguresReader::restingTask(SystemResourceType type) const {
    for (const auto& task : system_.tasks()) {
        if (task->resource().type() == type && task->status() != Timer::Status::started)
            return task.get();
    }
    return nullptr;
}

void AlertFiguresReader::sampleIfResting(SystemResourceType type,
                                         std::optional<Clock::time_point>* last,
                                         std::chrono::seconds interval) {
    const auto now = Clock::now();
    if (*last && now - **last < interval)
        return;
    if (auto* task = restingTask(type)) {
        task->sampleNow();
        *last = now;
    }
}

AlertFigures AlertFiguresReader::read(const std::vector<AlertRuleConfig>& enabled) {
    AlertFigures figures;
    readProcessorAndMemory(enabled, figures);
    if (wants(enabled, AlertKind::volumeLow) || wants(enabled, AlertKind::volumeFillingFast))
        readVolumes(figures);
    if (wants(enabled, AlertKind::temperatureHigh))
        readTemperatures(figures);
    if (wants(enabled, AlertKind::batteryLow))
        readBattery(figures);
    if (wants(enabled, AlertKind::driveHealth))
        readDrives(figures);
    return figures;
}

void AlertFiguresReader::readProcessorAndMemory(const std::vector<AlertRuleConfig>& enabled,
                                                AlertFigures& figures) {
    bool pastWarning = false;
    const auto level = [&](AlertKind kind) {
        for (const auto& rule : enabled) {
            if (rule.kind == kind)
                return std::optional<double>(rule.warnLevel);
        }
        return std::optional<double>();
    };
    if (const auto warn = level(AlertKind::processorBusy)) {
        const auto ticks = reportIfFailed(procfs_.cpuTicks(), "alerts: processor ticks");
        if (ticks) {
            const auto current = toCPUTicks(ticks.value);
            if (lastTicks_) {
                bool reset = false;
                const auto load = deriveCPULoad(*lastTicks_, current, &reset);
                if (!reset)
                    figures.processorBusy = load.user + load.system;
            }
            lastTicks_ = current;
        }
        pastWarning |= figures.processorBusy && *figures.processorBusy > *warn;
    }
    const auto memoryWarn = level(AlertKind::memoryLow);
    const auto swapWarn = level(AlertKind::swapFilling);
    if ((memoryWarn || swapWarn) && system_.resources().mem) {
        const Memory& memory = *system_.resources().mem;
        std::optional<Clock::time_point> always;
        sampleIfResting(SystemResourceType::mem, &always, std::chrono::seconds(0));
        const auto sample = memory.sample();
        // Of the installed memory, as `free` shows it; the sample's own total where unknown.
        const double total =
            memory.physical() > 0 ? double(memory.physical()) : double(sample->total());
        if (memoryWarn && total > 0) {
            figures.memoryAvailable = std::min(100.0, double(sample->free) / total * 100);
            pastWarning |= *figures.memoryAvailable < *memoryWarn;
        }
        const auto [swapTotal, swapUsed] = memory.swap();
        if (swapWarn && swapTotal > 0) {
            figures.swapUsed = double(swapUsed) / double(swapTotal) * 100;
            pastWarning |= *figures.swapUsed > *swapWarn;
        }
    }
    if (pastWarning)
        readApplications(figures);
}

void AlertFiguresReader::readApplications(AlertFigures& figures) {
    const auto& apps = system_.resources().apps;
    if (!apps)
        return;
    sampleIfResting(SystemResourceType::app, &appsSampled_, std::chrono::seconds(0));
    for (const auto& process : apps->processes()) {
        if (!figures.topProcessor || process.cpu > figures.topProcessor->figure)
            figures.topProcessor = AlertFigures::TopApplication{process.name(), process.cpu};
        if (!figures.topMemory || double(process.mem) > figures.topMemory->figure)
            figures.topMemory = AlertFigures::TopApplication{process.name(), double(process.mem)};
    }
}

void AlertFiguresReader::readVolumes(AlertFigures& figures) {
    const auto& disk = system_.resources().disk;
    if (!disk)
        return;
    sampleIfResting(SystemResourceType::disk, &volumesSampled_, kVolumeInterval);
    for (const auto& [path, volume] : disk->volumes()) {
        const std::int64_t total = volume.used + volume.free;
        if (volume.stale || total <= 0 || volume.free < 0 || alwaysFull(volume.fstype))
            continue;
        figures.volumes.push_back(
            {path, volume.name.empty() ? path : volume.name, volume.free, total});
    }
}

void AlertFiguresReader::readTemperatures(AlertFigures& figures) {
    const auto& sensors = system_.resources().sensors;
    if (!sensors)
        return;
    sampleIfResting(SystemResourceType::sensors, &sensorsSampled_,
                    sensorsGiveLimits_ ? std::chrono::seconds(0) : kSensorlessInterval);
    bool limits = false;
    for (const auto& chip : sensors->snapshot()->chips) {
        for (const auto& sensor : chip.sensors) {
            if (sensor.kind != platform::SensorKind::temperature || !sensor.value)
                continue;
            limits |= sensor.max.has_value() || sensor.critical.has_value();
            figures.temperatures.push_back(
                {sensor.id, sensor.label, *sensor.value, sensor.max, sensor.critical});
        }
    }
    sensorsGiveLimits_ = limits;
}

void AlertFiguresReader::readBattery(AlertFigures& figures) {
    const auto& battery = system_.resources().battery;
    if (!battery)
        return;
    const auto state = battery->state();
    if (!state->hasBattery)
        return;
    figures.battery =
        AlertFigures::Battery{state->percent, !state->isCharging && !state->isACPowered};
}

void AlertFiguresReader::readDrives(AlertFigures& figures) {
    const auto now = Clock::now();
    const auto& disk = system_.resources().disk;
    if (disk && (!drivesChecked_ || now - *drivesChecked_ >= kDriveInterval)) {
        drivesChecked_ = now;
        std::vector<std::pair<std::string, std::string>> disks;  // whole disk, model
        for (const auto& [path, volume] : disk->volumes()) {
            const bool listed = std::any_of(disks.begin(), disks.end(), [&](const auto& known) {
                return known.first == volume.wholeDisk;
            });
            if (!volume.wholeDisk.empty() && !listed)
                disks.emplace_back(volume.wholeDisk, volume.model);
        }
        auto& blocking = blocking_ ? *blocking_ : BlockingCalls::shared();
        blocking.post("alerts: drive health", [disks, health = driveHealth_] {
            std::vector<std::optional<AlertFigures::Drive>> read;
            for (const auto& [name, model] : disks)
                read.push_back(readDrive(name, model));
            std::lock_guard lock(health->mutex);
            std::vector<AlertFigures::Drive> drives;
            for (std::size_t i = 0; i < disks.size(); ++i) {
                const auto before =
                    std::find_if(health->drives.begin(), health->drives.end(),
                                 [&](const auto& drive) { return drive.name == disks[i].first; });
                if (read[i])
                    drives.push_back(std::move(*read[i]));
                else if (before != health->drives.end())
                    drives.push_back(*before);
            }
            health->drives = std::move(drives);
        });
    }
    std::lock_guard lock(driveHealth_->mutex);
    figures.drives = driveHealth_->drives;
}

}  // namespace vigil
