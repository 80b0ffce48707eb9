#include "BatteryJson.h"

#include "system/Battery.h"

namespace vigil {

nlohmann::json batteryJson(const Battery& battery) {
    const auto s = battery.state();  // one consistent snapshot
    return {
        {"type", "battery"},
        {"hasBattery", s->hasBattery},
        {"installed", s->installed},
        {"isACPowered", s->isACPowered},
        {"isFullyCharged", s->isFullyCharged},
        {"isCharging", s->isCharging},
        {"acWatts", s->acWatts},
        {"currentCapacity", s->currentCapacity},
        {"maxCapacity", s->maxCapacity},
        {"designCapacity", s->designCapacity},
        {"cycleCount", s->cycleCount},
        {"designCycleCount", s->designCycleCount},
        {"temperature", s->temperature},
        {"timeRemaining", s->timeRemaining},
        {"voltage", s->voltage},
        {"current", s->current},
        {"percent", s->percent},
        {"condition", s->condition},
        {"hasACondition", s->hasACondition},
        {"age", s->age},
        {"manufactured", s->manufactured},
        {"health", battery.health()},
    };
}

}  // namespace vigil
