#pragma once

// Where other machines' figures come from: a Prometheus node exporter (one machine) or a Prometheus
// server (every machine it scrapes). A source is polled on a thread of its own (see
// system/Machines); a poll makes its HTTP requests one after the other, so a source never has more
// than one request in flight, and a request that fails ends the poll.

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "C/system/ErrorReport.h"
#include "collectors/MachineFigures.h"
#include "platform/HttpFetch.h"

namespace vigil {

enum class MachineReach {
    up,           // answered at the last poll
    down,         // Prometheus reaches its source but the machine's exporter does not answer
    unreachable,  // the source itself did not answer (or answered garbage)
};

struct MachineState {
    MachineFigures figures;
    MachineReach reach = MachineReach::unreachable;
    // When the machine last answered (wall clock); nothing when it never has.
    std::optional<std::chrono::system_clock::time_point> lastAnswer;
    std::string error;   // why it is unreachable
    std::string source;  // the URL of the source it came from
};

struct MachineSourceConfig {
    enum class Kind { nodeExporter, prometheus };
    Kind kind = Kind::nodeExporter;
    std::string url;  // http://host:9100/metrics, or http://host:9090 for a Prometheus server
    platform::HttpCredentials credentials;
    // The window of Prometheus's rate() for processor busy and network rates.
    std::string rateWindow = "1m";

    // The kind a URL names: a path ending in /metrics is an exporter, anything else a server.
    static Kind kindOfUrl(const std::string& url);
};

class MachineSource {
  public:
    virtual ~MachineSource() = default;

    // One look at every machine of the source. Blocks up to the requests' time-outs; never called
    // on the main thread or the sampling pool. A failure writes one error line (once a minute per
    // cause) and gives the machines known so far as unreachable.
    virtual std::vector<MachineState> poll() = 0;

    const MachineSourceConfig& config() const { return config_; }

    // Set while the source is being stopped: a request in flight ends early.
    std::atomic<bool> cancelled{false};

  protected:
    MachineSource(MachineSourceConfig config, ErrorReport& report)
        : config_(std::move(config)), report_(report) {}

    // The error line and the unreachable state of every machine known from earlier polls (or one
    // named by the source's URL when none is known).
    std::vector<MachineState> unreachable(const std::string& error);
    // Remembers the last good answer for unreachable().
    void remember(const std::vector<MachineState>& machines);
    platform::HttpAnswer get(const std::string& url);

    MachineSourceConfig config_;
    ErrorReport& report_;

  private:
    std::vector<MachineState> known_;
    platform::HttpSession http_;
};

std::unique_ptr<MachineSource> makeMachineSource(MachineSourceConfig config,
                                                 ErrorReport& report = ErrorReport::shared());

}  // namespace vigil
