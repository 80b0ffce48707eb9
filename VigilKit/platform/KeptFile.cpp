#include "platform/KeptFile.h"

#include <linux/magic.h>
#include <sys/vfs.h>

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

KeptFile& KeptFile::operator=(const KeptFile& other) {
    if (this != &other) {
        close();
        path_ = other.path_;
    }
    return *this;
}

Outcome KeptFile::readInto(std::string& out, std::string* error, std::size_t limit) {
    if (fd_.valid()) {
        if (readDescriptor(fd_.get(), ReadFrom::start, path_, out, nullptr, limit) ==
            Outcome::value)
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
    OwnedFd fd(openForReading(path_, &opened, error));
    if (!fd.valid())
        return opened;
    const Outcome outcome = readDescriptor(fd.get(), ReadFrom::start, path_, out, error, limit);
    if (outcome == Outcome::value && isKernelMade(fd.get()))
        fd_ = std::move(fd);
    return outcome;
}

}  // namespace vigil::platform
