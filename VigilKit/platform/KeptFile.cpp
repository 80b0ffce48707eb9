#include "platform/KeptFile.h"

#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <utility>

namespace vigil::platform {

namespace {
// Proc and sysfs files are made anew by the kernel on each read from the start.
bool isKernelMade(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return false;
    return fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC;
}
}  // namespace

KeptFile::KeptFile(std::string path) : path_(std::move(path)) {}

KeptFile::~KeptFile() {
    close();
}

KeptFile::KeptFile(const KeptFile& other) : path_(other.path_) {}

KeptFile& KeptFile::operator=(const KeptFile& other) {
    if (this != &other) {
        close();
        path_ = other.path_;
    }
    return *this;
}

KeptFile::KeptFile(KeptFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)) {}

KeptFile& KeptFile::operator=(KeptFile&& other) noexcept {
    if (this != &other) {
        close();
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void KeptFile::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

Outcome KeptFile::readInto(std::string& out, std::string* error, std::size_t limit) {
    if (fd_ >= 0) {
        if (readDescriptor(fd_, ReadFrom::start, path_, out, nullptr, limit) == Outcome::value)
            return Outcome::value;
        // The file stopped answering (its process or device is gone, or it grew past the
        // limit): what a fresh open finds is the answer.
        close();
    }
    return readFresh(out, error, limit);
}

Outcome KeptFile::readFresh(std::string& out, std::string* error, std::size_t limit) {
    out.clear();
    Outcome opened;
    const int fd = openForReading(path_, &opened, error);
    if (fd < 0)
        return opened;
    const Outcome outcome = readDescriptor(fd, ReadFrom::start, path_, out, error, limit);
    if (outcome == Outcome::value && isKernelMade(fd))
        fd_ = fd;
    else
        ::close(fd);
    return outcome;
}

}  // namespace vigil::platform
