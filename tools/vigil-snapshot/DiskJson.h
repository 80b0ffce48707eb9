#pragma once

#include <nlohmann/json.hpp>

namespace vigil {
class Disk;
}

// The disk resource as JSON: the root volume's usage and every volume, the root first.
nlohmann::json diskJson(const vigil::Disk& disk);
