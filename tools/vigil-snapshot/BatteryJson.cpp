#include "BatteryJson.h"

#include "system/Battery.h"

namespace vigil {

namespace {

// A figure the battery does not report prints as null, never as 0.
template <typename T>
nlohmann::json known(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// An empty text (no manufacture date) prints as null too.
nlohmann::json knownText(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

}  // namespace

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
        {"currentCapacity", known(s->currentCapacity)},
        {"maxCapacity", known(s->maxCapacity)},
        {"designCapacity", known(s->designCapacity)},
        {"cycleCount", known(s->cycleCount)},
        {"designCycleCount", known(s->designCycleCount)},
        {"temperature", known(s->temperature)},
        {"timeRemaining", s->timeRemaining},
        {"voltage", known(s->voltage)},
        {"current", known(s->current)},
        {"percent", s->percent},
        {"condition", s->condition},
        {"hasACondition", s->hasACondition},
        {"age", knownText(s->age)},
        {"manufactured", knownText(s->manufactured)},
        {"health", known(battery.health())},
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
