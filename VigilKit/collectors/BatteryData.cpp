#include "collectors/BatteryData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

using vigil::PowerSupplyInfo;

namespace {

// The voltage that converts between charge and energy: the design minimum, else the design
// maximum, else the present voltage (µV).
std::optional<double> designVolts(const PowerSupplyInfo& b) {
    for (const auto& v : {b.voltageMinDesign, b.voltageMaxDesign, b.voltageNow}) {
        if (v && *v > 0)
            return static_cast<double>(*v) / 1e6;
    }
    return std::nullopt;
}

struct Amounts {
    std::optional<double> wh, mah;
};

// One stored amount in both units; a battery that reports only one is converted through its
// design voltage (µWh / µV = Ah).
Amounts amounts(const std::optional<int64_t>& charge, const std::optional<int64_t>& energy,
                const std::optional<double>& volts) {
    Amounts a;
    if (energy && *energy >= 0)
        a.wh = static_cast<double>(*energy) / 1e6;
    if (charge && *charge >= 0)
        a.mah = static_cast<double>(*charge) / 1e3;
    if (!a.wh && a.mah && volts)
        a.wh = *a.mah / 1e3 * *volts;
    if (!a.mah && a.wh && volts)
        a.mah = *a.wh / *volts * 1e3;
    return a;
}

void add(std::optional<double>& sum, const std::optional<double>& value, bool& complete) {
    if (!value) {
        complete = false;
        return;
    }
    sum = sum.value_or(0) + *value;
}

std::optional<int64_t> positive(const std::optional<int64_t>& value) {
    if (value && *value > 0)
        return value;
    return std::nullopt;
}

int32_t clampMinutes(double minutes) {
    if (!std::isfinite(minutes) || minutes < 0)
        return -1;
    return static_cast<int32_t>(std::min(minutes, 1e6));
}

// Watts an online adapter can deliver, from the limits the kernel gives.
std::optional<double> adapterWatts(const PowerSupplyInfo& s) {
    if (positive(s.voltageMax) && positive(s.currentMax)) {
        return static_cast<double>(*s.voltageMax) / 1e6 * static_cast<double>(*s.currentMax) / 1e6;
    }
    if (positive(s.inputVoltageLimit) && positive(s.inputCurrentLimit)) {
        return static_cast<double>(*s.inputVoltageLimit) / 1e6 *
               static_cast<double>(*s.inputCurrentLimit) / 1e6;
    }
    if (positive(s.inputPowerLimit))
        return static_cast<double>(*s.inputPowerLimit) / 1e6;
    return std::nullopt;
}

std::string combinedStatus(const std::vector<std::string>& statuses) {
    auto any = [&](const char* s) {
        return std::find(statuses.begin(), statuses.end(), s) != statuses.end();
    };
    if (any("Charging"))
        return "Charging";
    if (any("Discharging"))
        return "Discharging";
    if (!statuses.empty() && std::all_of(statuses.begin(), statuses.end(),
                                         [](const std::string& s) { return s == "Full"; })) {
        return "Full";
    }
    if (any("Not charging"))
        return "Not charging";
    if (any("Full"))
        return "Full";
    return statuses.empty() ? std::string() : "Unknown";
}

}  // namespace

