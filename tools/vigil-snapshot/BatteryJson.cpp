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

#include "Snapshot.h"
#include "system/Battery.h"

namespace vigil::snapshot {
namespace {

Battery::Options optionsFor(const Options& options) {
    Battery::Options result;
    result.root = options.root;
    result.watchKernel = false;
    return result;
}

class BatterySampler : public Sampler {
  public:
    explicit BatterySampler(const Options& options) : battery_(optionsFor(options)) {}
    void sample() override {}  // read at construction; changes come from the kernel
    nlohmann::ordered_json json() const override { return batteryJson(battery_); }

  private:
    Battery battery_;
};

const bool registered =
    add({"battery", 60, [](const Options& o) { return std::make_unique<BatterySampler>(o); }});

}  // namespace
}  // namespace vigil::snapshot
