#pragma once

// One machine through its node exporter's /metrics: each poll scrapes it, and processor busy and
// the network rates are taken between this scrape and the one before (on the monotonic clock).

#include <chrono>
#include <optional>

#include "collectors/MachineSource.h"

namespace vigil {

class NodeExporterSource : public MachineSource {
  public:
    NodeExporterSource(MachineSourceConfig config, ErrorReport& report);

    std::vector<MachineState> poll() override;

  private:
    std::optional<NodeCounters> previous_;
    std::chrono::steady_clock::time_point previousAt_;
};

}  // namespace vigil
