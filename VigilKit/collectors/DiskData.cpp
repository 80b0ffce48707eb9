#include "collectors/DiskData.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Bus.h"
#include "platform/Read.h"
#include "platform/UDisksSmart.h"
#include "system/Queue.h"

namespace vigil {

namespace {

constexpr auto busTimeout = std::chrono::seconds(5);
constexpr auto unmountTimeout = std::chrono::seconds(30);

// UDisks2 object names: every byte outside [A-Za-z0-9] becomes _XX (hex).
std::string udisksObjectName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (std::isalnum(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "_%02x", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace

DiskCollector::DiskCollector(Options options)
    : options_(std::move(options)),
      mountTable_(options_.root),
      blockDevices_(options_.root),
      statfs_(options_.networkTimeout, options_.statFunction) {}

DiskCollector& DiskCollector::shared() {
    static DiskCollector* collector = new DiskCollector(Options{});
    return *collector;
}

int64_t DiskCollector::monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t DiskCollector::epochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool DiskCollector::mayHang(const std::string& path) {
    std::lock_guard lock(mutex_);
    return networkMountPoints_.count(path) > 0;
}

namespace {

// False when `path` is plainly no longer a mount point: it lies on the same file system as its
// parent folder. True when that cannot be told (the path or its parent cannot be examined).
bool stillMountPoint(const std::string& path) {
    if (path == "/")
        return true;
    struct stat here {
    }, parent{};
    if (::stat(path.c_str(), &here) != 0 || ::stat((path + "/..").c_str(), &parent) != 0)
        return true;
    return here.st_dev != parent.st_dev;
}

}  // namespace

DiskCollector::SizeResult DiskCollector::fileSystemSizeOf(const std::string& path, DiskData* record,
                                                          bool report) {
    struct statvfs st {};
    int error = 0;
    const bool hangs = mayHang(path);
    switch (statfs_.run(rootedPath(options_.root, path), hangs, &st, &error)) {
        case StatfsRunner::Outcome::ok:
            // A volume unmounted since it was listed: statvfs described the file system under the
            // old mount point, whose figures are not the volume's. Not sampled, and not an error
            // (the next listing drops the volume). Shares that may hang are not examined.
            if (options_.root == "/" && !hangs && !stillMountPoint(path))
                return SizeResult::skipped;
            break;
        case StatfsRunner::Outcome::failed:
            if (report) {
                std::fprintf(stderr, "Error: statfs failed for '%s' -- %s\n", path.c_str(),
                             std::strerror(error));
            }
            return SizeResult::failed;
        case StatfsRunner::Outcome::timedOut:
            std::fprintf(stderr, "Error: statfs failed for '%s' -- no answer within %lld ms\n",
                         path.c_str(), static_cast<long long>(options_.networkTimeout.count()));
            return SizeResult::skipped;
        case StatfsRunner::Outcome::skipped:
            return SizeResult::skipped;
    }
    auto size = fileSystemSize(st);
    if (!size) {
        if (report) {
            std::fprintf(stderr, "Error: statfs failed for '%s' -- inconsistent block counts\n",
                         path.c_str());
        }
        return SizeResult::failed;
    }
    record->total = size->total;
    record->free = size->free;
    record->used = size->used;
    return SizeResult::ok;
}

bool DiskCollector::getDiskDataFor(const char* path, DiskData* record) {
    if (!path || !record)
        return false;
    return fileSystemSizeOf(path, record, true) == SizeResult::ok;
}

bool DiskCollector::getDiskActivity(const char* bsdName, const char* path, DiskData* record,
                                    bool* countersRead) {
    if (countersRead)
        *countersRead = false;
    if (!getDiskDataFor(path, record))
        return false;
    if (!bsdName)
        return true;
    const std::string device(bsdName);
    auto disk = cachedWholeDisk(device);
    if (!disk)
        return true;
    // A device that vanished between the lookup and the read is a failed read: counters stay.
    if (auto stat = blockDevices_.stat(*disk)) {
        record->rbytes = stat->readBytes;
        record->wbytes = stat->writtenBytes;
        if (countersRead)
            *countersRead = true;
    } else {
        std::lock_guard lock(mutex_);
        wholeDisks_.erase(device);  // looked up afresh next time
    }
    return true;
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
        auto removable =
            readWholeFile(rootedPath(options_.root, "/sys/block/" + disk + "/removable"));
        if (removable && !removable->empty() && (*removable)[0] == '1') {
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
        networkMountPoints_.clear();
        for (const auto& entry : listed) {
            if (entry.isNetwork())
                networkMountPoints_.insert(entry.mountPoint);
        }
    }
    const int64_t timestamp = epochMs();
    const int64_t monotonic = monotonicMs();
    for (const auto& entry : listed) {
        DiskData record{};
        std::string device = entry.deviceBaseName();
        std::string name = cutUtf8(device, 64);
        std::string model = "unknown";
        if (fileSystemSizeOf(entry.mountPoint, &record, true) == SizeResult::skipped)
            continue;
        VolumeFacts facts;
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
    forEachVolume([&](int64_t timestamp, DiskData* record, const VolumeFacts&) {
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
    auto table = mountTable_.read();
    if (!table)
        return false;
    for (const auto& entry : *table) {
        if (entry.mountPoint != "/")
            continue;
        std::string rootDevice = entry.deviceBaseName();
        if (rootDevice == device)
            return true;
        std::string rootDisk = wholeDisk(rootDevice);
        if (!rootDisk.empty() && rootDisk == wholeDisk(device))
            return true;
    }
    return false;
}

bool DiskCollector::ejectDisk(const char* bsdName) {
    if (!bsdName || !*bsdName)
        return false;
    std::string name = bsdName;
    if (holdsRootFileSystem(name)) {
        reportPlatformError("ejectDisk " + name, "the disk holds the root file system");
        return false;
    }
    if (wholeDisk(name).empty()) {
        // Not a block device: it must at least be a mounted share.
        auto table = mountTable_.read();
        bool mounted = false;
        for (const auto& entry : table.value_or(std::vector<MountEntry>{})) {
            if (entry.deviceBaseName() == name && entry.isNetwork())
                mounted = true;
        }
        if (!mounted) {
            reportPlatformError("ejectDisk " + name, "no such volume");
            return false;
        }
    }
    Queue::background().async([this, name] { eject(name); });
    return true;
}

bool DiskCollector::ejectThroughUDisks(const std::string& disk,
                                       const std::vector<MountEntry>& mounts,
                                       EjectOutcome* outcome) {
    std::string error;
    auto bus =
        options_.busAddress.empty() ? Bus::system(&error) : Bus::open(options_.busAddress, &error);
    if (!bus || !bus->nameHasOwner("org.freedesktop.UDisks2", busTimeout, &error))
        return false;
    outcome->viaUDisks = true;
    const std::string base = "/org/freedesktop/UDisks2/block_devices/";
    std::set<std::string> done;
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
        auto kernel = blockDevices_.kernelName(it->deviceBaseName());
        if (!kernel || !done.insert(*kernel).second)
            continue;
        const std::string& device = *kernel;
        Bus::Target target{"org.freedesktop.UDisks2", base + udisksObjectName(device),
                           "org.freedesktop.UDisks2.Filesystem"};
        if (!bus->call(target, "Unmount", Bus::appendEmptyOptions, unmountTimeout, &error)) {
            outcome->error = error;
            reportPlatformError("UDisks2 unmount of " + device, error);
            return true;
        }
    }
    outcome->unmounted = true;
    Bus::Target block{"org.freedesktop.UDisks2", base + udisksObjectName(disk),
                      "org.freedesktop.UDisks2.Block"};
    auto driveReply = bus->getProperty(block, "Drive", busTimeout, &error);
    auto drive = driveReply ? driveReply->readVariantString('o') : std::nullopt;
    if (!drive || *drive == "/")
        return true;  // nothing to eject (a loop device, say)
    Bus::Target driveTarget{"org.freedesktop.UDisks2", *drive, "org.freedesktop.UDisks2.Drive"};
    auto boolProperty = [&](const char* name) {
        auto reply = bus->getProperty(driveTarget, name, busTimeout, &error);
        return reply ? reply->readVariantBool().value_or(false) : false;
    };
    const char* method = boolProperty("Ejectable")     ? "Eject"
                         : boolProperty("CanPowerOff") ? "PowerOff"
                                                       : nullptr;
    if (!method)
        return true;
    if (!bus->call(driveTarget, method, Bus::appendEmptyOptions, unmountTimeout, &error)) {
        outcome->error = error;
        reportPlatformError(std::string("UDisks2 ") + method + " of " + disk, error);
        return true;
    }
    outcome->ejected = true;
    return true;
}

DiskCollector::EjectOutcome DiskCollector::eject(const std::string& bsdName) {
    EjectOutcome outcome;
    auto fail = [&](const std::string& call, const std::string& detail) {
        outcome.error = call + " -- " + detail;
        reportPlatformError(call, detail);
        return outcome;
    };
    if (holdsRootFileSystem(bsdName)) {
        return fail("ejectDisk " + bsdName, "the disk holds the root file system");
    }
    auto table = mountTable_.read();
    if (!table)
        return fail("ejectDisk " + bsdName, "cannot read the mount table");
    std::string disk = wholeDisk(bsdName);
    std::vector<MountEntry> mounts;
    for (const auto& entry : *table) {
        std::string device = entry.deviceBaseName();
        bool sameDevice = device == bsdName && (entry.isBlockSource() || entry.isNetwork());
        bool sameDisk = !disk.empty() && entry.isBlockSource() && wholeDisk(device) == disk;
        if (sameDevice || sameDisk)
            mounts.push_back(entry);
    }
    if (mounts.empty() && disk.empty()) {
        return fail("ejectDisk " + bsdName, "no such volume");
    }
    if (options_.useUDisks && !disk.empty() && ejectThroughUDisks(disk, mounts, &outcome)) {
        return outcome;
    }
    // No UDisks2: unmount ourselves, innermost mount first.
    std::string errors;
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
        if (::umount2(it->mountPoint.c_str(), UMOUNT_NOFOLLOW) != 0 && errno != EINVAL) {
            std::string detail = std::strerror(errno);
            reportPlatformError("umount2 " + it->mountPoint, detail);
            if (errors.empty())
                errors = "umount2 " + it->mountPoint + " -- " + detail;
        }
    }
    outcome.error = errors;
    outcome.unmounted = errors.empty();
    // Without UDisks2 only an optical drive can be ejected (its tray opened).
    if (outcome.unmounted && disk.rfind("sr", 0) == 0) {
        int fd = ::open(rootedPath(options_.root, "/dev/" + disk).c_str(),
                        O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            outcome.ejected = ::ioctl(fd, CDROMEJECT, 0) == 0;
            if (!outcome.ejected)
                reportPlatformError("eject /dev/" + disk, std::strerror(errno));
            ::close(fd);
        }
    }
    return outcome;
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
