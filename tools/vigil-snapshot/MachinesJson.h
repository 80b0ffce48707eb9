#pragma once

#include <string>

namespace vigil::snapshot {

// `--source URL`: polls a node exporter (twice, `interval` apart, for processor busy and rates) or
// a Prometheus server once, and prints every machine's figures as JSON. Returns the exit status:
// 1 when the source did not answer.
int printMachineSource(const std::string& url, double interval);

}  // namespace vigil::snapshot
