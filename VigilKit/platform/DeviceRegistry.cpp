#include "platform/DeviceRegistry.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

namespace vigil::platform {

namespace {

std::vector<std::string> listNames(const std::string& dirPath) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(dirPath.c_str());
    if (!dir)
        return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string resolved(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer))
        return buffer;
    return path;
}

std::string baseName(std::string_view path) {
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string hex4(unsigned v) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04x", v & 0xFFFFu);
    return buffer;
}

bool isHexText(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// The bus of a PCI device address, "0000:05:00.0" (domain, bus, device.function; a volume
// management domain has five digits); nullopt for another name.
std::optional<std::string_view> pciBusOf(std::string_view name) {
    auto first = name.find(':');
    auto second = name.find(':', first == name.npos ? name.npos : first + 1);
    auto dot = name.rfind('.');
    if (second == name.npos || dot == name.npos || dot < second ||
        !isHexText(name.substr(0, first)) ||
        !isHexText(name.substr(second + 1, dot - second - 1)) || !isHexText(name.substr(dot + 1)))
        return std::nullopt;
    std::string_view bus = name.substr(first + 1, second - first - 1);
    return bus.size() == 2 && isHexText(bus) ? std::optional(bus) : std::nullopt;
}

// "pci0000:00": the folder of a PCI host bridge, whose children are on its root bus.
bool isPciHostBridge(std::string_view name) {
    if (name.substr(0, 3) != "pci")
        return false;
    name.remove_prefix(3);
    auto colon = name.find(':');
    return colon != name.npos && isHexText(name.substr(0, colon)) &&
           isHexText(name.substr(colon + 1));
}

const char* const kSubsystemDirs[][2] = {
    {"pci", "/sys/bus/pci/devices/"},
    {"net", "/sys/class/net/"},
    {"block", "/sys/class/block/"},
    {"power_supply", "/sys/class/power_supply/"},
};

}  // namespace

std::optional<std::string> lookupPciName(std::string_view ids, std::uint16_t vendor,
                                         std::uint16_t device) {
    std::string vendorKey = hex4(vendor) + "  ";
    std::size_t at = std::string_view::npos;
    if (ids.substr(0, vendorKey.size()) == vendorKey) {
        at = 0;
    } else if (auto found = ids.find(std::string("\n").append(vendorKey));
               found != std::string_view::npos) {
        at = found + 1;
    }
    if (at == std::string_view::npos)
        return std::nullopt;
    std::size_t lineEnd = ids.find('\n', at);
    std::string_view vendorLine =
        ids.substr(at, lineEnd == std::string_view::npos ? ids.npos : lineEnd - at);
    std::string vendorName(trim(vendorLine.substr(6)));
    std::string deviceKey = std::string("\t").append(hex4(device)).append("  ");
    std::size_t pos = lineEnd;
    while (pos != std::string_view::npos && pos + 1 < ids.size()) {
        std::size_t start = pos + 1;
        std::size_t end = ids.find('\n', start);
        std::string_view line =
            ids.substr(start, end == std::string_view::npos ? ids.npos : end - start);
        pos = end;
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] != '\t')
            break;  // the next vendor
        if (line.substr(0, deviceKey.size()) == deviceKey) {
            return cleanUtf8(vendorName + " " + std::string(trim(line.substr(deviceKey.size()))));
        }
    }
    return cleanUtf8(vendorName + " device 0x" + hex4(device));
}

DeviceRegistry::DeviceRegistry(std::string root) : root_(std::move(root)) {}

std::string DeviceRegistry::subsystemOf(const std::string& path) const {
    std::string link = resolved(path + "/subsystem");
    if (link != path + "/subsystem")
        return baseName(link);
    // Fixture trees carry no links: recognise the device by the attributes it has.
    if (exists(path + "/class") && exists(path + "/vendor"))
        return "pci";
    if (exists(path + "/idVendor"))
        return "usb";
    if (exists(path + "/operstate"))
        return "net";
    return "";
}

std::optional<RegistryEntry> DeviceRegistry::entryAt(const std::string& path,
                                                     const char* subsystem) const {
    if (!isDirectory(path))
        return std::nullopt;
    // Found through its class folder: the subsystem is known and the link is resolved only when
    // a parent is asked for.
    if (subsystem)
        return RegistryEntry{path, subsystem, baseName(path)};
    std::string real = resolved(path);
    return RegistryEntry{real, subsystemOf(real), baseName(real)};
}

