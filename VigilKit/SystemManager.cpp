#include "SystemManager.h"

#include "platform/MountWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "C/system/System.h"
#include "platform/HostConfig.h"
#include "platform/Read.h"
#include "platform/RouteWatch.h"
#include "system/Queue.h"

namespace vigil {

namespace {
// The shared text fields hold at most this many bytes (cut at a UTF-8 boundary).
constexpr std::size_t kTextFieldBytes = 64;
}  // namespace

struct SystemManager::Core {
    Options options;
    platform::HostConfig hostConfig;
    platform::RouteWatch routes;

    mutable std::mutex mutex;  // guards the fields below
    NetworkConfiguration config;
    std::optional<NetworkConfiguration> delivered;
    std::shared_ptr<NetworkConfigureCallback> callback;
    std::string cpuBrand = "-";
    std::string publicAddress;
    std::function<void()> powerSources;

    std::mutex deliveryMutex;  // one delivery at a time, in order
    std::thread watcher;
    int wakeFd = -1;
    std::atomic<bool> watching{false};

    explicit Core(Options o) : options(std::move(o)), hostConfig(options.root) {
        routes.setQuery(options.routeQuery);
    }

    NetworkConfiguration read() {
        NetworkConfiguration next;
        {
            std::lock_guard<std::mutex> lock(mutex);
            next = config;
        }
        auto name = platform::HostConfig::hostName();
        platform::reportIfFailed(name, "gethostname");
        if (name)
            next.localhostName = name.value;
        // The router is the gateway of the primary default route, by the same rule that picks
        // the primary link. A question that fails keeps the last router; only a route that is
        // gone (or has no gateway) clears it.
        if (const auto defaults = routes.defaultRoutes()) {
            const auto primary = platform::primaryDefaultRoute(*defaults);
            if (primary && !primary->gateway.empty()) {
                next.routerAddr = primary->gateway;
            } else {
                next.routerAddr.reset();
            }
        }
        auto servers = hostConfig.nameServers();
        platform::reportIfFailed(servers, "resolv.conf");
        if (servers)
            next.dnsAddrs = servers.value;
        {
            std::lock_guard<std::mutex> lock(mutex);
            config = next;
        }
        return next;
    }

    void deliver(const NetworkConfiguration& values, bool always) {
        std::lock_guard<std::mutex> order(deliveryMutex);
        std::shared_ptr<NetworkConfigureCallback> target;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!always && delivered && *delivered == values)
                return;
            target = callback;
            if (target)
                delivered = values;
        }
        if (target && *target)
            (*target)(values);
    }

    void run() {
        pollfd fds[4];
        std::optional<std::chrono::steady_clock::time_point> due;
        for (;;) {
            int count = 0;
            fds[count++] = {wakeFd, POLLIN, 0};
            fds[count++] = {routes.fd(), POLLIN, 0};
            fds[count++] = {hostConfig.inotifyFd(), POLLIN, 0};
            fds[count++] = {hostConfig.hostNameFd(), POLLPRI | POLLERR, 0};
            int timeout = -1;
            if (due) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    *due - std::chrono::steady_clock::now());
                timeout = left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
            }
            int n = ::poll(fds, count, timeout);
            if (n < 0 && errno != EINTR) {
                platform::reportError("poll", std::strerror(errno));
                break;
            }
            if (fds[0].revents)
                break;
            bool changed = false;
            if (fds[1].revents && routes.drain())
                changed = true;
            if (fds[2].revents && hostConfig.drainInotify())
                changed = true;
            if (fds[3].revents) {
                hostConfig.acknowledgeHostName();
                changed = true;
            }
            auto now = std::chrono::steady_clock::now();
            // Each new notice pushes the read back until the burst has been quiet for a while.
            if (changed)
                due = now + options.coalesce;
            if (due && now >= *due) {
                due.reset();
                NetworkConfiguration values = read();
                Queue::background().async([weak = self, values] {
                    if (auto core = weak.lock())
                        core->deliver(values, false);
                });
            }
        }
    }

    std::weak_ptr<Core> self;
};

SystemManager& SystemManager::shared() {
    // Never destroyed; its threads are stopped at exit, before the statics they may use go away.
    static SystemManager* instance = [] {
        auto* manager = new SystemManager(Options{});
        std::atexit([] { SystemManager::shared().shutdown(); });
        return manager;
    }();
    return *instance;
}

SystemManager::SystemManager(Options options) : core_(std::make_shared<Core>(std::move(options))) {
    core_->self = core_;
    if (!core_->options.watch)
        return;
    bool routesOpen = core_->routes.open();
    bool filesOpen = core_->hostConfig.open();
    if (!routesOpen || !filesOpen) {
        platform::reportError("network configuration watch", "could not be installed");
    }
    core_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (core_->wakeFd < 0) {
        platform::reportError("eventfd", std::strerror(errno));
        return;
    }
    core_->watching = true;
    Core* core = core_.get();
    core_->watcher = std::thread([core] { core->run(); });
}

std::shared_ptr<MountWatch> SystemManager::diskSession() {
    std::call_once(diskSessionOnce_, [this] {
        diskSession_ = std::make_shared<MountWatch>(core_->options.root);
        diskSession_->start();  // on failure it has written its error line; lists reload on demand
    });
    return diskSession_;
}

SystemManager::~SystemManager() {
    shutdown();
}

void SystemManager::shutdown() {
    std::lock_guard<std::mutex> once(shutdownMutex_);
    if (shutDown_)
        return;
    shutDown_ = true;
    if (diskSession_)
        diskSession_->stop();
    if (core_->watcher.joinable()) {
        std::uint64_t one = 1;
        if (::write(core_->wakeFd, &one, sizeof one) < 0) {
            platform::reportError("eventfd write", std::strerror(errno));
        }
        core_->watcher.join();
    }
    core_->watching = false;
    if (core_->wakeFd >= 0) {
        ::close(core_->wakeFd);
        core_->wakeFd = -1;
    }
    // Deliveries already queued find the core gone once the last reference drops: take the
    // callback away now so none of them reaches a caller that is going away with us.
    std::lock_guard<std::mutex> order(core_->deliveryMutex);
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->callback.reset();
}

void SystemManager::networkConfigureNotification(NetworkConfigureCallback callback) {
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        core_->callback = std::make_shared<NetworkConfigureCallback>(std::move(callback));
    }
    scNotification();
}

void SystemManager::scNotification() {
    core_->deliver(core_->read(), true);
}

void SystemManager::updateSystemConfigurationProperties() {
    core_->read();
}

NetworkConfiguration SystemManager::configuration() const {
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->config;
}

bool SystemManager::isWatching() const {
    return core_->watching;
}

std::string SystemManager::cpuBrand() const {
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->cpuBrand;
}

void SystemManager::setCpuBrand(std::string brand) {
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->cpuBrand = platform::cleanUtf8(brand, kTextFieldBytes);
}

std::string SystemManager::publicAddress() const {
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->publicAddress;
}

void SystemManager::setPublicAddress(std::string address) {
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->publicAddress = platform::cleanUtf8(address, kTextFieldBytes);
}

void SystemManager::setPowerSourcesCallback(std::function<void()> callback) {
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->powerSources = std::move(callback);
}

std::function<void()> SystemManager::powerSourcesCallback() const {
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->powerSources;
}

}  // namespace vigil
