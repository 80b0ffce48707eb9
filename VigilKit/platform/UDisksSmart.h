#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/Smart.h"

namespace vigil {

// A drive's SMART as UDisks2 (org.freedesktop.UDisks2 on the system bus) reports it: any user may
// read it, where asking the drive itself needs root. ATA drives through the Drive.Ata properties,
// NVMe drives through the NVMe.Controller health properties (UDisks2 2.10 and later).
class UDisksSmart {
  public:
    // `busAddress` empty: the system bus (DBUS_SYSTEM_BUS_ADDRESS where set).
    explicit UDisksSmart(std::string busAddress = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // What UDisks2 knows of the whole disk `disk` ("sda", "nvme0n1"): read, notSupported (no
    // drive behind the device, or a drive without SMART) or switchedOff. nullopt when UDisks2 has
    // no answer: it does not run, does not know the device, or has not read the drive yet (a
    // sleeping drive, an NVMe drive on a UDisks2 without NVMe support). `why` then says which.
    std::optional<SmartReading> read(const std::string& disk, std::string* why = nullptr) const;

    // The object path of a block device: /org/freedesktop/UDisks2/block_devices/<name>, every byte
    // of the name outside [A-Za-z0-9] written as _XX (hex).
    static std::string blockObjectPath(const std::string& device);
    // A name as UDisks2 puts it in an object path: every byte outside [A-Za-z0-9] becomes _XX
    // (hex).
    static std::string objectName(const std::string& name);

  private:
    std::string busAddress_;
    std::chrono::milliseconds timeout_;
};

}  // namespace vigil
