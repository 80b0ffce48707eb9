#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "collectors/VolumeEject.h"
#include "platform/BlockDevices.h"
#include "platform/MountHolders.h"
#include "platform/MountTable.h"
#include "platform/Smart.h"

// One listed volume as the disk collector reports it. The text pointers point into the collector's
// own buffers and are valid only during the callback.
struct DiskData {
    const char* name;    // volume label; the device base name when there is none (at most 64 bytes)
    const char* model;   // model of the whole disk; "unknown" when there is none (at most 64 bytes)
    const char* device;  // base name of the mount source ("sda1")
    const char* path;    // mount point
    const char* fstype;  // file-system type
    int64_t wbytes;      // cumulative bytes written by the whole disk
    int64_t rbytes;      // cumulative bytes read by the whole disk
    int64_t used;
    int64_t free;
    int64_t total;
    uint8_t isRootFS;  // mounted at "/"
};

// SMART status of a whole disk.
struct SMARTData {
    uint8_t isSmart;        // the drive speaks SMART and answered
    uint8_t isSmartPassed;  // no threshold exceeded
    double temperature;     // degrees Celsius; 0 when not read
    // Why isSmart is 0: the drive has no SMART, or it could not be read here.
    vigil::SmartAvailability availability = vigil::SmartAvailability::notSupported;
};

using DiskDataCallback = std::function<void(int64_t timestamp, DiskData* record)>;

// Calls back once per listed volume, in mount-table order; all carry one timestamp (milliseconds
// since the epoch).
void getDiskData(const DiskDataCallback& callback);
// Fills used, free and total from the file system mounted at `path`.
bool getDiskDataFor(const char* path, DiskData* record);
// getDiskDataFor, then the whole disk's byte counters where the device has them.
bool getDiskActivity(const char* bsdName, const char* path, DiskData* record);
// Starts ejecting the volume of the block device `bsdName` (see DiskCollector::ejectVolume). True
// when the request was issued; the outcome is written to stderr.
bool ejectDisk(const char* bsdName);
// Asks the whole disk that holds `bsdName` for its SMART status: UDisks2 first (no privileges
// needed), the drive itself where UDisks2 has no answer. Returns record->isSmart.
bool getSMARTData(const char* bsdName, SMARTData* record);

namespace vigil {

// The disk collector over one root directory; the free functions above use shared().
class DiskCollector {
  public:
    struct Options {
        std::string root = "/";
        // How long a file system may take to answer statvfs before it counts as not answering.
        std::chrono::milliseconds answerTimeout = std::chrono::seconds(2);
        // Where statvfs, SMART and UDisks2 calls run; BlockingCalls::shared() when null.
        BlockingCalls* blockingCalls = nullptr;
        // Opens the SMART transport of a whole disk; openSmartTransport when empty.
        std::function<std::unique_ptr<SmartTransport>(const std::string& disk)> smartTransport;
        // Try UDisks2 on the system bus (or on `busAddress`) before umount2, and for SMART before
        // asking the drive itself (the system bus only where the root is "/").
        bool useUDisks = true;
        std::string busAddress;
        StatfsRunner::StatFunction statFunction;
    };

    using EjectOutcome = VolumeEject::Outcome;
    using EjectDone = VolumeEject::Done;

    explicit DiskCollector(Options options);
    static DiskCollector& shared();

    const std::string& root() const { return options_.root; }

    // What a pass knows about a volume beyond its record.
    struct VolumeFacts {
        bool sizesRead = true;      // false: statvfs failed or did not answer; no sizes were read
        uint64_t deviceNumber = 0;  // the mounted file system's device number (st_dev)
        bool countersRead = false;  // rbytes/wbytes came from the device
        std::string wholeDisk;      // "" when sysfs does not know the device
        std::string icon;           // see iconName
        int64_t monotonicMs = 0;    // the pass's time on the monotonic clock
    };
    using VolumeCallback =
        std::function<void(int64_t timestamp, DiskData* record, const VolumeFacts& facts)>;

    // The volumes whose sizes were read; forEachVolume also passes those that failed or did
    // not answer.
    void getDiskData(const DiskDataCallback& callback);
    void forEachVolume(const VolumeCallback& callback);

    // One sample of a listed volume: its sizes, and the whole disk's counters where it has them.
    enum class Sample { ok, failed, notAnswering, gone };
    Sample sample(const std::string& device, const std::string& path, DiskData* record,
                  bool* countersRead);
    bool getDiskDataFor(const char* path, DiskData* record);
    // As getDiskActivity; `countersRead` tells whether the counters came from the device.
    bool getDiskActivity(const char* bsdName, const char* path, DiskData* record,
                         bool* countersRead = nullptr);
    bool getSMARTData(const char* bsdName, SMARTData* record);

    // Eject, through this collector's VolumeEject.
    bool ejectVolume(const std::string& mountPoint, EjectDone done = nullptr);
    bool ejectDisk(const char* bsdName);
    EjectOutcome eject(const std::string& mountPoint);

    // The whole disk of the device, "" when sysfs does not know it.
    std::string wholeDisk(const std::string& device) const;
    // The device holds the root file system, or lies on the same whole disk.
    bool holdsRootFileSystem(const std::string& device);
    // A freedesktop icon name for the volume: drive-harddisk, drive-removable-media,
    // media-optical or folder-remote.
    std::string iconName(const std::string& disk, const std::string& fstype) const;

    // Milliseconds on the monotonic clock and since the epoch.
    static int64_t monotonicMs();
    static int64_t epochMs();

  private:
    // statvfs of a mount point, on a helper thread with a time-out.
    Sample fileSystemSizeOf(const std::string& path, DiskData* record);
    // The whole disk of a volume's device, looked up once per listing of the volumes.
    std::optional<std::string> cachedWholeDisk(const std::string& device);

    Options options_;
    MountTable mountTable_;
    BlockDevices blockDevices_;
    StatfsRunner statfs_;
    BlockingCalls& blockingCalls_;
    VolumeEject eject_;
    std::mutex mutex_;
    std::map<std::string, std::optional<std::string>> wholeDisks_;  // by device, under mutex_
};

}  // namespace vigil
