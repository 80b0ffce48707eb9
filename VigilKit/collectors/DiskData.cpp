#include "collectors/DiskData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "C/system/Time.h"
#include "platform/Bus.h"
#include "platform/Read.h"
#include "platform/UDisksSmart.h"
#include "runtime/Queue.h"

namespace vigil {

namespace {

constexpr auto busTimeout = std::chrono::seconds(5);

}  // namespace

DiskCollector::DiskCollector(Options options)
    : options_(std::move(options)),
      mountTable_(options_.root),
      blockDevices_(options_.root),
      statfs_(options_.answerTimeout, options_.statFunction, options_.blockingCalls),
      blockingCalls_(options_.blockingCalls ? *options_.blockingCalls : BlockingCalls::shared()),
      eject_(VolumeEject::Options{options_.root, options_.useUDisks, options_.busAddress},
             blockingCalls_) {}

DiskCollector& DiskCollector::shared() {
    static DiskCollector* collector = new DiskCollector(Options{});
    return *collector;
}

int64_t DiskCollector::monotonicMs() {
    return Time_monotonicMilli();
}

int64_t DiskCollector::epochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

DiskCollector::Sample DiskCollector::fileSystemSizeOf(const std::string& path, DiskData* record) {
    struct statvfs st {};
    int error = 0;
    // A volume unmounted since it was listed: statvfs described the file system under the old
    // mount point, whose figures are not the volume's (the next listing drops the volume).
    const bool checkMountPoint = options_.root == "/";
    switch (statfs_.run(platform::joinRoot(options_.root, path), checkMountPoint, &st, &error)) {
        case StatfsRunner::Outcome::ok:
            break;
        case StatfsRunner::Outcome::notMountPoint:
            return Sample::gone;
        case StatfsRunner::Outcome::failed:
            platform::reportError("statfs " + path, std::strerror(error));
            return Sample::failed;
        case StatfsRunner::Outcome::timedOut:
            platform::reportError(
                "statfs " + path,
                "no answer within " + std::to_string(options_.answerTimeout.count()) + " ms");
            return Sample::notAnswering;
        case StatfsRunner::Outcome::skipped:
            return Sample::notAnswering;
    }
    auto size = fileSystemSize(st);
    if (!size) {
        platform::reportError("statfs " + path, "inconsistent block counts");
        return Sample::failed;
    }
    record->total = size->total;
    record->free = size->free;
    record->used = size->used;
    return Sample::ok;
}

bool DiskCollector::getDiskDataFor(const char* path, DiskData* record) {
    if (!path || !record)
        return false;
    return fileSystemSizeOf(path, record) == Sample::ok;
}

bool DiskCollector::getDiskActivity(const char* bsdName, const char* path, DiskData* record,
                                    bool* countersRead) {
    if (countersRead)
        *countersRead = false;
    if (!path || !record)
        return false;
    bool read = false;
    const bool ok = sample(bsdName ? bsdName : "", path, record, &read) == Sample::ok;
    if (countersRead)
        *countersRead = read;
    return ok;
}

DiskCollector::Sample DiskCollector::sample(const std::string& device, const std::string& path,
                                            DiskData* record, bool* countersRead) {
    *countersRead = false;
    const Sample sizes = fileSystemSizeOf(path, record);
    if (sizes != Sample::ok || device.empty())
        return sizes;
    auto disk = cachedWholeDisk(device);
    if (!disk)
        return sizes;
    // A device that vanished between the lookup and the read is a failed read: counters stay.
    if (auto stat = blockDevices_.stat(*disk)) {
        record->rbytes = stat->readBytes;
        record->wbytes = stat->writtenBytes;
        *countersRead = true;
    } else {
        std::lock_guard lock(mutex_);
        wholeDisks_.erase(device);  // looked up afresh next time
    }
    return sizes;
}

std::optional<std::string> DiskCollector::cachedWholeDisk(const std::string& device) {
    {
        std::lock_guard lock(mutex_);
        if (auto known = wholeDisks_.find(device); known != wholeDisks_.end())
            return known->second;
    }
    auto disk = blockDevices_.wholeDisk(device);
    std::lock_guard lock(mutex_);
    wholeDisks_[device] = disk;
    return disk;
}

std::string DiskCollector::wholeDisk(const std::string& device) const {
    return blockDevices_.wholeDisk(device).value_or("");
}

std::string DiskCollector::iconName(const std::string& disk, const std::string& fstype) const {
    if (fstype == "iso9660" || fstype == "udf")
        return "media-optical";
    if (isNetworkFileSystem(fstype))
        return "folder-remote";
    if (!disk.empty() && disk.find('/') == std::string::npos) {
        auto removable = platform::readFile(
            platform::joinRoot(options_.root, "/sys/block/" + disk + "/removable"));
        if (removable && removable.value.starts_with('1')) {
            return "drive-removable-media";
        }
    }
    return "drive-harddisk";
}

void DiskCollector::forEachVolume(const VolumeCallback& callback) {
    auto table = mountTable_.read();
    if (!table)
        return;
    auto listed = listedMounts(*table);
    {
        std::lock_guard lock(mutex_);
        wholeDisks_.clear();  // devices come and go with mounts
    }
    const int64_t timestamp = epochMs();
    const int64_t monotonic = monotonicMs();
    for (const auto& entry : listed) {
        DiskData record{};
        std::string device = entry.deviceBaseName();
        std::string name = cutUtf8(device, 64);
        std::string model = "unknown";
        const Sample sizes = fileSystemSizeOf(entry.mountPoint, &record);
        if (sizes == Sample::gone)
            continue;
        VolumeFacts facts;
        facts.sizesRead = sizes == Sample::ok;
        facts.deviceNumber = makedev(entry.major, entry.minor);
        facts.monotonicMs = monotonic;
        if (entry.isBlockSource()) {
            if (auto label = blockDevices_.label(device))
                name = *label;
            facts.wholeDisk = blockDevices_.wholeDisk(device).value_or("");
            if (!facts.wholeDisk.empty()) {
                if (auto found = blockDevices_.model(facts.wholeDisk))
                    model = *found;
                if (auto stat = blockDevices_.stat(facts.wholeDisk)) {
                    record.rbytes = stat->readBytes;
                    record.wbytes = stat->writtenBytes;
                    facts.countersRead = true;
                }
            }
        }
        facts.icon = iconName(facts.wholeDisk, entry.fstype);
        record.name = name.c_str();
        record.model = model.c_str();
        record.device = device.c_str();
        record.path = entry.mountPoint.c_str();
        record.fstype = entry.fstype.c_str();
        record.isRootFS = entry.mountPoint == "/" ? 1 : 0;
        callback(timestamp, &record, facts);
    }
}

void DiskCollector::getDiskData(const DiskDataCallback& callback) {
    forEachVolume([&](int64_t timestamp, DiskData* record, const VolumeFacts& facts) {
        if (facts.sizesRead)
            callback(timestamp, record);
    });
}

bool DiskCollector::getSMARTData(const char* bsdName, SMARTData* record) {
    if (!record)
        return false;
    *record = SMARTData{0, 1, 0, SmartAvailability::notSupported};
    if (!bsdName)
        return false;
    auto disk = blockDevices_.wholeDisk(bsdName);
    if (!disk)
        return false;  // no local drive (a network share, say)
    // The system bus's UDisks2 describes this machine's drives, not those of another root.
    const bool askUDisks =
        options_.useUDisks && (!options_.busAddress.empty() || options_.root == "/");
    std::string why = "UDisks2 is not asked";
    std::optional<SmartReading> reading;
    if (askUDisks)
        reading = UDisksSmart(options_.busAddress, busTimeout).read(*disk, &why);
    if (!reading) {
        int openError = 0;
        auto transport = options_.smartTransport
                             ? options_.smartTransport(*disk)
                             : openSmartTransport(options_.root, *disk, &openError);
        if (transport) {
            reading = readSmart(*transport);
        } else {
            reading = SmartReading{};
            reading->availability = openError == EACCES || openError == EPERM
                                        ? SmartAvailability::notPermitted
                                        : SmartAvailability::unreadable;
        }
        if (reading->availability == SmartAvailability::notPermitted)
            platform::reportError("SMART of " + *disk, "needs UDisks2 or root (" + why + ")");
    }
    record->isSmart = reading->capable ? 1 : 0;
    record->isSmartPassed = reading->passed ? 1 : 0;
    record->temperature = reading->temperature;
    record->availability = reading->availability;
    return record->isSmart != 0;
}

bool DiskCollector::holdsRootFileSystem(const std::string& device) {
    return eject_.holdsRootFileSystem(device);
}

bool DiskCollector::ejectDisk(const char* bsdName) {
    return eject_.ejectDisk(bsdName);
}

bool DiskCollector::ejectVolume(const std::string& mountPoint, EjectDone done) {
    return eject_.ejectVolume(mountPoint, std::move(done));
}

DiskCollector::EjectOutcome DiskCollector::eject(const std::string& mountPoint) {
    return eject_.eject(mountPoint);
}

}  // namespace vigil

void getDiskData(const DiskDataCallback& callback) {
    vigil::DiskCollector::shared().getDiskData(callback);
}

bool getDiskDataFor(const char* path, DiskData* record) {
    return vigil::DiskCollector::shared().getDiskDataFor(path, record);
}

bool getDiskActivity(const char* bsdName, const char* path, DiskData* record) {
    return vigil::DiskCollector::shared().getDiskActivity(bsdName, path, record);
}

bool ejectDisk(const char* bsdName) {
    return vigil::DiskCollector::shared().ejectDisk(bsdName);
}

bool getSMARTData(const char* bsdName, SMARTData* record) {
    return vigil::DiskCollector::shared().getSMARTData(bsdName, record);
}
