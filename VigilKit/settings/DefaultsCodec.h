#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "settings/DefaultsNumber.h"
#include "settings/DefaultsTypes.h"

namespace vigil {

// Enumerations stored by their raw (integer) value. An enumeration becomes storable by
// specialising this template with `static std::optional<E> fromRaw(int64_t)`, which answers
// nothing for a raw value that names no case; DefaultsContiguousEnum covers the usual 0...N case.
template <typename E>
struct DefaultsEnumTraits;

template <typename E, int64_t First, int64_t Last>
struct DefaultsContiguousEnum {
    static std::optional<E> fromRaw(int64_t raw) {
        if (raw < First || raw > Last)
            return std::nullopt;
        return static_cast<E>(raw);
    }
};

namespace defaults_detail {

// Tagged stored forms of the value types JSON has no spelling for.
DefaultsValue encodeData(const DefaultsData& data);
std::optional<DefaultsData> decodeData(const DefaultsValue& stored);
DefaultsValue encodeDate(const DefaultsDate& date);
std::optional<DefaultsDate> decodeDate(const DefaultsValue& stored);
DefaultsValue encodeUrl(const DefaultsUrl& url);
std::optional<DefaultsUrl> decodeUrl(const DefaultsValue& stored);
// True for an object that is one of the tagged forms above (it is then not a dictionary).
bool isTagged(const DefaultsValue& stored);

template <typename T>
inline constexpr bool isSignedInteger =
    std::is_integral_v<T>&& std::is_signed_v<T> && !std::is_same_v<T, bool>;

template <typename T>
concept JsonArchivable = requires(DefaultsValue& out, const DefaultsValue& in, const T& value,
                                  T& target) {
    to_json(out, value);
    from_json(in, target);
};

}  // namespace defaults_detail

// How one value type is stored and read back: encode() gives the stored form, decode() the value
// or nothing when the stored value is not of the type, fallback() what a non-optional key reads
// when there is nothing usable. Reads of scalar numbers follow the number conversions
// (an integer key holding 2.7 reads 2); the elements of a typed array must each be of the element
// type exactly (strict()), or the whole array reads as nothing.
template <typename T, typename = void>
struct DefaultsCodec;

template <>
struct DefaultsCodec<std::string> {
    static DefaultsValue encode(const std::string& v) { return v; }
    static std::optional<std::string> decode(const DefaultsValue& s) {
        if (!s.is_string())
            return std::nullopt;
        return s.get<std::string>();
    }
    static std::optional<std::string> strict(const DefaultsValue& s) { return decode(s); }
    static std::string fallback() { return {}; }
};

template <typename I>
struct DefaultsCodec<I, std::enable_if_t<defaults_detail::isSignedInteger<I>>> {
    static DefaultsValue encode(I v) { return static_cast<int64_t>(v); }
    static std::optional<I> decode(const DefaultsValue& s) {
        auto number = DefaultsNumber::from(s);
        if (!number)
            return std::nullopt;
        return narrow(number->intValue());
    }
    static std::optional<I> strict(const DefaultsValue& s) {
        auto number = DefaultsNumber::from(s);
        if (!number || !number->isInteger())
            return std::nullopt;
        if (s.is_number_unsigned() &&
            s.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            return std::nullopt;
        }
        int64_t value = number->intValue();
        if (value < std::numeric_limits<I>::min() || value > std::numeric_limits<I>::max()) {
            return std::nullopt;
        }
        return static_cast<I>(value);
    }
    static I fallback() { return 0; }

