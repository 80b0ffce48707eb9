#include "platform/FolderWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace vigil {

namespace {
constexpr uint32_t kNotices = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                              IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
}  // namespace

bool FolderWatch::reset() {
    fd_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    return fd_.valid();
}

FolderWatch::Added FolderWatch::add(const std::string& folder) {
    if (!fd_.valid())
        return Added::failed;
    if (::inotify_add_watch(fd_.get(), folder.c_str(), kNotices) >= 0)
        return Added::watched;
    return errno == ENOENT || errno == ENOTDIR ? Added::missing : Added::failed;
}

bool FolderWatch::changed() {
    if (!fd_.valid())
        return false;
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    for (;;) {
        const ssize_t got = ::read(fd_.get(), buffer, sizeof buffer);
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
