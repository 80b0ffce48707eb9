#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/DefaultsCodec.h"
#include "settings/DefaultsFile.h"
#include "settings/DefaultsKey.h"
#include "settings/DefaultsNumber.h"
#include "settings/DefaultsTypes.h"

namespace vigil {

// The settings store of one suite: a typed layer over the suite's file (see DefaultsFile for how
// it is kept on disk and shared between processes). Every read asks the store afresh; every
// write goes straight to the file. All operations are thread-safe.
class Defaults {
  public:
    // The suite shared by the library and the program.
    static constexpr const char* kSharedSuite = "Q4T2WXLM83.VigilSharingDefaults";

    // The library's instance of the shared suite, opened on first use (thread-safe) and kept for
    // the life of the process.
    static Defaults& shared();

    // The folder that holds suites: $XDG_CONFIG_HOME when it is an absolute path, otherwise
    // ~/.config; empty when neither can be told.
    static std::filesystem::path configFolder();

    // Opens the suite "<folder>/<suite>.json"; the folder defaults to configFolder().
    explicit Defaults(const std::string& suite = kSharedSuite,
                      std::optional<std::filesystem::path> folder = std::nullopt);
    Defaults(const Defaults&) = delete;
    Defaults& operator=(const Defaults&) = delete;

    // The settings file (empty when the store lives in memory only).
    const std::filesystem::path& path() const { return file_.path(); }

    // Untyped access by key name. A Proxy reads the store each time one of its members is called.
    class Proxy {
      public:
        Proxy(Defaults& defaults, std::string key) : defaults(defaults), key(std::move(key)) {}

        // `defaults["key"] = value` stores the value (an empty optional removes the key).
        template <typename T>
        Proxy& operator=(const T& value) {
            defaults.set(key, value);
            return *this;
        }

        std::optional<DefaultsValue> object() const;
        std::optional<std::string> string() const;
        std::optional<DefaultsArray> array() const;
        std::optional<DefaultsDictionary> dictionary() const;
        std::optional<DefaultsData> data() const;
        std::optional<DefaultsDate> date() const;
        std::optional<DefaultsNumber> number() const;
        std::optional<int64_t> int_() const;
        std::optional<double> double_() const;
        std::optional<bool> bool_() const;

        std::string stringValue() const;
        DefaultsArray arrayValue() const;
        DefaultsDictionary dictionaryValue() const;
        DefaultsData dataValue() const;
        DefaultsNumber numberValue() const;
        int64_t intValue() const;
        double doubleValue() const;
        bool boolValue() const;

        Defaults& defaults;
        const std::string key;
    };

    Proxy operator[](const std::string& key) { return Proxy(*this, key); }

    // The stored value of the key, untyped; nothing when absent.
    std::optional<DefaultsValue> object(const std::string& key) const;
    // The stored value if it is a number (integers and Booleans included), otherwise nothing.
    std::optional<DefaultsNumber> numberForKey(const std::string& key) const;

    bool hasKey(const std::string& key) const { return object(key).has_value(); }
    template <typename T>
    bool hasKey(const DefaultsKey<T>& key) const {
        return hasKey(key._key);
    }

    void remove(const std::string& key);
    template <typename T>
    void remove(const DefaultsKey<T>& key) {
        remove(key._key);
    }
    // Removes every key of the suite.
    void removeAll();
    // The keys the suite holds now.
    std::vector<std::string> keys() const;

    // Stores a value under the key name: any type the store keeps (see DefaultsCodec); an empty
    // optional removes the key. False when the change could be kept in memory only.
    bool set(const std::string& key, const std::optional<DefaultsValue>& value);
    template <typename T>
    bool set(const std::string& key, const T& value) {
        if constexpr (defaults_detail::OptionalTraits<T>::isOptional) {
            if (!value)
                return setStored(key, std::nullopt);
            return set(key, *value);
        } else if constexpr (std::is_array_v<T> || std::is_same_v<std::decay_t<T>, const char*> ||
                             std::is_same_v<std::decay_t<T>, char*> ||
                             std::is_same_v<T, std::string_view>) {
            return setStored(key, DefaultsValue(std::string(value)));
        } else {
            return setStored(key, DefaultsCodec<T>::encode(value));
        }
    }
    bool set(const std::string& key, std::nullopt_t) { return setStored(key, std::nullopt); }

    // Typed access.
    template <typename T>
    T get(const DefaultsKey<T>& key) const {
        using Value = typename DefaultsKey<T>::Value;
        auto stored = object(key._key);
        std::optional<Value> value;
        if (stored)
            value = DefaultsCodec<Value>::decode(*stored);
        if constexpr (DefaultsKey<T>::isOptional) {
            return value;
        } else {
            if (value)
                return std::move(*value);
            return DefaultsCodec<Value>::fallback();
        }
    }
    template <typename T>
    bool set(const DefaultsKey<T>& key, const std::type_identity_t<T>& value) {
        return set(key._key, value);
    }
    template <typename T>
    requires(DefaultsKey<T>::isOptional) bool set(const DefaultsKey<T>& key, std::nullopt_t) {
        return setStored(key._key, std::nullopt);
    }
    // The untyped setter of a typed key: stores the value as given, or removes the key.
    template <typename T>
    requires(!std::is_same_v<typename DefaultsKey<T>::Value, DefaultsValue>) bool set(
        const DefaultsKey<T>& key, const std::optional<DefaultsValue>& value) {
        return set(key._key, value);
    }

    // `defaults[key]` reads and `defaults[key] = value` writes a typed key.
    template <typename T>
    class Ref {
      public:
        Ref(Defaults& defaults, const DefaultsKey<T>& key) : defaults_(defaults), key_(key) {}
        operator T() const { return defaults_.get(key_); }
        T value() const { return defaults_.get(key_); }
        Ref& operator=(const T& value) {
            defaults_.set(key_, value);
            return *this;
        }

      private:
        Defaults& defaults_;
        const DefaultsKey<T>& key_;
    };
    template <typename T>
    Ref<T> operator[](const DefaultsKey<T>& key) {
        return Ref<T>(*this, key);
    }

  private:
    bool setStored(const std::string& key, std::optional<DefaultsValue> value);

    mutable DefaultsFile file_;
};

}  // namespace vigil
