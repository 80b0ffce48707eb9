#include "Snapshot.h"
#include "system/GPU.h"

namespace vigil::snapshot {
namespace {

template <typename T>
nlohmann::ordered_json orNull(const std::optional<T>& v) {
    return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json devicesJson(const std::vector<GPU::Usage>& usage) {
    auto list = nlohmann::ordered_json::array();
    for (const auto& u : usage) {
        list.push_back({
            {"name", u.name},
            {"pciAddress", u.pciAddress},
            {"driver", u.driver},
            {"integrated", u.integrated},
            {"busyPercent", orNull(u.busyPercent)},
            {"memoryUsed", orNull(u.memoryUsed)},
            {"memoryTotal", orNull(u.memoryTotal)},
            {"temperatureC", orNull(u.temperatureC)},
            {"powerW", orNull(u.powerW)},
        });
    }
    return list;
}

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
            {"devices", devicesJson(gpu_.usage())},
        };
    }

  private:
    GPU gpu_;
};

const bool registered =
    add({"gpu", 60, [](const Options& o) { return std::make_unique<GPUSampler>(o); }});

}  // namespace
}  // namespace vigil::snapshot
