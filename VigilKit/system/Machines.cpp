#include "system/Machines.h"

#include <cstdlib>

#include "collectors/MachineSourceSettings.h"
#include "runtime/Queue.h"

namespace vigil {

Machines::Machines(std::vector<MachineSourceConfig> sources, std::chrono::milliseconds interval,
                   ErrorReport& report)
    : interval_(interval), report_(report) {
    setSources(std::move(sources));
}

Machines::~Machines() {
    stop();
}

Machines& Machines::shared() {
    static Machines* machines = [] {
        auto* created = new Machines(machineSources(), machinesInterval());
        std::atexit([] { shared().stop(); });
        return created;
    }();
    return *machines;
}

std::vector<std::shared_ptr<MachinePoller>> Machines::pollers() const {
    std::lock_guard lock(mutex_);
    return pollers_;
}

std::vector<MachineState> Machines::machines() const {
    std::vector<MachineState> all;
    for (const auto& poller : pollers())
        if (auto machines = poller->machines())
            all.insert(all.end(), machines->begin(), machines->end());
    return all;
}

unsigned Machines::generation() const {
    unsigned generation;
    {
        std::lock_guard lock(mutex_);
        generation = replaced_;
    }
    for (const auto& poller : pollers())
        generation += poller->polls();
    return generation;
}

bool Machines::polledAtLeast(unsigned count) const {
    for (const auto& poller : pollers())
        if (poller->polls() < count)
            return false;
    return true;
}

std::vector<MachineSourceConfig> Machines::sources() const {
    std::vector<MachineSourceConfig> configs;
    for (const auto& poller : pollers())
        configs.push_back(poller->config());
    return configs;
}

void Machines::setSources(std::vector<MachineSourceConfig> sources) {
    std::vector<std::shared_ptr<MachinePoller>> started;
    for (auto& source : sources)
        started.push_back(std::make_shared<MachinePoller>(
            makeMachineSource(std::move(source), report_), interval_));
    std::vector<std::shared_ptr<MachinePoller>> old;
    {
        std::lock_guard lock(mutex_);
        old.swap(pollers_);
        pollers_ = std::move(started);
        replaced_ += 1000000;  // apart from any count of polls
    }
    for (auto& poller : old)
        poller->stop();
}

void Machines::history(const MachineState& machine, MachineFigure figure,
                       std::chrono::seconds range, HistoryDone done) {
    for (const auto& poller : pollers()) {
        if (poller->config().url != machine.source ||
            poller->config().kind != MachineSourceConfig::Kind::prometheus)
            continue;
        std::string instance = machine.figures.instance;
        poller->enqueue([instance, figure, range, done](MachineSource& source) {
            auto points = static_cast<PrometheusSource&>(source).history(instance, figure, range);
            Queue::main().async([done, points = std::move(points)] { done(points); });
        });
        return;
    }
    Queue::main().async([done] { done(std::nullopt); });
}

void Machines::stop() {
    for (auto& poller : pollers())
        poller->stop();
}

}  // namespace vigil
