#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "settings/Defaults.h"
#include "system/System.h"

namespace vigil {

// Which summary rows the widget shows; the cases follow System::Group, and a stored choice names
// the sampling group the widget starts.
enum class WidgetRowsDefaults : int64_t { all = 0, system = 1, network = 2 };
// Which detail view was open last.
enum class DetailsViewDefaults : int64_t {
    none = 0,
    cpu = 1,
    mem = 2,
    disk = 3,
    battery = 4,
    net = 5
};
// The unit of every temperature shown.
enum class TemperatureDefaults : int64_t { celcius = 0, fahrenheit = 1 };

template <>
struct DefaultsEnumTraits<WidgetRowsDefaults> : DefaultsContiguousEnum<WidgetRowsDefaults, 0, 2> {};
template <>
struct DefaultsEnumTraits<DetailsViewDefaults> : DefaultsContiguousEnum<DetailsViewDefaults, 0, 5> {
};
template <>
struct DefaultsEnumTraits<TemperatureDefaults> : DefaultsContiguousEnum<TemperatureDefaults, 0, 1> {
};

// The case of a raw value; nothing for a value that names no case.
template <typename E>
std::optional<E> defaultsEnum(int64_t raw) {
    return DefaultsEnumTraits<E>::fromRaw(raw);
}
template <typename E>
constexpr int64_t rawValue(E value) {
    return static_cast<int64_t>(value);
}

constexpr System::Group toGroup(WidgetRowsDefaults rows) {
    switch (rows) {
        case WidgetRowsDefaults::system:
            return System::Group::system;
        case WidgetRowsDefaults::network:
            return System::Group::network;
        case WidgetRowsDefaults::all:
            break;
    }
    return System::Group::all;
}

// The widget's own keys in the shared settings store. Each is made once, on first use. The
// integer keys hold raw values of the enumerations above and read 0 when absent.
struct WidgetDefaultsKeys : DefaultsKeys {
    // WidgetRowsDefaults: which summary rows are shown (0: both).
    static const DefaultsKey<int64_t>& widgetRows() {
        static const DefaultsKey<int64_t> key("widgetRows");
        return key;
    }
    // DetailsViewDefaults: the detail view open last (0: none).
    static const DefaultsKey<int64_t>& detailsView() {
        static const DefaultsKey<int64_t> key("detailsView");
        return key;
    }
    // Index into ThemeManager::themes (0: light).
    static const DefaultsKey<int64_t>& theme() {
        static const DefaultsKey<int64_t> key("theme");
        return key;
    }
    // TemperatureDefaults (0: Celsius); the degrees formatting reads the same key.
    static const DefaultsKey<int64_t>& temperature() {
        static const DefaultsKey<int64_t> key("temperature");
        return key;
    }
    // The sensor id ("coretemp-isa-0000/Package id 0") the user picked for the processor's
    // temperature; absent or empty: chosen by rule.
    static const DefaultsKey<std::optional<std::string>>& cpuSensor() {
        static const DefaultsKey<std::optional<std::string>> key("cpuSensor");
        return key;
    }
    // The last public address the network list obtained.
    static const DefaultsKey<std::optional<std::string>>& publicAddress() {
        static const DefaultsKey<std::optional<std::string>> key("publicAddress");
        return key;
    }
    // Whether the Machines row (other machines) shows below the summary rows (off by default).
    static const DefaultsKey<bool>& machinesRow() {
        static const DefaultsKey<bool> key("widgetMachinesRow");
        return key;
    }
    // Whether the figures are recorded into the history (absent: yes). Off keeps what is stored.
    static const DefaultsKey<std::optional<bool>>& keepHistory() {
        static const DefaultsKey<std::optional<bool>> key("keepHistory");
        return key;
    }
    // The detail views' history range, an index into HistoryPanel::ranges() (0: 5 minutes).
    static const DefaultsKey<int64_t>& historyRange() {
        static const DefaultsKey<int64_t> key("historyRange");
        return key;
    }
    // Where the panel window stood last (see SettingsPanelPlaceStore).
    static const DefaultsKey<std::optional<DefaultsDictionary>>& panelPlace() {
        static const DefaultsKey<std::optional<DefaultsDictionary>> key("panelPlace");
        return key;
    }
};

// Typed reads of the integer keys; a stored value naming no case reads as the first case, except
// the temperature, where any non-zero value means Fahrenheit (as the degrees formatting reads it).
inline WidgetRowsDefaults widgetRows(Defaults& defaults) {
    return defaultsEnum<WidgetRowsDefaults>(defaults.get(WidgetDefaultsKeys::widgetRows()))
        .value_or(WidgetRowsDefaults::all);
}
inline DetailsViewDefaults detailsView(Defaults& defaults) {
    return defaultsEnum<DetailsViewDefaults>(defaults.get(WidgetDefaultsKeys::detailsView()))
        .value_or(DetailsViewDefaults::none);
}
inline TemperatureDefaults temperatureUnit(Defaults& defaults) {
    return defaults.get(WidgetDefaultsKeys::temperature()) != 0 ? TemperatureDefaults::fahrenheit
                                                                : TemperatureDefaults::celcius;
}

}  // namespace vigil