PowerSources combinePowerSupplies(const std::vector<PowerSupplyInfo>& supplies) {
    PowerSources sources;
    CombinedBattery c;
    bool nowComplete = true, fullComplete = true, designComplete = true;
    bool nowMComplete = true, fullMComplete = true, designMComplete = true;
    bool currentKnown = true, powerKnown = true;
    std::vector<std::string> statuses;
    const PowerSupplyInfo* first = nullptr;

    for (const auto& s : supplies) {
        if (s.isExternalSource()) {
            sources.hasExternalSupply = true;
            if (s.online.value_or(false)) {
                sources.externalOnline = true;
                if (sources.adapterWatts == 0) {
                    if (const auto w = adapterWatts(s)) {
                        sources.adapterWatts = static_cast<int32_t>(std::lround(std::min(*w, 1e6)));
                    }
                }
            }
            continue;
        }
        // A battery of a peripheral (mouse, keyboard, headset) is not the machine's.
        if (!s.isBattery() || s.scope == "Device")
            continue;
        if (!first)
            first = &s;
        ++c.count;
        if (s.present.has_value() && !*s.present)
            continue;  // an empty battery bay
        // The kernel lists a battery only while its device exists; a driver without `present` has
        // a battery in place.
        c.installed = true;
        statuses.push_back(s.status);
        if (c.health.empty() && !s.health.empty() && s.health != "Good" && s.health != "Unknown") {
            c.health = s.health;
        }
        const auto volts = designVolts(s);
        Amounts now = amounts(s.chargeNow, s.energyNow, volts);
        const Amounts full = amounts(s.chargeFull, s.energyFull, volts);
        const Amounts design = amounts(s.chargeFullDesign, s.energyFullDesign, volts);
        // Only a percentage: what is stored follows from what fits.
        if (s.capacity && *s.capacity >= 0 && *s.capacity <= 100) {
            const double share = static_cast<double>(*s.capacity) / 100.0;
            if (!now.wh && full.wh)
                now.wh = *full.wh * share;
            if (!now.mah && full.mah)
                now.mah = *full.mah * share;
        }
        add(c.nowWh, now.wh, nowComplete);
        add(c.fullWh, full.wh, fullComplete);
        add(c.designWh, design.wh, designComplete);
        add(c.nowMAh, now.mah, nowMComplete);
        add(c.fullMAh, full.mah, fullMComplete);
        add(c.designMAh, design.mah, designMComplete);

        // Drivers disagree on the sign of current_now; the status says which way it flows.
        std::optional<double> ma;
        std::optional<double> watts;
        const bool haveVolts = positive(s.voltageNow).has_value();
        if (s.currentNow)
            ma = std::fabs(static_cast<double>(*s.currentNow)) / 1e3;
        if (s.powerNow)
            watts = std::fabs(static_cast<double>(*s.powerNow)) / 1e6;
        if (!ma && watts && haveVolts)
            ma = *watts / (static_cast<double>(*s.voltageNow) / 1e6) * 1e3;
        if (!watts && ma && haveVolts)
            watts = *ma / 1e3 * static_cast<double>(*s.voltageNow) / 1e6;
        if (ma && s.status == "Discharging")
            ma = -*ma;
        add(c.currentMA, ma, currentKnown);
        add(c.powerW, watts, powerKnown);
    }
    if (c.count == 0)
        return sources;

    if (!nowComplete)
        c.nowWh.reset();
    if (!fullComplete)
        c.fullWh.reset();
    if (!designComplete)
        c.designWh.reset();
    if (!nowMComplete)
        c.nowMAh.reset();
    if (!fullMComplete)
        c.fullMAh.reset();
    if (!designMComplete)
        c.designMAh.reset();
    if (!currentKnown)
        c.currentMA.reset();
    if (!powerKnown)
        c.powerW.reset();
    c.status = combinedStatus(statuses);

    // Figures that do not add up across batteries come from the first one.
    if (first->voltageNow)
        c.voltageMV = *first->voltageNow / 1000;
    c.cycleCount = first->cycleCount;
    if (first->temp)
        c.temperatureC = static_cast<double>(*first->temp) / 10.0;
    if (first->capacity)
        c.capacityPercent = std::clamp<int64_t>(*first->capacity, 0, 100);
    c.preferEnergy = c.count > 1 || first->energyNow.has_value();
    if (c.count == 1) {
        if (positive(first->timeToEmptyNow))
            c.timeToEmptyMinutes = *first->timeToEmptyNow / 60;
        if (positive(first->timeToFullNow))
            c.timeToFullMinutes = *first->timeToFullNow / 60;
    }
    const auto& y = first->manufactureYear;
    if (y && *y >= 1980 && *y < 1980 + 128) {
        c.manufactureYear = static_cast<int>(*y);
        const auto& m = first->manufactureMonth;
        const auto& d = first->manufactureDay;
        c.manufactureMonth = (m && *m >= 1 && *m <= 12) ? static_cast<int>(*m) : 0;
        c.manufactureDay = (d && *d >= 1 && *d <= 31) ? static_cast<int>(*d) : 0;
    }
    sources.battery = c;
    return sources;
}

