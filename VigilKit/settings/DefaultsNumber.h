#pragma once

#include <cstdint>
#include <optional>
#include <variant>

#include <nlohmann/json.hpp>

namespace vigil {

// A stored number. Integers, doubles and Booleans are all numbers in the store: a Boolean reads
// back as 0 or 1 through intValue(), an integer as true when it is not 0 through boolValue().
// Conversions never overflow: a double outside the range of int64_t clamps to its ends and NaN
// reads as 0 (and as false).
class DefaultsNumber {
  public:
    explicit DefaultsNumber(int64_t value) : value_(value) {}
    explicit DefaultsNumber(uint64_t value) : value_(value) {}
    explicit DefaultsNumber(double value) : value_(value) {}
    explicit DefaultsNumber(bool value) : value_(value) {}

    // The number held by a stored value, or nothing when the value is not a number or a Boolean.
    static std::optional<DefaultsNumber> from(const nlohmann::json& stored);

    int64_t intValue() const;
    double doubleValue() const;
    bool boolValue() const;

    bool isBool() const { return std::holds_alternative<bool>(value_); }
    bool isInteger() const {
        return std::holds_alternative<int64_t>(value_) || std::holds_alternative<uint64_t>(value_);
    }

    // The stored form of the number.
    nlohmann::json toJson() const;

    friend bool operator==(const DefaultsNumber&, const DefaultsNumber&) = default;

  private:
    std::variant<int64_t, uint64_t, double, bool> value_;
};

}  // namespace vigil
