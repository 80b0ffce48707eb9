#include "Snapshot.h"
#include "system/CPU.h"

namespace vigil::snapshot {
namespace {

class CPUSampler : public Sampler {
  public:
    explicit CPUSampler(const Options& options) : cpu_(options.root) {}
    void sample() override { cpu_.update(); }
    nlohmann::ordered_json json() const override {
        auto [one, five, fifteen] = cpu_.loadavg();
        auto s = cpu_.sample();
        return {
            {"user", s->user},
            {"sys", s->sys},
            {"idle", s->idle},
            {"usage", s->user + s->sys},
            {"processes", s->processes},
            {"threads", s->threads},
            {"physicalCores", cpu_.physicalCores()},
            {"logicalCores", cpu_.logicalCores()},
            {"activePhysicalCores", cpu_.activePhysicalCores()},
            {"activeLogicalCores", cpu_.activeLogicalCores()},
            {"brand", cpu_.brand()},
            {"bootTime", cpu_.bootTime()},
            {"uptime", cpu_.uptime()},
            {"awakeTime", cpu_.awakeTime()},
            {"sleepTime", cpu_.sleepTime()},
            {"thermalState", platform::toString(cpu_.thermalState())},
            {"loadavg", {one, five, fifteen}},
        };
    }

  private:
    CPU cpu_;
};

const bool registered =
    add({"cpu", 10, [](const Options& o) { return std::make_unique<CPUSampler>(o); }});

}  // namespace
}  // namespace vigil::snapshot
