#include "collectors/MachineSource.h"

#include "collectors/NodeExporterSource.h"
#include "collectors/PrometheusSource.h"

namespace vigil {

MachineSourceConfig::Kind MachineSourceConfig::kindOfUrl(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path.ends_with("/metrics") ? Kind::nodeExporter : Kind::prometheus;
}

std::vector<MachineState> MachineSource::unreachable(const std::string& error) {
    if (!cancelled)  // a request cut off by stop() is no fault of the source
        report_.report("other machines", config_.url + ": " + error);
    std::vector<MachineState> machines = known_;
    if (machines.empty()) {
        MachineState state;
        state.figures.name = config_.url;
        state.figures.instance = config_.url;
        machines.push_back(std::move(state));
    }
    for (auto& machine : machines) {
        MachineFigures kept;
        kept.name = machine.figures.name;
        kept.instance = machine.figures.instance;
        machine.figures = std::move(kept);
        machine.reach = MachineReach::unreachable;
        machine.error = error;
    }
    return machines;
}

void MachineSource::remember(const std::vector<MachineState>& machines) {
    known_ = machines;
}

platform::HttpAnswer MachineSource::get(const std::string& url) {
    platform::HttpRequest request;
    request.url = url;
    request.credentials = config_.credentials;
    request.cancel = &cancelled;
    return http_.get(request);
}

std::unique_ptr<MachineSource> makeMachineSource(MachineSourceConfig config, ErrorReport& report) {
    if (config.kind == MachineSourceConfig::Kind::nodeExporter)
        return std::make_unique<NodeExporterSource>(std::move(config), report);
    return std::make_unique<PrometheusSource>(std::move(config), report);
}

}  // namespace vigil
