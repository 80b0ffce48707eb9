#pragma once

// Other machines: every source of the settings (node exporters, Prometheus servers), each polled on
// a thread of its own at the remote rows' interval, never on the sampling pool or the main thread.
// Readers on the main thread get the last answers without waiting on the network.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "collectors/PrometheusSource.h"
#include "system/MachinePoller.h"

namespace vigil {

class Machines {
  public:
    Machines(std::vector<MachineSourceConfig> sources, std::chrono::milliseconds interval,
             ErrorReport& report = ErrorReport::shared());
    ~Machines();
    Machines(const Machines&) = delete;
    Machines& operator=(const Machines&) = delete;

    // The program's instance: the sources and interval of the settings, polled from first use.
    static Machines& shared();

    // Every machine of every source, in the order of the sources; a source not yet polled adds
    // nothing.
    std::vector<MachineState> machines() const;
    // Changes whenever a source's answer does (a poll ended, the sources were replaced): a view
    // that drew at one generation need not draw again until it changes.
    unsigned generation() const;
    // Whether every source has been polled at least `count` times.
    bool polledAtLeast(unsigned count) const;
    std::vector<MachineSourceConfig> sources() const;

    // Starts over with these sources (after the settings changed): the old ones stop.
    void setSources(std::vector<MachineSourceConfig> sources);

    // A machine's history of one figure over `range` that ends now; `done` runs on the main queue
    // with the points, or nothing when the source cannot give history (a node exporter keeps
    // none) or failed.
    using HistoryDone = std::function<void(std::optional<std::vector<MachineHistoryPoint>>)>;
    void history(const MachineState& machine, MachineFigure figure, std::chrono::seconds range,
                 HistoryDone done);

    // Stops every source (at exit).
    void stop();

  private:
    std::vector<std::shared_ptr<MachinePoller>> pollers() const;

    std::chrono::milliseconds interval_;
    ErrorReport& report_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<MachinePoller>> pollers_;
    unsigned replaced_ = 0;
};

}  // namespace vigil
