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

class MountWatch;

// The host name, router and name servers, as the network resource receives them. A value the
// system has never reported is nullopt.
struct NetworkConfiguration {
    std::optional<std::string> localhostName;
    std::optional<std::string> routerAddr;
    std::optional<std::vector<std::string>> dnsAddrs;
    bool operator==(const NetworkConfiguration&) const = default;
};

// The collector layer's one object: it owns what the collectors share (the network configuration
// watch, the CPU brand and public address text fields, the disk session) and the power-source
// callback through which the battery collector reaches its resource. The process-wide instance is
// created on first use and lives until the process ends; tests build their own over a fixture root.
//
// The watch follows the default route (rtnetlink route, address and link notices), the name servers
// (inotify on resolv.conf and systemd-resolved's upstream file) and the host name (the kernel's
// host-name poll and /etc/hostname). A burst of changes is coalesced: the values are read once the
// burst has been quiet for `coalesce`, and the callback runs on the background queue only when
// they differ from what it was last given.
class SystemManager {
  public:
    using NetworkConfigureCallback = std::function<void(const NetworkConfiguration&)>;

    struct Options {
        std::string root = "/";
        std::chrono::milliseconds coalesce{150};
        bool watch = true;  // false: no watch thread (values read only on registration)
        // Asked for the routes instead of the kernel when set (tests make it fail).
        platform::RouteWatch::Query routeQuery{};
    };

    static SystemManager& shared();

    explicit SystemManager(Options options);
    SystemManager() : SystemManager(Options{}) {}
    ~SystemManager();
    SystemManager(const SystemManager&) = delete;
    SystemManager& operator=(const SystemManager&) = delete;

    // Stores the callback (replacing any earlier one) and calls it at once, on this thread, with
    // the current values.
    void networkConfigureNotification(NetworkConfigureCallback callback);
    // Re-reads the values and hands them to the callback (if any), on this thread.
    void scNotification();
    // Re-reads host name, router and name servers. A value that cannot be found keeps its previous
    // value; a found value that is empty (no name servers listed, no default route) clears it.
    void updateSystemConfigurationProperties();
    NetworkConfiguration configuration() const;
    // True while the watch runs (false when the route or file watch could not be set up).
    bool isWatching() const;

    // The text fields the collectors share, at most 64 bytes each.
    std::string cpuBrand() const;
    void setCpuBrand(std::string brand);
    std::string publicAddress() const;
    void setPublicAddress(std::string address);

    // The volume session the disk collector shares: the mount watch of this manager's root,
    // created and started on first use.
    std::shared_ptr<MountWatch> diskSession();

    // Stops the configuration watch and the disk session's thread. The program calls it before it
    // returns from main; the shared instance also does at exit. Safe to call more than once.
    void shutdown();

    // The power-source callback slot, for the battery collector.
    void setPowerSourcesCallback(std::function<void()> callback);
    std::function<void()> powerSourcesCallback() const;

    struct Core;

  private:
    std::shared_ptr<Core> core_;
    std::once_flag diskSessionOnce_;
    std::mutex shutdownMutex_;
    bool shutDown_ = false;
    std::shared_ptr<MountWatch> diskSession_;
};

}  // namespace vigil
