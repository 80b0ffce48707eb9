#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vigil {

// The value types the settings store keeps. Untyped values are the JSON values of the file; data
// blobs, dates, URLs and doubles that JSON cannot spell (NaN, infinities) are stored as a JSON
// object with a single tagged member: {"$data": "<base64>"}, {"$date": <seconds since the epoch>},
// {"$url": "<text>"}, {"$double": "nan" | "inf" | "-inf"}.
using DefaultsValue = nlohmann::json;
using DefaultsData = std::vector<uint8_t>;
using DefaultsDate = std::chrono::system_clock::time_point;
using DefaultsDictionary = std::map<std::string, DefaultsValue>;
using DefaultsArray = std::vector<DefaultsValue>;

struct DefaultsUrl {
    std::string text;
    friend bool operator==(const DefaultsUrl&, const DefaultsUrl&) = default;
};

}  // namespace vigil
