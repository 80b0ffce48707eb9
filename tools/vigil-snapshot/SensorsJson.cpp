#include "Snapshot.h"
#include "system/Sensors.h"

namespace vigil::snapshot {
namespace {

// Sensors are levels, not rates: each sample replaces the last. Under --root, libsensors (which
// reads only the real /sys) runs in a private mount namespace with the tree mounted over /sys.
class SensorsSampler : public Sampler {
  public:
    explicit SensorsSampler(const Options& options) : sensors_(options.root) {}
    void sample() override { sensors_.update(); }
    nlohmann::ordered_json json() const override {
        const auto snapshot = sensors_.snapshot();
        nlohmann::ordered_json cpu = nullptr;
        if (snapshot->cpu)
            cpu = {{"source", snapshot->cpu->source}, {"celsius", snapshot->cpu->celsius}};
        return {{"cpu", cpu}, {"chips", platform::toJson(snapshot->chips)}};
    }

  private:
    Sensors sensors_;
};

const bool registered =
    add({"sensors", 65, [](const Options& o) { return std::make_unique<SensorsSampler>(o); }});

}  // namespace
}  // namespace vigil::snapshot
