#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace vigil::test {

// A tmpfs of the given size mounted on a folder (created if needed), for tests that make a folder
// read-only (root writes to any folder whatever its mode bits, but not to a read-only mount) or
// full. Unmounted when the object goes. Needs root; `reason()` says why it is not mounted.
class TmpfsMount {
  public:
    TmpfsMount(const std::filesystem::path& where, std::string size) : where_(where), size_(size) {
        std::filesystem::create_directories(where);
        const std::string options = "size=" + size_ + ",mode=0700";
        if (mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            reason_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~TmpfsMount() {
        if (mounted_)
            umount2(where_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool setReadOnly(bool readOnly) {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        const std::string options = "size=" + size_;
        if (mount(nullptr, where_.c_str(), nullptr, flags, options.c_str()) == 0)
            return true;
        reason_ = std::string("cannot remount the tmpfs: ") + std::strerror(errno);
        return false;
    }

    // Takes every free block with a filler file; true when the folder is full.
    bool fill() {
        const auto filler = where_ / "filler";
        const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        const std::string block(4096, 'f');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        // Then single bytes, so not even a small file fits.
        while (write(fd, "f", 1) > 0) {
        }
        const bool full = errno == ENOSPC;
        close(fd);
        return full;
    }
    void empty() { std::filesystem::remove(where_ / "filler"); }

    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }

  private:
    std::filesystem::path where_;
    std::string size_;
    bool mounted_ = false;
    std::string reason_;
};

}  // namespace vigil::test
