#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace vigil {

// The namespace under which typed keys are declared as static constants (the program derives its
// own key holder from it).
class DefaultsKeys {};

namespace defaults_detail {
template <typename T>
struct OptionalTraits {
    static constexpr bool isOptional = false;
    using Value = T;
};
template <typename T>
struct OptionalTraits<std::optional<T>> {
    static constexpr bool isOptional = true;
    using Value = T;
};
}  // namespace defaults_detail

// A typed settings key. T is the value type of the non-optional form (reads give the type's
// default when the key is absent or holds something else), or std::optional<U> for the optional
// form (reads give nothing then, and writing nothing removes the key).
template <typename T>
class DefaultsKey : public DefaultsKeys {
  public:
    using Result = T;
    using Value = typename defaults_detail::OptionalTraits<T>::Value;
    static constexpr bool isOptional = defaults_detail::OptionalTraits<T>::isOptional;

    explicit DefaultsKey(std::string key) : _key(std::move(key)) {}

    const std::string& name() const { return _key; }

    // The key name under which the value is stored.
    const std::string _key;
};

}  // namespace vigil
