#pragma once

#include <nlohmann/json.hpp>

namespace vigil {
class Battery;

// The battery's published properties under the names the resource gives them, plus `health`.
nlohmann::json batteryJson(const Battery& battery);
}  // namespace vigil
