#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/RouteWatch.h"

namespace vigil {

// The host name, router and name servers, as the network resource receives them. A value the
// system has never reported is nullopt.
struct NetworkConfiguration {
    std::optional<std::string> localhostName;
    std::optional<std::string> routerAddr;
    std::optional<std::vector<std::string>> dnsAddrs;
    bool operator==(const NetworkConfiguration&) const = default;
};

namespace platform {

// Follows the default route (rtnetlink route, address and link notices), the name servers
// (inotify on resolv.conf and systemd-resolved's upstream file) and the host name (the kernel's
// host-name poll and /etc/hostname) on a thread of its own. A burst of changes is coalesced: the
// values are read once the burst has been quiet for `coalesce`, and the callback runs on the
// background queue only when they differ from what it was last given.
class NetworkConfigWatch {
  public:
    using Callback = std::function<void(const NetworkConfiguration&)>;

    struct Options {
        std::string root = "/";
        std::chrono::milliseconds coalesce{150};
        bool watch = true;  // false: no watch thread (values read only on registration)
        // Asked for the routes instead of the kernel when set (tests make it fail).
        RouteWatch::Query routeQuery{};
    };

    explicit NetworkConfigWatch(Options options);
    NetworkConfigWatch() : NetworkConfigWatch(Options{}) {}
    ~NetworkConfigWatch();
    NetworkConfigWatch(const NetworkConfigWatch&) = delete;
    NetworkConfigWatch& operator=(const NetworkConfigWatch&) = delete;

    // Stores the callback (replacing any earlier one) and calls it at once, on this thread, with
    // the current values.
    void networkConfigureNotification(Callback callback);
    // Re-reads the values and hands them to the callback (if any), on this thread.
    void scNotification();
    // Re-reads host name, router and name servers. A value that cannot be found keeps its previous
    // value; a found value that is empty (no name servers listed, no default route) clears it.
    void updateSystemConfigurationProperties();
    NetworkConfiguration configuration() const;
    // True while the watch runs (false when the route or file watch could not be set up).
    bool isWatching() const;

    // Stops the watch thread and drops the callback. Safe to call more than once.
    void stop();

    struct Core;

  private:
    std::shared_ptr<Core> core_;
    std::mutex stopMutex_;
    bool stopped_ = false;
};

}  // namespace platform
}  // namespace vigil