int32_t batteryTimeToEmpty(const CombinedBattery& b) {
    if (b.status != "Discharging")
        return 0;
    if (b.timeToEmptyMinutes)
        return clampMinutes(static_cast<double>(*b.timeToEmptyMinutes));
    const bool byEnergy = b.nowWh && b.powerW && *b.powerW > 0;
    const bool byCharge = b.nowMAh && b.currentMA && *b.currentMA != 0;
    if (byEnergy && (b.preferEnergy || !byCharge))
        return clampMinutes(*b.nowWh / *b.powerW * 60.0);
    if (byCharge)
        return clampMinutes(*b.nowMAh / std::fabs(*b.currentMA) * 60.0);
    return -1;
}

int32_t batteryTimeToFull(const CombinedBattery& b) {
    if (b.status != "Charging")
        return 0;
    if (b.timeToFullMinutes)
        return clampMinutes(static_cast<double>(*b.timeToFullMinutes));
    const bool byEnergy = b.nowWh && b.fullWh && b.powerW && *b.powerW > 0;
    const bool byCharge = b.nowMAh && b.fullMAh && b.currentMA && *b.currentMA != 0;
    if (byEnergy && (b.preferEnergy || !byCharge)) {
        return clampMinutes(std::max(0.0, *b.fullWh - *b.nowWh) / *b.powerW * 60.0);
    }
    if (byCharge) {
        return clampMinutes(std::max(0.0, *b.fullMAh - *b.nowMAh) / std::fabs(*b.currentMA) * 60.0);
    }
    return -1;
}

namespace {
int32_t percentOf(const CombinedBattery& b) {
    double ratio = -1;
    if (b.nowWh && b.fullWh && *b.fullWh > 0) {
        ratio = *b.nowWh / *b.fullWh;
    } else if (b.nowMAh && b.fullMAh && *b.fullMAh > 0) {
        ratio = *b.nowMAh / *b.fullMAh;
    }
    if (ratio >= 0 && std::isfinite(ratio)) {
        return static_cast<int32_t>(std::clamp(ratio * 100.0, 0.0, 100.0));
    }
    // Without stored amounts only the kernel's own percentage of the first battery is left.
    return b.capacityPercent ? static_cast<int32_t>(*b.capacityPercent) : 0;
}

std::optional<int64_t> rounded(const std::optional<double>& value) {
    if (!value || !std::isfinite(*value))
        return std::nullopt;
    return std::llround(std::clamp(*value, -1e15, 1e15));
}
}  // namespace

BatteryRegistry batteryRegistry(const PowerSources& sources) {
    BatteryRegistry r;
    if (!sources.battery)
        return r;
    const CombinedBattery& b = *sources.battery;
    r.batteryInstalled = b.installed;
    if (sources.hasExternalSupply) {
        r.externalConnected = sources.externalOnline;
    } else if (b.status == "Discharging") {
        r.externalConnected = false;
    } else if (b.status == "Charging" || b.status == "Full" || b.status == "Not charging") {
        r.externalConnected = true;
    }
    if (!b.status.empty() && b.status != "Unknown")
        r.isCharging = b.status == "Charging";
    r.currentCapacity = rounded(b.nowMAh);
    r.maxCapacity = rounded(b.fullMAh);
    r.designCapacity = rounded(b.designMAh);
    r.cycleCount = b.cycleCount;
    r.voltage = b.voltageMV;
    if (b.temperatureC)
        r.temperature = rounded(*b.temperatureC * 100.0);
    if (b.manufactureYear) {
        r.manufactureDate = static_cast<int64_t>(b.manufactureDay.value_or(0)) |
                            static_cast<int64_t>(b.manufactureMonth.value_or(0)) << 5 |
                            static_cast<int64_t>(*b.manufactureYear - 1980) << 9;
    }
    return r;
}

