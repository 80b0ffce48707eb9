#include "DiskJson.h"

#include "system/Disk.h"

namespace {

nlohmann::json volumeJson(const vigil::Disk::Volume& v) {
    nlohmann::json smart = nullptr;
    if (v.smart) {
        smart = {{"isSmart", v.smart->isSmart != 0},
                 {"isSmartPassed", v.smart->isSmartPassed != 0},
                 {"temperature", v.smart->temperature}};
    }
    return {{"name", v.name},
            {"device", v.device},
            {"path", v.path},
            {"fstype", v.fstype},
            {"model", v.model},
            {"total", v.total},
            {"used", v.used},
            {"free", v.free},
            {"usagePercent", v.usagePercent()},
            {"rbytes", v.rbytes},
            {"wbytes", v.wbytes},
            {"rbytesps", v.rbytesps},
            {"wbytesps", v.wbytesps},
            {"timestamp", v.timestamp},
            {"icon", v.icon ? nlohmann::json(*v.icon) : nlohmann::json(nullptr)},
            {"isRootFS", v.isRootFS},
            {"canEject", v.canEject()},
            {"smart", smart}};
}

}  // namespace

nlohmann::json diskJson(const vigil::Disk& disk) {
    auto hd = disk.HD();
    nlohmann::json volumes = nlohmann::json::array();
    if (hd)
        volumes.push_back(volumeJson(*hd));
    for (const auto& [device, volume] : disk.volumes()) {
        if (hd && device == hd->device)
            continue;
        volumes.push_back(volumeJson(volume));
    }
    return {{"HD", hd ? nlohmann::json(hd->device) : nlohmann::json(nullptr)},
            {"usage", hd ? hd->usagePercent() : 0},
            {"volumes", volumes}};
}

#include "Snapshot.h"

namespace vigil::snapshot {
namespace {

DiskCollector::Options optionsFor(const Options& options) {
    DiskCollector::Options result;
    result.root = options.root;
    return result;
}

class DiskSampler : public Sampler {
  public:
    explicit DiskSampler(const Options& options)
        : collector_(optionsFor(options)), disk_(nullptr, &collector_) {}
    void sample() override { disk_.update(); }
    nlohmann::ordered_json json() const override { return diskJson(disk_); }

  private:
    DiskCollector collector_;
    Disk disk_;
};

const bool registered =
    add({"disk", 40, [](const Options& o) { return std::make_unique<DiskSampler>(o); }});

}  // namespace
}  // namespace vigil::snapshot
