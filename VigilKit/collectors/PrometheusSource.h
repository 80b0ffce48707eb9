#pragma once

// Every machine a Prometheus server scrapes with a node exporter, asked with PromQL over its HTTP
// API: one instant query (/api/v1/query) per figure for all machines at once, and a range query
// (/api/v1/query_range) for one figure's history of one machine. The machines are the targets of
// `up` that have node exporter figures, and those that are down (a down target cannot say what it
// is; it is shown rather than hidden).

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "collectors/MachineSource.h"

namespace vigil {

// The figures a machine's history can be asked for.
enum class MachineFigure { processorBusy, memoryUsed, diskUsed, downloadRate, uploadRate, load1 };

struct MachineHistoryPoint {
    double time = 0;  // seconds since the epoch
    double value = 0;
};

struct PrometheusVectorEntry {
    std::string instance;
    std::vector<std::pair<std::string, std::string>> labels;
    double value = 0;
};

// The entries of an instant-query answer ({"status":"success","data":{"resultType":"vector",...}}),
// or why it is not one.
struct PrometheusVector {
    std::vector<PrometheusVectorEntry> entries;
    std::string error;
};
PrometheusVector parsePrometheusVector(const std::string& body);

// The points of a range-query answer's first series ("matrix"), or why it is not one.
struct PrometheusMatrix {
    std::vector<MachineHistoryPoint> points;
    std::string error;
};
PrometheusMatrix parsePrometheusMatrix(const std::string& body);

class PrometheusSource : public MachineSource {
  public:
    PrometheusSource(MachineSourceConfig config, ErrorReport& report);

    std::vector<MachineState> poll() override;

    // One figure of one machine (its instance label) over the `range` that ends now, about 240
    // points. Blocks like poll(); nothing (and one error line) when the server fails.
    std::optional<std::vector<MachineHistoryPoint>> history(const std::string& instance,
                                                            MachineFigure figure,
                                                            std::chrono::seconds range);

    // The PromQL expression of a figure, by instance; `selector` narrows the series
    // ("instance=\"host:9100\"", or empty for every machine).
    std::string expression(MachineFigure figure, const std::string& selector = {}) const;

  private:
    std::optional<PrometheusVector> query(const std::string& promql, std::string& error);
    std::string base() const;
};

}  // namespace vigil
