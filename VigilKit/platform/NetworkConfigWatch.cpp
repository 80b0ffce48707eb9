#include "platform/NetworkConfigWatch.h"

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
#include "runtime/Queue.h"

namespace vigil::platform {

struct NetworkConfigWatch::Core {
    Options options;
    HostConfig hostConfig;
    RouteWatch routes;

    mutable std::mutex mutex;  // guards the fields below
    NetworkConfiguration config;
    std::optional<NetworkConfiguration> delivered;
    std::shared_ptr<Callback> callback;

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
        auto name = HostConfig::hostName();
        reportIfFailed(name, "gethostname");
        if (name)
            next.localhostName = name.value;
        // The router is the gateway of the primary default route, by the same rule that picks
        // the primary link. A question that fails keeps the last router; only a route that is
        // gone (or has no gateway) clears it.
        if (const auto defaults = routes.defaultRoutes()) {
            const auto primary = primaryDefaultRoute(*defaults);
            if (primary && !primary->gateway.empty()) {
                next.routerAddr = primary->gateway;
            } else {
                next.routerAddr.reset();
            }
        }
        auto servers = hostConfig.nameServers();
        reportIfFailed(servers, "resolv.conf");
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
        std::shared_ptr<Callback> target;
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
                reportError("poll", std::strerror(errno));
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

NetworkConfigWatch::NetworkConfigWatch(Options options)
    : core_(std::make_shared<Core>(std::move(options))) {
    core_->self = core_;
    if (!core_->options.watch)
        return;
    bool routesOpen = core_->routes.open();
    bool filesOpen = core_->hostConfig.open();
    if (!routesOpen || !filesOpen) {
        reportError("network configuration watch", "could not be installed");
    }
    core_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (core_->wakeFd < 0) {
        reportError("eventfd", std::strerror(errno));
        return;
    }
    core_->watching = true;
    Core* core = core_.get();
    core_->watcher = std::thread([core] { core->run(); });
}

NetworkConfigWatch::~NetworkConfigWatch() {
    stop();
}

void NetworkConfigWatch::stop() {
    std::lock_guard<std::mutex> once(stopMutex_);
    if (stopped_)
        return;
    stopped_ = true;
    if (core_->watcher.joinable()) {
        std::uint64_t one = 1;
        if (::write(core_->wakeFd, &one, sizeof one) < 0) {
            reportError("eventfd write", std::strerror(errno));
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

void NetworkConfigWatch::networkConfigureNotification(Callback callback) {
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        core_->callback = std::make_shared<Callback>(std::move(callback));
    }
    scNotification();
}

void NetworkConfigWatch::scNotification() {
    core_->deliver(core_->read(), true);
}

void NetworkConfigWatch::updateSystemConfigurationProperties() {
    core_->read();
}

NetworkConfiguration NetworkConfigWatch::configuration() const {
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->config;
}

bool NetworkConfigWatch::isWatching() const {
    return core_->watching;
}

}  // namespace vigil::platform
