#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "collectors/NetworkData.h"
#include "runtime/Atomic.h"
#include "system/SystemResource.h"

namespace vigil {

// The active network interfaces with their counters, rates and peaks, and the machine's connection
// state, public address, host name, router and name servers.
class Network : public SystemResource {
  public:
    enum class ConnectionType { none, local, internet };

    struct Interface {
        double ibytesps = 0;
        double obytesps = 0;
        double peakibytesps = 0;
        double peakobytesps = 0;
        int64_t ibytes = 0;
        int64_t obytes = 0;
        std::string mac;
        std::string ipaddr;
        int64_t timestamp = 0;             // milliseconds on the monotonic clock
        std::optional<int64_t> linkSpeed;  // bits per second; empty when the driver does not know
        bool isPrimary = false;
        bool isWifi = false;
        std::string name;
        int ifindex = 0;
    };

    // What the resource asks of the outside world. The defaults are the machine's; tests replace
    // what cannot exist on a test machine (the Internet).
    struct Environment {
        std::function<void(const NetworkDataCallback&)> collect;
        std::function<void(const char*, const NetworkExtraCallback&)> extra;
        // The interface of the default route, asked on every update: a primary flag read only when
        // an interface appears would go stale when the route moves.
        std::function<std::optional<std::string>()> primaryInterface;
        std::function<bool()> isConnectedToInternet;
        std::function<std::optional<std::string>()> lookUpPublicAddress;
        std::function<void(const std::string& title, const std::string& text)> notify;
        std::function<void(std::function<void()>)> runInBackground;
        // Registers the configuration callback (host name, router, name servers).
        std::function<void(
            std::function<void(std::optional<std::string>, std::optional<std::string>,
                               std::optional<std::vector<std::string>>)>)>
            watchConfiguration;
    };
    static Environment systemEnvironment();

    explicit Network(Environment environment = systemEnvironment());
    ~Network() override;

    SystemResourceType type() const override { return SystemResourceType::net; }
    void update() override;

    std::map<std::string, Interface> interfaces() const;
    Interface aggregated() const;
    // Looks the public address up again now, on the calling thread, when the machine is online.
    std::optional<std::string> refreshPublicAddress();

    ConnectionType connection() const;
    std::optional<std::string> publicAddress() const;
    std::optional<std::string> localhostName() const;
    std::optional<std::string> router() const;
    std::optional<std::string> dns() const;

    // The configuration callback's hand-over (also called by the watcher).
    void configure(std::optional<std::string> hostName, std::optional<std::string> router,
                   std::optional<std::vector<std::string>> nameServers);

    // Whether a connection check or public-address lookup is running.
    bool isChecking() const { return checking_->load(); }

    static constexpr const char* kNoInternet = "No Internet";

  private:
    struct State {
        ConnectionType connection = ConnectionType::internet;
        std::optional<std::string> publicAddress;
        std::optional<std::string> localhostName, router, dns;
    };

    void checkConnection();
    void scheduleCheck();
    template <typename F>
    auto withState(F&& f) const {
        std::lock_guard lock(stateMutex_);
        return f(state_);
    }

    // The configuration watcher outlives this object: its callback goes through this guard, which
    // the destructor empties under the lock.
    struct CallbackGuard {
        std::mutex mutex;
        Network* network = nullptr;
    };

    Environment environment_;
    std::shared_ptr<CallbackGuard> callbackGuard_ = std::make_shared<CallbackGuard>();
    mutable std::mutex stateMutex_;
    State state_;
    Atomic<std::map<std::string, Interface>> prevInterfaces_;
    int nextNetworkCheck_ = 0;  // only update() touches it; ticks of one task never overlap
    // Shared with checks still running on the background queue.
    std::shared_ptr<std::atomic<bool>> checking_ = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> checkRunning_{false};  // the destructor waits for a running check
};

const char* toString(Network::ConnectionType connection);

}  // namespace vigil