std::vector<RegistryEntry> DeviceRegistry::matching(std::string_view className) const {
    std::string_view subsystem = className == "IOPCIDevice" ? "pci" : className;
    std::vector<RegistryEntry> entries;
    for (const auto& pair : kSubsystemDirs) {
        if (subsystem != pair[0])
            continue;
        std::string dir = joinRoot(root_, pair[1]);
        for (const auto& name : listNames(dir)) {
            if (auto entry = entryAt(dir + name, pair[0])) {
                entries.push_back(std::move(*entry));
            }
        }
    }
    return entries;
}

std::optional<RegistryEntry> DeviceRegistry::matchingName(std::string_view name) const {
    for (const auto& pair : kSubsystemDirs) {
        std::string dir = joinRoot(root_, pair[1]) + std::string(name);
        if (auto entry = entryAt(dir, pair[0])) {
            return entry;
        }
    }
    return std::nullopt;
}

std::optional<RegistryEntry> DeviceRegistry::parent(const RegistryEntry& entry) const {
    std::string top = resolved(joinRoot(root_, "/sys"));
    std::string path = resolved(entry.path);
    // A network or block device sits under its class folder in fixture trees; its parent is the
    // device its "device" link points at.
    if (std::string link = entry.path + "/device";
        isDirectory(link) && (entry.subsystem == "net" || entry.subsystem == "block")) {
        if (auto e = entryAt(link))
            return e;
    }
    for (;;) {
        auto slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0)
            return std::nullopt;
        path.resize(slash);
        if (path.size() <= top.size() || path == top + "/devices")
            return std::nullopt;
        // Grouping folders ("net", "block", "usb1-port1") have no uevent file: skip them.
        if (exists(path + "/uevent"))
            return entryAt(path);
    }
}

bool DeviceRegistry::onRootBus(const RegistryEntry& entry) const {
    std::string real = resolved(entry.path);
    auto slash = real.rfind('/');
    std::string above =
        slash == std::string::npos ? std::string() : baseName(real.substr(0, slash));
    if (isPciHostBridge(above))
        return true;
    if (pciBusOf(above))
        return false;  // a bridge
    return pciBusOf(entry.name) == std::optional<std::string_view>("00");
}

std::optional<GraphicsKind> DeviceRegistry::kindFromDriver(const RegistryEntry& entry) const {
    auto uevent = readFile(entry.path + "/uevent", 64 << 10);
    if (!uevent)
        return std::nullopt;
    std::string_view text = uevent.value;
    auto at = text.find("DRIVER=");
    if (at == std::string_view::npos || (at > 0 && text[at - 1] != '\n'))
        return std::nullopt;
    std::string_view driver = text.substr(at + 7);
    driver = trim(driver.substr(0, driver.find('\n')));
    if (driver == "nvidia" || driver == "nouveau")
        return GraphicsKind::discrete;
    if (driver != "amdgpu")
        return std::nullopt;
    if (exists(entry.path + "/mem_info_vram_vendor"))
        return GraphicsKind::discrete;
    // Reading the metrics wakes a sleeping card: leave one that sleeps to its position.
    auto runtime = readAttribute(entry.path + "/power/runtime_status");
    if (runtime && runtime.value == "suspended")
        return std::nullopt;
    // The table starts with its size (two bytes), format and content revisions.
    if (auto metrics = readFile(entry.path + "/gpu_metrics", 64 << 10);
        metrics && metrics.value.size() >= 4) {
        return static_cast<unsigned char>(metrics.value[2]) >= 2 ? GraphicsKind::integrated
                                                                 : GraphicsKind::discrete;
    }
    return std::nullopt;
}

GraphicsKind DeviceRegistry::graphicsKind(const RegistryEntry& entry) const {
    if (auto kind = kindFromDriver(entry))
        return *kind;
    return onRootBus(entry) ? GraphicsKind::integrated : GraphicsKind::discrete;
}

std::optional<std::string> DeviceRegistry::pciName(std::uint16_t vendor,
                                                   std::uint16_t device) const {
    for (const char* p : {"/usr/share/hwdata/pci.ids", "/usr/share/misc/pci.ids"}) {
        auto ids = readFile(joinRoot(root_, p), 64 << 20);
        if (ids.outcome == Outcome::absent && root_ != "/")
            ids = readFile(p, 64 << 20);
        if (ids)
            return lookupPciName(ids.value, vendor, device);
    }
    return std::nullopt;
}

