#include "Snapshot.h"
#include "system/Memory.h"

namespace vigil::snapshot {
namespace {

class MemorySampler : public Sampler {
  public:
    explicit MemorySampler(const Options& options) : memory_(options.root) {}
    void sample() override { memory_.update(); }
    nlohmann::ordered_json json() const override {
        auto s = memory_.sample();
        auto [wired, active, compressed, free] = s->percents();
        auto [swapTotal, swapUsed] = memory_.swap();
        return {
            {"physical", memory_.physical()},
            {"wired", s->wired},
            {"active", s->active},
            {"compressed", s->compressed},
            {"free", s->free},
            {"appMemory", s->appMemory},
            {"cachedFiles", s->cachedFiles},
            {"pagesIn", s->pagesIn},
            {"pagesOut", s->pagesOut},
            {"pagesFault", s->pagesFault},
            {"total", s->total()},
            {"used", s->used()},
            {"usage", s->usage()},
            {"percents",
             {{"wired", wired}, {"active", active}, {"compressed", compressed}, {"free", free}}},
            {"swap", {{"total", swapTotal}, {"used", swapUsed}}},
        };
    }

  private:
    Memory memory_;
};

const bool registered =
    add({"memory", 20, [](const Options& o) { return std::make_unique<MemorySampler>(o); }});

}  // namespace
}  // namespace vigil::snapshot
