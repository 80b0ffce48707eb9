#include "collectors/NodeExporterSource.h"

namespace vigil {

NodeExporterSource::NodeExporterSource(MachineSourceConfig config, ErrorReport& report)
    : MachineSource(std::move(config), report) {}

std::vector<MachineState> NodeExporterSource::poll() {
    auto answer = get(config_.url);
    auto now = std::chrono::steady_clock::now();
    if (!answer.ok())
        return unreachable(answer.error);
    auto text = parsePrometheusText(answer.body);
    if (!text.error.empty())
        return unreachable("not the text exposition format (" + text.error + ")");
    NodeCounters counters = nodeCounters(text.samples);
    if (!counters.time && !counters.cpuCountedSeconds && !counters.memoryTotal)
        return unreachable("no node exporter figures in the answer");

    MachineState state;
    state.figures =
        deriveMachineFigures(previous_ ? &*previous_ : nullptr, counters, now - previousAt_);
    state.figures.instance = config_.url;
    if (state.figures.name.empty())
        state.figures.name = config_.url;
    state.reach = MachineReach::up;
    state.lastAnswer = std::chrono::system_clock::now();
    previous_ = std::move(counters);
    previousAt_ = now;
    std::vector<MachineState> machines{std::move(state)};
    remember(machines);
    return machines;
}

}  // namespace vigil
