#include "settings/DefaultsNumber.h"

#include <cmath>
#include <limits>
#include <string>

namespace vigil {

namespace {

int64_t clampToInt64(double value) {
    if (std::isnan(value))
        return 0;
    // 2^63 is exactly representable; anything at or above it does not fit.
    constexpr double kLimit = 9223372036854775808.0;
    if (value >= kLimit)
        return std::numeric_limits<int64_t>::max();
    if (value < -kLimit)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);  // truncates toward zero
}

}  // namespace

std::optional<DefaultsNumber> DefaultsNumber::from(const nlohmann::json& stored) {
    switch (stored.type()) {
        case nlohmann::json::value_t::boolean:
            return DefaultsNumber(stored.get<bool>());
        case nlohmann::json::value_t::number_integer:
            return DefaultsNumber(stored.get<int64_t>());
        case nlohmann::json::value_t::number_unsigned:
            return DefaultsNumber(stored.get<uint64_t>());
        case nlohmann::json::value_t::number_float:
            return DefaultsNumber(stored.get<double>());
        case nlohmann::json::value_t::object: {
            if (stored.size() != 1)
                return std::nullopt;
            auto it = stored.find("$double");
            if (it == stored.end() || !it->is_string())
                return std::nullopt;
            const std::string& text = it->get_ref<const std::string&>();
            if (text == "nan")
                return DefaultsNumber(std::numeric_limits<double>::quiet_NaN());
            if (text == "inf")
                return DefaultsNumber(std::numeric_limits<double>::infinity());
            if (text == "-inf")
                return DefaultsNumber(-std::numeric_limits<double>::infinity());
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

int64_t DefaultsNumber::intValue() const {
    return std::visit(
        [](auto v) -> int64_t {
            using V = decltype(v);
            if constexpr (std::is_same_v<V, bool>) {
                return v ? 1 : 0;
            } else if constexpr (std::is_same_v<V, uint64_t>) {
                return v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                           ? std::numeric_limits<int64_t>::max()
                           : static_cast<int64_t>(v);
            } else if constexpr (std::is_same_v<V, double>) {
                return clampToInt64(v);
            } else {
                return v;
            }
        },
        value_);
}

double DefaultsNumber::doubleValue() const {
    return std::visit(
        [](auto v) -> double {
            if constexpr (std::is_same_v<decltype(v), bool>) {
                return v ? 1.0 : 0.0;
            } else {
                return static_cast<double>(v);
            }
        },
        value_);
}

bool DefaultsNumber::boolValue() const {
    return std::visit(
        [](auto v) -> bool {
            if constexpr (std::is_same_v<decltype(v), double>) {
                return !std::isnan(v) && v != 0.0;
            } else {
                return v != 0;
            }
        },
        value_);
}

nlohmann::json DefaultsNumber::toJson() const {
    return std::visit(
        [](auto v) -> nlohmann::json {
            if constexpr (std::is_same_v<decltype(v), double>) {
                if (std::isnan(v))
                    return {{"$double", "nan"}};
                if (std::isinf(v))
                    return {{"$double", v > 0 ? "inf" : "-inf"}};
            }
            return nlohmann::json(v);
        },
        value_);
}

}  // namespace vigil