std::optional<RegistryValue> DeviceRegistry::property(const RegistryEntry& entry,
                                                      std::string_view key) const {
    auto attribute = [&](const char* name) { return readAttribute(entry.path + "/" + name); };
    if (entry.subsystem == "pci") {
        auto hexAttribute = [&](const char* name) -> std::optional<std::uint64_t> {
            auto text = attribute(name);
            return text ? parseHex(text.value) : std::nullopt;
        };
        if (key == "IOName") {
            auto cls = hexAttribute("class");
            if (!cls)
                return std::nullopt;
            if ((*cls >> 16) == 0x03)
                return std::string("display");
            auto vendor = hexAttribute("vendor");
            auto device = hexAttribute("device");
            if (!vendor || !device)
                return std::nullopt;
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "pci%x,%x", static_cast<unsigned>(*vendor),
                          static_cast<unsigned>(*device));
            return std::string(buffer);
        }
        if (key == "model") {
            auto vendor = hexAttribute("vendor");
            auto device = hexAttribute("device");
            if (!vendor || !device || *vendor > 0xFFFF || *device > 0xFFFF)
                return std::nullopt;
            auto name =
                pciName(static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*device));
            if (!name)
                return std::nullopt;
            return Blob(name->begin(), name->end());
        }
        if (key == "device-id" || key == "vendor-id") {
            auto id = hexAttribute(key == "device-id" ? "device" : "vendor");
            if (!id || *id > 0xFFFF)
                return std::nullopt;
            // Four little-endian bytes, as the firmware's property holds it.
            return Blob{static_cast<std::uint8_t>(*id & 0xFF), static_cast<std::uint8_t>(*id >> 8),
                        0, 0};
        }
    }
    return std::nullopt;
}

std::optional<RegistryValue> DeviceRegistry::searchProperty(const RegistryEntry& entry,
                                                            std::string_view key,
                                                            bool upward) const {
    std::optional<RegistryEntry> current = entry;
    for (int depth = 0; current && depth < 64; ++depth) {
        if (auto value = property(*current, key))
            return value;
        if (!upward)
            break;
        current = parent(*current);
    }
    return std::nullopt;
}

std::optional<RegistryEntry> DeviceRegistry::mainDisplay() const {
    std::string drm = joinRoot(root_, "/sys/class/drm/");
    auto pciEntryOfCard = [&](const std::string& card) -> std::optional<RegistryEntry> {
        auto uevent = readFile(drm + card + "/device/uevent", 64 << 10);
        if (!uevent)
            return std::nullopt;
        std::string_view text = uevent.value;
        auto at = text.find("PCI_SLOT_NAME=");
        if (at == std::string_view::npos)
            return std::nullopt;
        std::string_view slot = text.substr(at + 14);
        slot = slot.substr(0, slot.find('\n'));
        if (slot.find('/') != std::string_view::npos)
            return std::nullopt;
        auto entry =
            entryAt(joinRoot(root_, "/sys/bus/pci/devices/") + std::string(trim(slot)), "pci");
        if (entry) {
            entry->subsystem = "pci";
            entry->name = std::string(trim(slot));
        }
        return entry;
    };
    for (const auto& name : listNames(drm)) {
        auto dash = name.find('-');
        if (name.rfind("card", 0) != 0 || dash == std::string::npos)
            continue;
        auto status = readAttribute(drm + name + "/status");
        if (status && status.value == "connected") {
            if (auto entry = pciEntryOfCard(name.substr(0, dash)))
                return entry;
        }
    }
    for (auto& entry : matching("pci")) {
        auto bootVga = readAttribute(entry.path + "/boot_vga");
        if (bootVga && bootVga.value == "1")
            return entry;
    }
    return std::nullopt;
}

std::optional<std::string> asText(const std::optional<RegistryValue>& v) {
    if (v && std::holds_alternative<std::string>(*v))
        return std::get<std::string>(*v);
    return std::nullopt;
}
std::optional<Blob> asBlob(const std::optional<RegistryValue>& v) {
    if (v && std::holds_alternative<Blob>(*v))
        return std::get<Blob>(*v);
    return std::nullopt;
}
std::optional<std::int64_t> asInteger(const std::optional<RegistryValue>& v) {
    if (v && std::holds_alternative<std::int64_t>(*v))
        return std::get<std::int64_t>(*v);
    return std::nullopt;
}
std::optional<bool> asBoolean(const std::optional<RegistryValue>& v) {
    if (v && std::holds_alternative<bool>(*v))
        return std::get<bool>(*v);
    return std::nullopt;
}

}  // namespace vigil::platform
