#pragma once

#include <nlohmann/json.hpp>

namespace vigil {
class Applications;

// The running applications: the top lists `cpu` and `mem` (at most three each) and the whole
// table as `processes`, each entry with name, pid, ppid, cpu (percent), mem (bytes) and icon.
nlohmann::json applicationsJson(const Applications& applications);
}  // namespace vigil
