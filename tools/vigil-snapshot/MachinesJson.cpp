#include "MachinesJson.h"

#include <chrono>
#include <iostream>
#include <thread>

#include <nlohmann/json.hpp>

#include "collectors/MachineSource.h"

namespace vigil::snapshot {

namespace {

using Json = nlohmann::ordered_json;

Json optional(const std::optional<double>& value) {
    return value ? Json(*value) : Json(nullptr);
}

const char* reachName(MachineReach reach) {
    switch (reach) {
        case MachineReach::up:
            return "up";
        case MachineReach::down:
            return "down";
        case MachineReach::unreachable:
            break;
    }
    return "unreachable";
}

Json machineJson(const MachineState& machine) {
    const MachineFigures& f = machine.figures;
    Json temperatures = Json::array();
    for (const auto& t : f.temperatures)
        temperatures.push_back({{"name", t.name}, {"celsius", t.celsius}});
    Json out = {{"name", f.name},
                {"instance", f.instance},
                {"state", reachName(machine.reach)},
                {"processorBusy", optional(f.processorBusy)},
                {"memoryTotal", optional(f.memoryTotal)},
                {"memoryUsed", optional(f.memoryUsed)},
                {"diskTotal", optional(f.diskTotal)},
                {"diskUsed", optional(f.diskUsed)},
                {"diskAvailable", optional(f.diskAvailable)},
                {"diskUsedPercent", f.diskUsedPercent() ? Json(*f.diskUsedPercent()) : Json()},
                {"downloadRate", optional(f.downloadRate)},
                {"uploadRate", optional(f.uploadRate)},
                {"loadAverage", {optional(f.load1), optional(f.load5), optional(f.load15)}},
                {"uptime", optional(f.uptime)},
                {"temperatures", temperatures}};
    if (machine.lastAnswer)
        out["lastAnswer"] =
            std::chrono::duration_cast<std::chrono::seconds>(machine.lastAnswer->time_since_epoch())
                .count();
    if (!machine.error.empty())
        out["error"] = machine.error;
    return out;
}

}  // namespace

int printMachineSource(const std::string& url, double interval) {
    MachineSourceConfig config;
    config.url = url;
    config.kind = MachineSourceConfig::kindOfUrl(url);
    auto source = makeMachineSource(config);
    auto machines = source->poll();
    bool answered = !machines.empty() && machines[0].reach != MachineReach::unreachable;
    if (answered && config.kind == MachineSourceConfig::Kind::nodeExporter) {
        std::this_thread::sleep_for(std::chrono::duration<double>(interval));
        machines = source->poll();
        answered = machines[0].reach != MachineReach::unreachable;
    }
    Json list = Json::array();
    for (const auto& machine : machines)
        list.push_back(machineJson(machine));
    Json out = {{"source", url},
                {"kind", config.kind == MachineSourceConfig::Kind::prometheus ? "prometheus"
                                                                              : "node-exporter"},
                {"machines", list}};
    std::cout << out.dump(2) << std::endl;
    return answered ? 0 : 1;
}

}  // namespace vigil::snapshot
