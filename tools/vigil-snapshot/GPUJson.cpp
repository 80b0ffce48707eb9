#include "Snapshot.h"
#include "system/GPU.h"

namespace vigil::snapshot {
namespace {

class GPUSampler : public Sampler {
  public:
    explicit GPUSampler(const Options& options) : gpu_(options.root) {}
    void sample() override { gpu_.update(); }
    nlohmann::ordered_json json() const override {
        return {
            {"name", gpu_.name()},
            {"isUsingIntegratedGPU", gpu_.isUsingIntegratedGPU()},
            {"isUsingDiscreteGPU", gpu_.isUsingDiscreteGPU()},
            {"hasBoth", gpu_.hasBoth()},
        };
    }

  private:
    GPU gpu_;
};

const bool registered =
    add({"gpu", 60, [](const Options& o) { return std::make_unique<GPUSampler>(o); }});

}  // namespace
}  // namespace vigil::snapshot
