#include "collectors/VolumeEject.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "platform/Bus.h"
#include "platform/Read.h"
#include "platform/UDisksSmart.h"

namespace vigil {

namespace {

constexpr auto busTimeout = std::chrono::seconds(5);
constexpr auto unmountTimeout = std::chrono::seconds(30);

}  // namespace

VolumeEject::VolumeEject(Options options, BlockingCalls& blockingCalls)
    : options_(std::move(options)),
      mountTable_(options_.root),
      blockDevices_(options_.root),
      blockingCalls_(blockingCalls) {}

std::string VolumeEject::wholeDisk(const std::string& device) const {
    return blockDevices_.wholeDisk(device).value_or("");
}

bool VolumeEject::holdsRootFileSystem(const std::string& device) {
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

bool VolumeEject::ejectDisk(const char* bsdName) {
    if (!bsdName || !*bsdName)
        return false;
    const std::string name = bsdName;
    for (const auto& entry : mountTable_.volumes()) {
        if (entry.deviceBaseName() == name && entry.isBlockSource())
            return ejectVolume(entry.mountPoint);
    }
    platform::reportError("ejectDisk " + name, "no such volume");
    return false;
}

namespace {

// The mount at `mountPoint` that is seen there (the last one mounted on it).
const MountEntry* topMountAt(const std::vector<MountEntry>& table, const std::string& mountPoint) {
    const MountEntry* found = nullptr;
    for (const auto& entry : table) {
        if (entry.mountPoint == mountPoint)
            found = &entry;
    }
    return found;
}

bool sameFileSystem(const MountEntry& a, const MountEntry& b) {
    return a.source == b.source && a.major == b.major && a.minor == b.minor;
}

}  // namespace

bool VolumeEject::ejectVolume(const std::string& mountPoint, Done done) {
    const std::string call = "eject " + mountPoint;
    auto table = mountTable_.read();
    const MountEntry* entry = table ? topMountAt(*table, mountPoint) : nullptr;
    if (!entry) {
        platform::reportError(call, "no such volume");
        return false;
    }
    if (mountPoint == "/" ||
        (entry->isBlockSource() && holdsRootFileSystem(entry->deviceBaseName()))) {
        platform::reportError(call, "the disk holds the root file system");
        return false;
    }
    // Unmounting waits on the file system and UDisks2 waits on the drive: neither runs on the
    // sampling pool.
    const bool started = blockingCalls_.post(call, [this, mountPoint, done] {
        auto outcome = eject(mountPoint);
        if (done)
            done(outcome);
    });
    if (!started)
        platform::reportError(call, "an eject of this volume is still running");
    return started;
}

void VolumeEject::markBusy(Outcome* outcome, const MountEntry& entry) {
    outcome->busy = true;
    outcome->holders = processesUsingMount(entry.major, entry.minor, options_.root);
}

bool VolumeEject::ejectThroughUDisks(const std::string& disk, const std::vector<MountEntry>& mounts,
                                     Outcome* outcome) {
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
        Bus::Target target{"org.freedesktop.UDisks2", base + UDisksSmart::objectName(device),
                           "org.freedesktop.UDisks2.Filesystem"};
        if (!bus->call(target, "Unmount", Bus::appendEmptyOptions, unmountTimeout, &error)) {
            outcome->error = error;
            platform::reportError("UDisks2 unmount of " + device, error);
            return true;
        }
    }
    outcome->unmounted = true;
    Bus::Target block{"org.freedesktop.UDisks2", base + UDisksSmart::objectName(disk),
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
        platform::reportError(std::string("UDisks2 ") + method + " of " + disk, error);
        return true;
    }
    outcome->ejected = true;
    return true;
}

VolumeEject::Outcome VolumeEject::eject(const std::string& mountPoint) {
    Outcome outcome;
    auto fail = [&](const std::string& call, const std::string& detail) {
        outcome.error = call + " -- " + detail;
        platform::reportError(call, detail);
        return outcome;
    };
    auto table = mountTable_.read();
    if (!table)
        return fail("eject " + mountPoint, "cannot read the mount table");
    const MountEntry* clicked = topMountAt(*table, mountPoint);
    if (!clicked)
        return fail("eject " + mountPoint, "no such volume");
    const std::string device = clicked->deviceBaseName();
    if (mountPoint == "/" || (clicked->isBlockSource() && holdsRootFileSystem(device)))
        return fail("eject " + mountPoint, "the disk holds the root file system");
    // A volume on a disk goes with every file system of that disk; any other volume (a share, a
    // FUSE file system) alone, with the other mounts of that same file system.
    const std::string disk = clicked->isBlockSource() ? wholeDisk(device) : "";
    std::vector<MountEntry> mounts;
    for (const auto& entry : *table) {
        bool sameDisk =
            !disk.empty() && entry.isBlockSource() && wholeDisk(entry.deviceBaseName()) == disk;
        if (sameDisk || sameFileSystem(entry, *clicked))
            mounts.push_back(entry);
    }
    if (options_.useUDisks && !disk.empty() && ejectThroughUDisks(disk, mounts, &outcome)) {
        if (!outcome.unmounted && outcome.error.find("busy") != std::string::npos)
            markBusy(&outcome, *clicked);
        return outcome;
    }
    // No UDisks2: unmount ourselves, innermost mount first.
    std::string errors;
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
        if (::umount2(it->mountPoint.c_str(), UMOUNT_NOFOLLOW) != 0 && errno != EINVAL) {
            if (errno == EBUSY && !outcome.busy)
                markBusy(&outcome, *it);
            std::string detail = std::strerror(errno);
            platform::reportError("umount2 " + it->mountPoint, detail);
            if (errors.empty())
                errors = "umount2 " + it->mountPoint + " -- " + detail;
        }
    }
    outcome.error = errors;
    outcome.unmounted = errors.empty();
    // Without UDisks2 only an optical drive can be ejected (its tray opened).
    if (outcome.unmounted && disk.rfind("sr", 0) == 0) {
        int fd = ::open(platform::joinRoot(options_.root, "/dev/" + disk).c_str(),
                        O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            outcome.ejected = ::ioctl(fd, CDROMEJECT, 0) == 0;
            if (!outcome.ejected)
                platform::reportError("eject /dev/" + disk, std::strerror(errno));
            ::close(fd);
        }
    }
    return outcome;
}

}  // namespace vigil