bool batteryDataFrom(const PowerSources& sources, BatteryData& data, std::string& storage) {
    if (!sources.battery)
        return false;
    const CombinedBattery& b = *sources.battery;
    storage = b.health.empty() ? "Normal" : b.health;
    data.condition = storage.c_str();
    data.hasACondition = b.health.empty() ? 0 : 1;
    data.timeToEmpty = batteryTimeToEmpty(b);
    data.timeToFull = batteryTimeToFull(b);
    data.isCharged = b.status == "Full" ? 1 : 0;
    data.isCharging = b.status == "Charging" ? 1 : 0;
    data.current = b.currentMA ? static_cast<int32_t>(std::clamp(*b.currentMA, -1e9, 1e9)) : 0;
    data.hasCurrent = b.currentMA ? 1 : 0;
    data.percent = percentOf(b);
    data.watts = sources.adapterWatts;
    return true;
}

void getBatteryData(const std::function<void(const BatteryData*)>& callback,
                    const vigil::PowerSupply& supplies) {
    const PowerSources sources = combinePowerSupplies(supplies.list());
    BatteryData data{};
    std::string condition;
    if (batteryDataFrom(sources, data, condition))
        callback(&data);
}

std::optional<BatteryRegistry> getBatteryRegistry(const vigil::PowerSupply& supplies) {
    const PowerSources sources = combinePowerSupplies(supplies.list());
    if (!sources.battery)
        return std::nullopt;
    return batteryRegistry(sources);
}

void getBatteryData(const std::function<void(const BatteryData*)>& callback,
                    const std::string& root) {
    getBatteryData(callback, vigil::PowerSupply(root));
}

std::optional<BatteryRegistry> getBatteryRegistry(const std::string& root) {
    return getBatteryRegistry(vigil::PowerSupply(root));
}

namespace {
int64_t daysBetween(std::time_t from, std::time_t to) {
    const double seconds = std::fabs(std::difftime(to, from));
    return static_cast<int64_t>((seconds + 43200.0) / 86400.0);
}
}  // namespace

BatteryDateTexts unpackBatteryDate(int64_t date, std::time_t now) {
    static constexpr char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const int day = static_cast<int>(date & 0x1f);
    const int month = static_cast<int>((date >> 5) & 0xf);
    const int year = static_cast<int>((date >> 9) & 0x7fff) + 1980;
    const char* abbreviation = month <= 12 ? kMonths + 3 * (month == 0 ? 0 : month - 1) : "---";
    char text[65];
    std::snprintf(text, sizeof text, "%d %.3s %d", day, abbreviation, year);
    BatteryDateTexts texts;
    texts.manufactured = text;

    std::tm made{};
    made.tm_year = year - 1900;
    made.tm_mon = (month == 0 ? 1 : std::min(month, 12)) - 1;
    made.tm_mday = day == 0 ? 1 : day;
    made.tm_isdst = -1;
    const std::time_t then = std::mktime(&made);
    const double years = then == static_cast<std::time_t>(-1)
                             ? 0.0
                             : static_cast<double>(daysBetween(now, then)) / 365.0;
    std::snprintf(text, sizeof text, "%.1f years", years);
    texts.age = text;
    return texts;
}

BatteryDateTexts unpackBatteryDate(int64_t date) {
    return unpackBatteryDate(date, std::time(nullptr));
}
