#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "collectors/DiskData.h"
#include "runtime/Atomic.h"
#include "system/SystemResource.h"

namespace vigil {

class MountWatch;
struct VolumeRename;

// The mounted volumes: names, devices, mount points, capacity, transfer rates and SMART status,
// keyed by mount point (names and device names may repeat: two shares that both end in "/data").
// load() rebuilds the list (at construction and on every mount or unmount the watch reports;
// changes that pile up while a rebuild waits make one rebuild), update() refreshes capacity and
// rates on the resource's schedule. A volume whose file system stops answering keeps its last
// figures, marked stale, until it answers again. Readers get copies.
class Disk : public SystemResource {
  public:
    class Volume {
      public:
        struct SmartStatus {
            bool status;  // passed
            double temp;  // degrees Celsius, 0 when unknown
        };

        std::string name;
        std::string device;  // base name of the mount source ("sda1", "data")
        std::string path;    // mount point; the key in volumes()
        std::string fstype;
        std::string model;
        int64_t free = 0;
        int64_t used = 0;
        int64_t total = 0;
        int64_t wbytes = 0;
        int64_t rbytes = 0;
        double wbytesps = 0;
        double rbytesps = 0;
        int64_t timestamp = 0;            // last sample, milliseconds since the epoch
        std::optional<std::string> icon;  // a freedesktop icon name
        bool isRootFS = false;
        // The figures are the last ones read: the file system did not answer since.
        bool stale = false;
        uint64_t deviceNumber = 0;  // of the mounted file system
        // Set once the drive answered that it speaks SMART (asked on a helper thread).
        std::optional<SMARTData> smart;

        // The share in use as df shows it: used / (used + available) x 100, rounded up; 0 when
        // nothing is known. The root reserve counts neither as used nor as available.
        uint8_t usagePercent() const;
        // Asks the drive again; none when it has no SMART or the read fails.
        std::optional<SmartStatus> smartStatus() const;
        // Starts unmounting the volume (and ejecting its disk) on a helper thread; `done` gets the
        // outcome there. False when it could not be started. Calling it for the root volume is a
        // contract violation that stops the process: check canEject() first.
        bool eject(DiskCollector::EjectDone done = nullptr) const;
        // False for the root volume and for every volume on the disk that holds it.
        bool canEject() const { return !isRootFS && !onRootDisk; }

        // Bookkeeping of the rates (monotonic clock) and of the disk the volume lives on.
        std::string wholeDisk;
        bool onRootDisk = false;
        bool countersValid = false;
        int64_t sampleMonotonicMs = 0;
        DiskCollector* collector = nullptr;
    };

    using Volumes = std::map<std::string, Volume>;

    // Lists the volumes at once and, when a watch is given, follows its mounts, unmounts and
    // renames. `collector` must outlive the resource; the shared collector when null.
    explicit Disk(std::shared_ptr<MountWatch> watch = nullptr, DiskCollector* collector = nullptr);
    ~Disk() override;
    Disk(const Disk&) = delete;
    Disk& operator=(const Disk&) = delete;

    SystemResourceType type() const override { return SystemResourceType::disk; }
    void update() override;
    void load();

    Volumes volumes() const;
    std::optional<Volume> HD() const;
    uint8_t usage();

    // Rebuilds the list on the background queue; calls made while one waits make one rebuild.
    void handleMountNotifications();
    void handleRenameNotification(const VolumeRename& rename);

  private:
    struct State;
    std::shared_ptr<State> state_;
    std::shared_ptr<MountWatch> watch_;
    int listenerId_ = 0;
};

}  // namespace vigil
