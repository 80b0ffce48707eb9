#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vigil {

// Cumulative transfer of one block device, from /sys/block/<disk>/stat (sectors of 512 bytes).
struct BlockStat {
    int64_t readBytes = 0;
    int64_t writtenBytes = 0;
};

// Parses the text of a block device's stat file; nullopt when it has fewer than seven numbers.
std::optional<BlockStat> parseBlockStat(std::string_view text);

// The block devices of <root>/sys: which whole disk holds a device, its counters and its model, and
// file-system labels through libblkid.
class BlockDevices {
  public:
    explicit BlockDevices(std::string root = "/");

    const std::string& root() const { return root_; }

    // The whole disk that holds `device` (a kernel name like "sda1", "nvme0n1p2", "dm-0", or a
    // device-mapper name like "vg-root"): "sda" for "sda1", the device itself when it is a whole
    // disk. nullopt when sysfs does not know the device.
    std::optional<std::string> wholeDisk(std::string_view device) const;

    // The counters of a whole disk; nullopt when its stat file cannot be read or parsed (the device
    // vanished, for instance).
    std::optional<BlockStat> stat(std::string_view disk) const;

    // The model of a whole disk (device/model, trimmed; at most 64 bytes); nullopt when the device
    // has none (virtio, loop, device-mapper).
    std::optional<std::string> model(std::string_view disk) const;

    // The label of the file system on the device node <root>/dev/<device> (or a device-mapper
    // name), read with libblkid; udev's /dev/disk/by-label links when the node cannot be probed.
    // nullopt when there is none.
    std::optional<std::string> label(std::string_view device) const;

    // True when the device is a loop, virtio, ram, zram, device-mapper or md device: nothing that
    // answers SMART commands.
    static bool isVirtualDevice(std::string_view disk);

    // The kernel name of a device ("dm-0" for the device-mapper name "vg-root"); nullopt when
    // sysfs does not know it.
    std::optional<std::string> kernelName(std::string_view device) const;

  private:
    std::string sysBlock() const;
    std::string root_;
};

// Cuts text to at most `maxBytes` bytes without splitting a UTF-8 sequence.
std::string cutUtf8(std::string text, size_t maxBytes);

}  // namespace vigil
