#include "Snapshot.h"
#include "collectors/NetworkData.h"
#include "platform/NetworkLinks.h"
#include "system/Network.h"

namespace vigil::snapshot {
namespace {

// A figure the machine does not know prints as null, never as 0.
nlohmann::ordered_json optionalNumber(const std::optional<int64_t>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json interfaceJson(const Network::Interface& i) {
    return {{"name", i.name},
            {"ipaddr", i.ipaddr},
            {"mac", i.mac},
            {"ibytes", i.ibytes},
            {"obytes", i.obytes},
            {"ibytesps", i.ibytesps},
            {"obytesps", i.obytesps},
            {"peakibytesps", i.peakibytesps},
            {"peakobytesps", i.peakobytesps},
            {"linkSpeed", optionalNumber(i.linkSpeed)},
            {"isPrimary", i.isPrimary},
            {"isWifi", i.isWifi}};
}

nlohmann::ordered_json optionalText(const std::optional<std::string>& text) {
    return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
}

// The machine's links under the chosen root. The connection check leaves the machine (it asks the
// public-address server), so it runs only when asked for, at once, on this thread.
Network::Environment environmentFor(const Options& options) {
    auto environment = Network::systemEnvironment();
    auto links = std::make_shared<platform::NetworkLinks>(options.root);
    environment.collect = [links](const NetworkDataCallback& callback) {
        getNetworkData(*links, callback);
    };
    environment.extra = [links](const char* name, const NetworkExtraCallback& callback) {
        getNetworkExtra(*links, name, callback);
    };
    environment.primaryInterface = [links] { return links->defaultRouteInterface(); };
    environment.notify = nullptr;
    environment.runInBackground = [check = options.checkConnection](std::function<void()> work) {
        if (check)
            work();
    };
    return environment;
}

class NetworkSampler : public Sampler {
  public:
    explicit NetworkSampler(const Options& options)
        : network_(environmentFor(options)), checked_(options.checkConnection) {}
    void sample() override { network_.update(); }
    nlohmann::ordered_json json() const override {
        nlohmann::ordered_json interfaces = nlohmann::ordered_json::object();
        for (const auto& [name, interface] : network_.interfaces())
            interfaces[name] = interfaceJson(interface);
        const auto sum = network_.aggregated();
        nlohmann::ordered_json out = {
            {"interfaces", interfaces},
            {"aggregated",
             {{"ibytes", sum.ibytes},
              {"obytes", sum.obytes},
              {"ibytesps", sum.ibytesps},
              {"obytesps", sum.obytesps},
              {"peakibytesps", sum.peakibytesps},
              {"peakobytesps", sum.peakobytesps}}},
            {"localhostName", optionalText(network_.localhostName())},
            {"router", optionalText(network_.router())},
            {"dns", optionalText(network_.dns())},
        };
        if (checked_) {
            out["connection"] = toString(network_.connection());
            out["publicAddress"] = optionalText(network_.publicAddress());
        }
        return out;
    }

  private:
    Network network_;
    bool checked_;
};

const bool registered =
    add({"network", 50, [](const Options& o) { return std::make_unique<NetworkSampler>(o); }});

}  // namespace
}  // namespace vigil::snapshot
