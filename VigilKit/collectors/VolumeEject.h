#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/BlockDevices.h"
#include "platform/BlockingCalls.h"
#include "platform/MountHolders.h"
#include "platform/MountTable.h"

namespace vigil {

// Unmounts and ejects volumes: the only code that changes the state of a device. Through UDisks2
// where it runs (no privileges needed), else umount2 and, for an optical drive, its tray.
class VolumeEject {
  public:
    struct Options {
        std::string root = "/";
        // Try UDisks2 on the system bus (or on `busAddress`) before umount2.
        bool useUDisks = true;
        std::string busAddress;
    };

    // What an eject did, for callers that wait for it.
    struct Outcome {
        bool unmounted = false;
        bool ejected = false;
        bool viaUDisks = false;
        bool busy = false;                       // refused: a file on it is in use
        std::vector<ProcessUsingMount> holders;  // who uses it, when busy
        std::string error;                       // one line; empty on success
    };
    using Done = std::function<void(const Outcome&)>;

    VolumeEject(Options options, BlockingCalls& blockingCalls);

    // Checks the volume mounted at `mountPoint` and issues its eject on a helper thread of its
    // own (unmounting waits on the file system, UDisks2 on the drive); `done` (when given) gets
    // the outcome there.
    bool ejectVolume(const std::string& mountPoint, Done done = nullptr);
    // ejectVolume for the first listed volume of the block device `bsdName`.
    bool ejectDisk(const char* bsdName);
    // Unmounts the volume mounted at `mountPoint` now, on the calling thread. A volume on a disk
    // takes every file system of that disk with it, then the disk is ejected or powered off; a
    // share or any other volume is unmounted alone.
    Outcome eject(const std::string& mountPoint);

    // The device holds the root file system, or lies on the same whole disk.
    bool holdsRootFileSystem(const std::string& device);

  private:
    std::string wholeDisk(const std::string& device) const;
    void markBusy(Outcome* outcome, const MountEntry& entry);
    bool ejectThroughUDisks(const std::string& disk, const std::vector<MountEntry>& mounts,
                            Outcome* outcome);

    Options options_;
    MountTable mountTable_;
    BlockDevices blockDevices_;
    BlockingCalls& blockingCalls_;
};

}  // namespace vigil
