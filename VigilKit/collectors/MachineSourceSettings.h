#pragma once

// The other machines' sources as the settings file keeps them: "machineSources", an array of
// {"url": ..., "kind": "node-exporter" | "prometheus", "user": ..., "password": ..., "token": ...,
// "rateWindow": ...} (the file is 0600: it holds the credentials), and "machinesInterval", the
// seconds between two polls of a source (5 by default).

#include <chrono>
#include <vector>

#include "collectors/MachineSource.h"
#include "settings/Defaults.h"

namespace vigil {

std::vector<MachineSourceConfig> machineSources(Defaults& defaults = Defaults::shared());
void setMachineSources(const std::vector<MachineSourceConfig>& sources,
                       Defaults& defaults = Defaults::shared());
std::chrono::milliseconds machinesInterval(Defaults& defaults = Defaults::shared());

}  // namespace vigil
