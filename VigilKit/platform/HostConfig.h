#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Read.h"

namespace vigil::platform {

// The "nameserver" addresses of a resolv.conf, in order. Comments, other options and malformed
// lines are skipped.
std::vector<std::string> parseResolvConf(std::string_view text);

// The host's name-service and name configuration under a root directory: the name servers of
// /etc/resolv.conf (or, when that only points at systemd-resolved's local stub, its upstream file
// /run/systemd/resolve/resolv.conf), the host name, and an inotify watch of those files.
class HostConfig {
  public:
    explicit HostConfig(std::string root = "/");
    ~HostConfig();
    HostConfig(const HostConfig&) = delete;
    HostConfig& operator=(const HostConfig&) = delete;

    // The name servers; absent when there is no resolv.conf at all.
    Read<std::vector<std::string>> nameServers() const;
    // gethostname(); absent when the host has no name.
    static Read<std::string> hostName();

    // Starts watching the folders of the files (atomic replacement by rename is seen too) and the
    // kernel's host name. False when inotify cannot be set up (one error line).
    bool open();
    int inotifyFd() const { return inotify_; }
    // A descriptor that polls with POLLPRI|POLLERR when the host name changes (-1 if unavailable).
    int hostNameFd() const { return hostName_; }
    // Reads pending inotify events without blocking; true when one concerned the watched files.
    bool drainInotify();
    // Acknowledges a host-name change on hostNameFd().
    void acknowledgeHostName();

  private:
    std::string root_;
    int inotify_ = -1;
    int hostName_ = -1;
};

}  // namespace vigil::platform
