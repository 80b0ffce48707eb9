#include "platform/HostConfig.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vigil::platform {

std::vector<std::string> parseResolvConf(std::string_view text) {
    std::vector<std::string> servers;
    while (!text.empty()) {
        auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        std::string_view rest = line;
        if (nextWord(rest) != "nameserver")
            continue;
        std::string_view address = nextWord(rest);
        if (address.empty() || address.size() > 64)
            continue;
        bool plausible = true;
        for (char c : address) {
            bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                      c == '.' || c == ':' || c == '%' || (c >= 'g' && c <= 'z') || c == '-' ||
                      c == '_';
            if (!ok)
                plausible = false;
        }
        if (plausible)
            servers.emplace_back(address);
    }
    return servers;
}

HostConfig::HostConfig(std::string root) : root_(std::move(root)) {}

HostConfig::~HostConfig() {
    if (inotify_ >= 0)
        ::close(inotify_);
    if (hostName_ >= 0)
        ::close(hostName_);
}

Read<std::vector<std::string>> HostConfig::nameServers() const {
    auto text = readFile(joinRoot(root_, "/etc/resolv.conf"), 1 << 20);
    if (!text)
        return Read<std::vector<std::string>>::from(text);
    auto servers = parseResolvConf(text.value);
    bool onlyStub = !servers.empty();
    for (const auto& s : servers)
        onlyStub = onlyStub && s == "127.0.0.53";
    if (onlyStub) {
        auto upstream = readFile(joinRoot(root_, "/run/systemd/resolve/resolv.conf"), 1 << 20);
        if (upstream)
            servers = parseResolvConf(upstream.value);
    }
    return Read<std::vector<std::string>>::of(std::move(servers));
}

Read<std::string> HostConfig::hostName() {
    char name[HOST_NAME_MAX + 2] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return Read<std::string>::failure(std::strerror(errno));
    }
    if (name[0] == '\0')
        return Read<std::string>::absent();
    return Read<std::string>::of(cleanUtf8(name));
}

bool HostConfig::open() {
    if (inotify_ >= 0)
        return true;
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) {
        reportError("inotify_init1", std::strerror(errno));
        return false;
    }
    const std::uint32_t mask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                               IN_DELETE | IN_MODIFY | IN_ATTRIB;
    for (const char* dir : {"/etc", "/run/systemd/resolve", "/run/NetworkManager"}) {
        // A folder that does not exist here is simply not watched.
        ::inotify_add_watch(inotify_, joinRoot(root_, dir).c_str(), mask | IN_ONLYDIR);
    }
    hostName_ = ::open("/proc/sys/kernel/hostname", O_RDONLY | O_CLOEXEC);
    acknowledgeHostName();
    return true;
}

bool HostConfig::drainInotify() {
    if (inotify_ < 0)
        return false;
    bool relevant = false;
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        ssize_t n = ::read(inotify_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + offset, sizeof event);
            std::string_view name(buffer + offset + sizeof(inotify_event),
                                  strnlen(buffer + offset + sizeof(inotify_event), event.len));
            if ((event.mask & IN_Q_OVERFLOW) || name == "resolv.conf" ||
                name == "stub-resolv.conf" || name == "hostname") {
                relevant = true;
            }
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
    return relevant;
}

void HostConfig::acknowledgeHostName() {
    if (hostName_ < 0)
        return;
    char buffer[HOST_NAME_MAX + 2];
    ::lseek(hostName_, 0, SEEK_SET);
    while (::read(hostName_, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace vigil::platform