  private:
    static I narrow(int64_t value) {
        if (value < std::numeric_limits<I>::min())
            return std::numeric_limits<I>::min();
        if (value > std::numeric_limits<I>::max())
            return std::numeric_limits<I>::max();
        return static_cast<I>(value);
    }
};

template <>
struct DefaultsCodec<double> {
    static DefaultsValue encode(double v) { return DefaultsNumber(v).toJson(); }
    static std::optional<double> decode(const DefaultsValue& s) {
        auto number = DefaultsNumber::from(s);
        if (!number)
            return std::nullopt;
        return number->doubleValue();
    }
    static std::optional<double> strict(const DefaultsValue& s) {
        auto number = DefaultsNumber::from(s);
        if (!number || number->isBool())
            return std::nullopt;
        return number->doubleValue();
    }
    static double fallback() { return 0.0; }
};

template <>
struct DefaultsCodec<bool> {
    static DefaultsValue encode(bool v) { return v; }
    static std::optional<bool> decode(const DefaultsValue& s) {
        auto number = DefaultsNumber::from(s);
        if (!number)
            return std::nullopt;
        return number->boolValue();
    }
    static std::optional<bool> strict(const DefaultsValue& s) {
        if (!s.is_boolean())
            return std::nullopt;
        return s.get<bool>();
    }
    static bool fallback() { return false; }
};

template <>
struct DefaultsCodec<DefaultsValue> {
    static DefaultsValue encode(const DefaultsValue& v) { return v; }
    static std::optional<DefaultsValue> decode(const DefaultsValue& s) { return s; }
    static std::optional<DefaultsValue> strict(const DefaultsValue& s) { return s; }
    static DefaultsValue fallback() { return {}; }
};

template <>
struct DefaultsCodec<DefaultsData> {
    static DefaultsValue encode(const DefaultsData& v) { return defaults_detail::encodeData(v); }
    static std::optional<DefaultsData> decode(const DefaultsValue& s) {
        return defaults_detail::decodeData(s);
    }
    static std::optional<DefaultsData> strict(const DefaultsValue& s) { return decode(s); }
    static DefaultsData fallback() { return {}; }
};

template <>
struct DefaultsCodec<DefaultsDate> {
    static DefaultsValue encode(const DefaultsDate& v) { return defaults_detail::encodeDate(v); }
    static std::optional<DefaultsDate> decode(const DefaultsValue& s) {
        return defaults_detail::decodeDate(s);
    }
    static std::optional<DefaultsDate> strict(const DefaultsValue& s) { return decode(s); }
    static DefaultsDate fallback() { return {}; }
};

template <>
struct DefaultsCodec<DefaultsUrl> {
    static DefaultsValue encode(const DefaultsUrl& v) { return defaults_detail::encodeUrl(v); }
    static std::optional<DefaultsUrl> decode(const DefaultsValue& s) {
        return defaults_detail::decodeUrl(s);
    }
    static std::optional<DefaultsUrl> strict(const DefaultsValue& s) { return decode(s); }
    static DefaultsUrl fallback() { return {}; }
};

template <>
struct DefaultsCodec<DefaultsDictionary> {
    static DefaultsValue encode(const DefaultsDictionary& v) {
        DefaultsValue out = DefaultsValue::object();
        for (const auto& [key, value] : v)
            out[key] = value;
        return out;
    }
    static std::optional<DefaultsDictionary> decode(const DefaultsValue& s) {
        if (!s.is_object() || defaults_detail::isTagged(s))
            return std::nullopt;
        DefaultsDictionary out;
        for (auto it = s.begin(); it != s.end(); ++it)
            out.emplace(it.key(), it.value());
        return out;
    }
    static std::optional<DefaultsDictionary> strict(const DefaultsValue& s) { return decode(s); }
    static DefaultsDictionary fallback() { return {}; }
};

template <>
struct DefaultsCodec<DefaultsArray> {
    static DefaultsValue encode(const DefaultsArray& v) {
        DefaultsValue out = DefaultsValue::array();
        for (const auto& element : v)
            out.push_back(element);
        return out;
    }
    static std::optional<DefaultsArray> decode(const DefaultsValue& s) {
        if (!s.is_array())
            return std::nullopt;
        return DefaultsArray(s.begin(), s.end());
    }
    static std::optional<DefaultsArray> strict(const DefaultsValue& s) { return decode(s); }
    static DefaultsArray fallback() { return {}; }
};

// Arrays of one element type: kept only when every element is of that type.
template <typename E>
struct DefaultsCodec<std::vector<E>, std::enable_if_t<!std::is_same_v<E, DefaultsValue> &&
                                                      !std::is_same_v<E, uint8_t>>> {
    static DefaultsValue encode(const std::vector<E>& v) {
        DefaultsValue out = DefaultsValue::array();
        for (const auto& element : v)
            out.push_back(DefaultsCodec<E>::encode(element));
        return out;
    }
    static std::optional<std::vector<E>> decode(const DefaultsValue& s) {
        if (!s.is_array())
            return std::nullopt;
        std::vector<E> out;
        out.reserve(s.size());
        for (const auto& element : s) {
            auto value = DefaultsCodec<E>::strict(element);
            if (!value)
                return std::nullopt;
            out.push_back(std::move(*value));
        }
        return out;
    }
    static std::optional<std::vector<E>> strict(const DefaultsValue& s) { return decode(s); }
    static std::vector<E> fallback() { return {}; }
};

// Enumerations: stored as their raw value; a raw value that names no case reads as nothing.
template <typename E>
struct DefaultsCodec<E, std::enable_if_t<std::is_enum_v<E>>> {
    static DefaultsValue encode(E v) { return static_cast<int64_t>(v); }
    static std::optional<E> decode(const DefaultsValue& s) {
        auto number = DefaultsNumber::from(s);
        if (!number)
            return std::nullopt;
        return DefaultsEnumTraits<E>::fromRaw(number->intValue());
    }
    static std::optional<E> strict(const DefaultsValue& s) {
        auto raw = DefaultsCodec<int64_t>::strict(s);
        if (!raw)
            return std::nullopt;
        return DefaultsEnumTraits<E>::fromRaw(*raw);
    }
};

// Other types that know how to write themselves as JSON (to_json / from_json found by argument
// lookup) are stored in that form; a stored value they cannot read reads as nothing.
template <typename T>
struct DefaultsCodec<T, std::enable_if_t<!std::is_enum_v<T> && !std::is_arithmetic_v<T> &&
                                         defaults_detail::JsonArchivable<T>>> {
    static DefaultsValue encode(const T& v) {
        DefaultsValue out;
        to_json(out, v);
        return out;
    }
    static std::optional<T> decode(const DefaultsValue& s) {
        try {
            T value{};
            from_json(s, value);
            return value;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    static std::optional<T> strict(const DefaultsValue& s) { return decode(s); }
};

}  // namespace vigil
