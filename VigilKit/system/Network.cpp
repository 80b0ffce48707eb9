#include "system/Network.h"

#include <utility>

#include "collectors/NetworkData.h"
#include "collectors/PublicAddressServer.h"
#include "platform/BlockingCalls.h"
#include "system/Alerts.h"
#include "system/SystemManager.h"

namespace vigil {

namespace {

std::optional<std::string> joinNameServers(const std::optional<std::vector<std::string>>& servers) {
    if (!servers)
        return std::nullopt;
    std::string joined;
    for (const auto& server : *servers) {
        if (!joined.empty())
            joined += ", ";
        joined += server;
    }
    return joined;
}

// The interface's rates from two samples. A counter that went down is a reset: rate 0 for this
// sample, never a negative or enormous figure.
double rate(int64_t previous, int64_t current, int64_t dt) {
    if (current < previous)
        return 0;
    return static_cast<double>(current - previous) * 1000.0 / static_cast<double>(dt);
}

}  // namespace

Network::Network(Environment environment) : environment_(std::move(environment)) {
    callbackGuard_->network = this;
    if (environment_.watchConfiguration) {
        environment_.watchConfiguration([guard = callbackGuard_](
                                            std::optional<std::string> host,
                                            std::optional<std::string> router,
                                            std::optional<std::vector<std::string>> servers) {
            std::lock_guard lock(guard->mutex);
            if (guard->network) {
                guard->network->configure(std::move(host), std::move(router), std::move(servers));
            }
        });
    }
}

Network::~Network() {
    {
        std::lock_guard lock(callbackGuard_->mutex);
        callbackGuard_->network = nullptr;
    }
    // A check on the background queue uses this object: let it finish.
    checkRunning_.wait(true);
}

void Network::configure(std::optional<std::string> hostName, std::optional<std::string> router,
                        std::optional<std::vector<std::string>> nameServers) {
    auto dns = joinNameServers(nameServers);
    std::lock_guard lock(stateMutex_);
    state_.localhostName = std::move(hostName);
    state_.router = std::move(router);
    state_.dns = std::move(dns);
}

void Network::update() {
    const auto previous = prevInterfaces_.value();
    std::map<std::string, Interface> next;
    const auto primary =
        environment_.primaryInterface ? environment_.primaryInterface() : std::nullopt;
    if (environment_.collect) {
        environment_.collect([&](int64_t timestamp, const char* name, const NetworkData* data) {
            if (name == nullptr || data == nullptr)
                return;
            Interface interface;
            const auto found = previous.find(name);
            // A link re-created under the same name is a new interface, whatever its counters say.
            if (found != previous.end() && found->second.ifindex == data->ifindex) {
                interface = found->second;
                const int64_t dt = timestamp - interface.timestamp;
                if (dt > 0) {
                    interface.ibytesps = rate(interface.ibytes, data->ibytes, dt);
                    interface.obytesps = rate(interface.obytes, data->obytes, dt);
                    interface.peakibytesps = std::max(interface.peakibytesps, interface.ibytesps);
                    interface.peakobytesps = std::max(interface.peakobytesps, interface.obytesps);
                }
            } else {
                interface.mac = data->mac ? data->mac : "";
                interface.ifindex = data->ifindex;
                if (environment_.extra) {
                    environment_.extra(name, [&](const NetworkExtra* extra) {
                        if (extra == nullptr)
                            return;
                        if (extra->linkSpeed > 0)
                            interface.linkSpeed = extra->linkSpeed;
                        interface.isPrimary = extra->isPrimary != 0;
                        interface.isWifi = extra->isWifi != 0;
                        interface.name = extra->name ? extra->name : "";
                    });
                }
            }
            if (environment_.primaryInterface)
                interface.isPrimary = primary == name;
            interface.ipaddr = data->ipaddr ? data->ipaddr : "";
            interface.ibytes = data->ibytes;
            interface.obytes = data->obytes;
            interface.timestamp = timestamp;
            next[name] = std::move(interface);
        });
    }

    if (!next.empty()) {
        if (--nextNetworkCheck_ < 0) {
            nextNetworkCheck_ = 31;
            scheduleCheck();
        }
    } else {
        std::lock_guard lock(stateMutex_);
        state_.publicAddress.reset();
        state_.connection = ConnectionType::none;
        nextNetworkCheck_ = 0;
    }
    prevInterfaces_.setValue(std::move(next));
}

void Network::scheduleCheck() {
    // One check at a time: a slow resolver may outlast the updates between two checks.
    if (checking_->exchange(true))
        return;
    checkRunning_ = true;
    auto run = [this] {
        checkConnection();
        checking_->store(false);
        checkRunning_ = false;
        checkRunning_.notify_all();
    };
    if (environment_.runInBackground) {
        environment_.runInBackground(std::move(run));
        return;
    }
    // A resolver or an echo server may keep the check waiting: on a helper thread of its own,
    // never on a worker of the sampling pool.
    if (!BlockingCalls::shared().post("network connection check", std::move(run))) {
        checking_->store(false);  // the last check is still returning
        checkRunning_ = false;
        checkRunning_.notify_all();
    }
}

void Network::checkConnection() {
    const bool reachable =
        environment_.isConnectedToInternet && environment_.isConnectedToInternet();
    if (!reachable) {
        std::lock_guard lock(stateMutex_);
        state_.publicAddress = kNoInternet;
        state_.connection = ConnectionType::local;
        return;
    }
    bool cameBack = false;
    bool lookUp = false;
    {
        std::lock_guard lock(stateMutex_);
        if (state_.connection != ConnectionType::internet) {
            state_.connection = ConnectionType::internet;
            cameBack = true;
        }
        if (!state_.publicAddress || *state_.publicAddress == kNoInternet ||
            state_.publicAddress->empty()) {
            state_.publicAddress.reset();
            lookUp = true;
        }
    }
    if (cameBack && environment_.notify)
        environment_.notify("Network", "Connected to Internet");
    if (!lookUp || !environment_.lookUpPublicAddress)
        return;
    auto address = environment_.lookUpPublicAddress();
    std::lock_guard lock(stateMutex_);
    // An empty answer means "looked up, nothing found": it is kept, and retried at the next check.
    if (address && state_.connection == ConnectionType::internet)
        state_.publicAddress = address;
}

std::optional<std::string> Network::refreshPublicAddress() {
    bool online;
    {
        std::lock_guard lock(stateMutex_);
        state_.publicAddress.reset();
        online = state_.connection == ConnectionType::internet;
    }
    if (online && environment_.lookUpPublicAddress && !checking_->exchange(true)) {
        auto address = environment_.lookUpPublicAddress();
        checking_->store(false);
        std::lock_guard lock(stateMutex_);
        if (address)
            state_.publicAddress = std::move(address);
    }
    return publicAddress();
}

std::map<std::string, Network::Interface> Network::interfaces() const {
    return prevInterfaces_.value();
}

Network::Interface Network::aggregated() const {
    return const_cast<Atomic<std::map<std::string, Interface>>&>(prevInterfaces_)
        .withValue([](const std::map<std::string, Interface>& all) {
            Interface sum;
            for (const auto& [name, interface] : all) {
                sum.ibytes += interface.ibytes;
                sum.obytes += interface.obytes;
                sum.ibytesps += interface.ibytesps;
                sum.obytesps += interface.obytesps;
                sum.peakibytesps += interface.peakibytesps;
                sum.peakobytesps += interface.peakobytesps;
            }
            return sum;
        });
}

Network::ConnectionType Network::connection() const {
    return withState([](const State& s) { return s.connection; });
}
std::optional<std::string> Network::publicAddress() const {
    return withState([](const State& s) { return s.publicAddress; });
}
std::optional<std::string> Network::localhostName() const {
    return withState([](const State& s) { return s.localhostName; });
}
std::optional<std::string> Network::router() const {
    return withState([](const State& s) { return s.router; });
}
std::optional<std::string> Network::dns() const {
    return withState([](const State& s) { return s.dns; });
}

Network::Environment Network::systemEnvironment() {
    Environment environment;
    environment.collect = [](const NetworkDataCallback& callback) { getNetworkData(callback); };
    environment.extra = [](const char* name, const NetworkExtraCallback& callback) {
        getNetworkExtra(name, callback);
    };
    environment.primaryInterface = [] { return getPrimaryNetworkInterface(); };
    environment.isConnectedToInternet = [] { return isPublicAddressServerReachable(); };
    environment.lookUpPublicAddress = [] { return vigil::lookUpPublicAddress(); };
    environment.watchConfiguration = [](auto callback) {
        SystemManager::shared().networkConfig().networkConfigureNotification(
            [callback](const NetworkConfiguration& configuration) {
                callback(configuration.localhostName, configuration.routerAddr,
                         configuration.dnsAddrs);
            });
    };
    // The back-online notice is the connectionBack alert rule: on unless the user switched it
    // off, and posted without waiting for the notification server.
    environment.notify = [](const std::string&, const std::string&) {
        Alerts::shared().connectionCameBack();
    };
    return environment;
}

const char* toString(Network::ConnectionType connection) {
    switch (connection) {
        case Network::ConnectionType::none:
            return "none";
        case Network::ConnectionType::local:
            return "local";
        case Network::ConnectionType::internet:
            return "internet";
    }
    return "unknown";
}

}  // namespace vigil
