#include "platform/BlockDevices.h"

#include <blkid/blkid.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <charconv>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/MountTable.h"
#include "platform/Read.h"

namespace vigil {

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> listDirectory(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    return names;
}

// A device name that can be joined to a folder without leaving it.
bool isSafeName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// Decodes udev's \xHH escapes of /dev/disk/by-label names.
std::string unescapeUdev(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            unsigned value = 0;
            auto [ptr, ec] = std::from_chars(text.data() + i + 2, text.data() + i + 4, value, 16);
            if (ec == std::errc() && ptr == text.data() + i + 4) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string baseName(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string cutUtf8(std::string text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    size_t cut = maxBytes;
    // Step back over continuation bytes so the cut falls on the start of a sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
    return text;
}

std::optional<BlockStat> parseBlockStat(std::string_view text) {
    int64_t values[7] = {};
    size_t pos = 0;
    for (int i = 0; i < 7; ++i) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        if (pos >= text.size())
            return std::nullopt;
        auto [ptr, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), values[i]);
        if (ec != std::errc() || values[i] < 0)
            return std::nullopt;
        pos = static_cast<size_t>(ptr - text.data());
    }
    // Fields 3 and 7 are sectors read and written, always in units of 512 bytes. Guard the
    // multiplication against a corrupt, enormous count.
    constexpr int64_t maxSectors = INT64_MAX / 512;
    if (values[2] > maxSectors || values[6] > maxSectors)
        return std::nullopt;
    return BlockStat{values[2] * 512, values[6] * 512};
}

BlockDevices::BlockDevices(std::string root) : root_(std::move(root)) {}

std::string BlockDevices::sysBlock() const {
    return platform::joinRoot(root_, "/sys/block");
}

bool BlockDevices::isVirtualDevice(std::string_view disk) {
    for (std::string_view prefix : {"loop", "vd", "ram", "zram", "dm-", "md", "nbd", "xvd", "sr"}) {
        if (disk.substr(0, prefix.size()) == prefix) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> BlockDevices::kernelName(std::string_view device) const {
    if (!isSafeName(device))
        return std::nullopt;
    std::string name(device);
    std::string block = sysBlock();
    if (exists(block + "/" + name))
        return name;
    auto disks = listDirectory(block);
    for (const auto& disk : disks) {
        if (exists(block + "/" + disk + "/" + name + "/partition"))
            return name;
    }
    // A device-mapper name ("vg-root", a LUKS mapping): the dm-N whose dm/name matches.
    for (const auto& disk : disks) {
        if (auto dmName = platform::readFile(block + "/" + disk + "/dm/name")) {
            if (platform::trim(dmName.value) == name)
                return disk;
        }
    }
    // Anything else that names a device node (a /dev/disk/by-* link, say): its device number.
    for (const char* folder : {"/dev/", "/dev/mapper/"}) {
        struct stat st;
        std::string node = platform::joinRoot(root_, std::string(folder) + name);
        if (::stat(node.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
            std::string link =
                platform::joinRoot(root_, "/sys/dev/block/" + std::to_string(major(st.st_rdev)) +
                                              ":" + std::to_string(minor(st.st_rdev)));
            char target[PATH_MAX];
            ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0) {
                target[n] = '\0';
                return baseName(target);
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> BlockDevices::wholeDisk(std::string_view device) const {
    auto name = kernelName(device);
    if (!name)
        return std::nullopt;
    std::string block = sysBlock();
    if (exists(block + "/" + *name))
        return name;
    for (const auto& disk : listDirectory(block)) {
        if (exists(block + "/" + disk + "/" + *name + "/partition"))
            return disk;
    }
    return std::nullopt;
}

std::optional<BlockStat> BlockDevices::stat(std::string_view disk) const {
    if (!isSafeName(disk))
        return std::nullopt;
    auto text = platform::readFile(sysBlock() + "/" + std::string(disk) + "/stat");
    if (!text)
        return std::nullopt;
    return parseBlockStat(text.value);
}

std::optional<std::string> BlockDevices::model(std::string_view disk) const {
    if (!isSafeName(disk))
        return std::nullopt;
    auto text = platform::readFile(sysBlock() + "/" + std::string(disk) + "/device/model");
    if (!text)
        return std::nullopt;
    std::string model = cutUtf8(std::string(platform::trim(text.value)), 64);
    if (model.empty())
        return std::nullopt;
    return model;
}

std::optional<std::string> BlockDevices::label(std::string_view device) const {
    if (!isSafeName(device))
        return std::nullopt;
    std::string name(device);
    std::string node = platform::joinRoot(root_, "/dev/" + name);
    if (!exists(node))
        node = platform::joinRoot(root_, "/dev/mapper/" + name);
    if (exists(node)) {
        if (blkid_probe probe = blkid_new_probe_from_filename(node.c_str())) {
            blkid_probe_enable_superblocks(probe, 1);
            blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL);
            std::optional<std::string> found;
            const char* value = nullptr;
            size_t length = 0;
            if (blkid_do_safeprobe(probe) == 0 &&
                blkid_probe_lookup_value(probe, "LABEL", &value, &length) == 0 && value) {
                std::string text(value, strnlen(value, length));
                if (!text.empty())
                    found = cutUtf8(std::move(text), 64);
            }
            blkid_free_probe(probe);
            return found;
        }
    }
    // Not allowed to open the node: udev's label links, when udev runs.
    std::string byLabel = platform::joinRoot(root_, "/dev/disk/by-label");
    for (const auto& link : listDirectory(byLabel)) {
        char target[PATH_MAX];
        ssize_t n = ::readlink((byLabel + "/" + link).c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        if (baseName(target) == name)
            return cutUtf8(unescapeUdev(link), 64);
    }
    return std::nullopt;
}

}  // namespace vigil
