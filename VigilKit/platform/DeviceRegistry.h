#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Read.h"

namespace vigil::platform {

using Blob = std::vector<std::uint8_t>;
using RegistryValue = std::variant<bool, std::int64_t, std::string, Blob>;

// One node of the device tree: a device directory under /sys.
struct RegistryEntry {
    std::string path;       // the device's directory (under the root)
    std::string subsystem;  // "pci", "net", "block", "usb", ... ("" when unknown)
    std::string name;       // the directory's name: "0000:00:02.0", "eth0", "sda"
    bool operator==(const RegistryEntry& other) const { return path == other.path; }
};

// Whether a display device is built into the processor or chipset, or a card (or chip) of its own.
enum class GraphicsKind { integrated, discrete };

// Looks up a device name in the text of a pci.ids database: "Vendor Device", or "Vendor device
// 0x1234" for a device the database does not list; nullopt for an unknown vendor.
std::optional<std::string> lookupPciName(std::string_view idsText, std::uint16_t vendor,
                                         std::uint16_t device);

// The device registry on sysfs: lookups by class and by name, parents, and the
// keys the resources ask for, each answered from one sysfs attribute. A lookup that finds nothing
// yields no entry; an absent key, or a key asked for with the wrong type, yields nothing.
class DeviceRegistry {
  public:
    explicit DeviceRegistry(std::string root = "/");
    const std::string& root() const { return root_; }

    // Every device of a class: "IOPCIDevice" (the PCI bus) or a subsystem name ("pci", "net",
    // "block"). Unknown classes yield none.
    std::vector<RegistryEntry> matching(std::string_view className) const;
    // The first device whose name equals `name` within the known subsystems.
    std::optional<RegistryEntry> matchingName(std::string_view name) const;
    // The parent device in the device tree; nullopt at the top.
    std::optional<RegistryEntry> parent(const RegistryEntry& entry) const;

    // One key of one entry.
    std::optional<RegistryValue> property(const RegistryEntry& entry, std::string_view key) const;
    // The entry's key, or with `upward` the first of it and its parents that has the key.
    std::optional<RegistryValue> searchProperty(const RegistryEntry& entry, std::string_view key,
                                                bool upward) const;

    // The PCI device that drives the main display: the card with a connected output, else the
    // firmware's boot display device. nullopt when neither is known.
    std::optional<RegistryEntry> mainDisplay() const;

    // Whether a PCI display device is integrated or discrete. What its driver says about the
    // device decides first: NVIDIA's drivers only drive cards; amdgpu names a memory vendor only
    // for memory chips of the card's own, and its metrics table carries processor-core figures
    // (format 2 and later) only on an APU (a runtime-suspended card is not woken to read it).
    // Otherwise a device on a root bus, with no bridge above it, is part of the processor or
    // chipset; one behind a bridge is a card.
    GraphicsKind graphicsKind(const RegistryEntry& entry) const;
    // Whether a PCI device sits directly on a root bus. Where the tree has no links to show the
    // topology (fixture trees of plain folders), bus 00 is taken for the root bus.
    bool onRootBus(const RegistryEntry& entry) const;

  private:
    std::optional<RegistryEntry> entryAt(const std::string& path,
                                         const char* subsystem = nullptr) const;
    std::string subsystemOf(const std::string& path) const;
    std::optional<GraphicsKind> kindFromDriver(const RegistryEntry& entry) const;
    std::optional<std::string> pciName(std::uint16_t vendor, std::uint16_t device) const;

    std::string root_;
};

// Typed reads: nothing when the value has another type.
std::optional<std::string> asText(const std::optional<RegistryValue>& v);
std::optional<Blob> asBlob(const std::optional<RegistryValue>& v);
std::optional<std::int64_t> asInteger(const std::optional<RegistryValue>& v);
std::optional<bool> asBoolean(const std::optional<RegistryValue>& v);

}  // namespace vigil::platform
