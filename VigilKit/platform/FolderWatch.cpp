#include "platform/FolderWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vigil {

namespace {
constexpr uint32_t kNotices = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                              IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
}  // namespace

FolderWatch::FolderWatch() = default;

FolderWatch::~FolderWatch() {
    close();
}

FolderWatch::FolderWatch(FolderWatch&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderWatch& FolderWatch::operator=(FolderWatch&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void FolderWatch::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool FolderWatch::reset() {
    close();
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    return fd_ >= 0;
}

FolderWatch::Added FolderWatch::add(const std::string& folder) {
    if (fd_ < 0)
        return Added::failed;
    if (::inotify_add_watch(fd_, folder.c_str(), kNotices) >= 0)
        return Added::watched;
    return errno == ENOENT || errno == ENOTDIR ? Added::missing : Added::failed;
}

bool FolderWatch::changed() {
    if (fd_ < 0)
        return false;
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got > 0) {
            any = true;  // every notice asked for is a change, overflow included
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return any;  // EAGAIN: nothing more is pending
    }
}

}  // namespace vigil
