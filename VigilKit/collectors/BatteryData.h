#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/PowerSupply.h"

// The power source's record, handed to the callback of getBatteryData. `condition` is valid only
// during the callback.
struct BatteryData {
    const char* condition;  // the health condition, or "Normal" when there is none
    int8_t hasACondition;
    int32_t timeToEmpty;  // minutes; negative while it is still being estimated
    int32_t timeToFull;   // minutes; negative while it is still being estimated
    int8_t isCharged;
    int8_t isCharging;
    int32_t current;    // mA, negative while discharging
    int8_t hasCurrent;  // 0: the battery reports neither current nor power, `current` is 0
    int32_t percent;
    int32_t watts;  // of the external adapter, 0 when unknown
};

// The battery entry's keys, each empty where the machine does not give it. Capacities in mAh,
// voltage in mV, temperature in hundredths of a degree Celsius, the manufacture date packed as
// day | month << 5 | (year - 1980) << 9.
struct BatteryRegistry {
    std::optional<bool> batteryInstalled;
    std::optional<bool> externalConnected;
    std::optional<bool> isCharging;
    std::optional<int64_t> currentCapacity;
    std::optional<int64_t> maxCapacity;
    std::optional<int64_t> designCapacity;
    std::optional<int64_t> cycleCount;
    std::optional<int64_t> designCycleCount9C;
    std::optional<int64_t> voltage;
    std::optional<int64_t> temperature;
    std::optional<int64_t> manufactureDate;
};

// Every battery of the machine (type Battery, not scoped to a peripheral such as a mouse) combined
// into one, as desktop power managers present them: charge and energy are summed, the percentage is
// the sum of what is stored over the sum of what fits, never an average of percentages.
struct CombinedBattery {
    int count = 0;
    bool installed = false;
    std::string status;  // Charging when any charges, Discharging when any discharges, else Full...
    std::string health;  // the first condition other than Good/Unknown
    // Time estimates use energy over power where batteries are summed or report energy
    // themselves, charge over current where one battery reports charge.
    bool preferEnergy = false;
    std::optional<double> nowWh, fullWh, designWh;     // summed energy
    std::optional<double> nowMAh, fullMAh, designMAh;  // summed charge
    std::optional<int64_t> capacityPercent;            // the kernel's own figure (one battery)
    std::optional<double> currentMA;                   // signed: negative while discharging
    std::optional<double> powerW;                      // absolute
    std::optional<int64_t> voltageMV;
    std::optional<int64_t> cycleCount;
    std::optional<double> temperatureC;
    std::optional<int64_t> timeToEmptyMinutes, timeToFullMinutes;  // the kernel's (one battery)
    std::optional<int> manufactureYear, manufactureMonth, manufactureDay;
};

struct PowerSources {
    std::optional<CombinedBattery> battery;  // empty: no battery
    bool hasExternalSupply = false;          // a Mains/USB supply exists
    bool externalOnline = false;             // one of them is online
    int32_t adapterWatts = 0;                // of the first online supply that gives its limits
};

// Pure derivations over the platform's records (tested on fixture trees and hand-made records).
PowerSources combinePowerSupplies(const std::vector<vigil::PowerSupplyInfo>& supplies);
BatteryRegistry batteryRegistry(const PowerSources& sources);
// Fills `data` (its condition text lives in `storage`); false when there is no battery.
bool batteryDataFrom(const PowerSources& sources, BatteryData& data, std::string& storage);
// The minutes until empty or full: the kernel's figure where it gives one, else stored charge over
// the current; -1 while it cannot be known (no current yet); 0 when not moving that way.
int32_t batteryTimeToEmpty(const CombinedBattery& battery);
int32_t batteryTimeToFull(const CombinedBattery& battery);

// Reads the machine's power supplies below `root` and calls `callback` once with the record of
// the battery; nothing is called when there is no battery.
void getBatteryData(const std::function<void(const BatteryData*)>& callback,
                    const std::string& root = "/");
// Reads the battery entry's keys below `root`; empty when there is no battery.
std::optional<BatteryRegistry> getBatteryRegistry(const std::string& root = "/");
// The same through a reader that is kept: it reports each garbage attribute only once.
void getBatteryData(const std::function<void(const BatteryData*)>& callback,
                    const vigil::PowerSupply& supplies);
std::optional<BatteryRegistry> getBatteryRegistry(const vigil::PowerSupply& supplies);

// Turns a packed manufacture date into (age text "%.1f years", date text "%d %.3s %d") as of
// `now`. Months 13 to 15 (which a packed date can hold) show as "---".
struct BatteryDateTexts {
    std::string age;
    std::string manufactured;
};
BatteryDateTexts unpackBatteryDate(int64_t date, std::time_t now);
BatteryDateTexts unpackBatteryDate(int64_t date);
