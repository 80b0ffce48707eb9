#include "ApplicationsJson.h"

#include "system/Applications.h"

namespace vigil {

namespace {
nlohmann::json processJson(const Applications::Process& p) {
    nlohmann::json json = {
        {"name", p.name()},
        {"bundleIdentifier", p.app ? p.app->bundleIdentifier : std::string()},
        {"pid", p.pid},
        {"ppid", p.ppid},
        {"cpu", p.cpu},
        {"mem", p.mem},
        {"icon", p.icon ? nlohmann::json(*p.icon) : nlohmann::json(nullptr)},
    };
    if (p.parentPid >= 0)
        json["parent"] = p.parentPid;
    return json;
}

nlohmann::json listJson(const std::vector<Applications::Process>& list) {
    nlohmann::json array = nlohmann::json::array();
    for (const auto& p : list)
        array.push_back(processJson(p));
    return array;
}
}  // namespace

nlohmann::json applicationsJson(const Applications& applications) {
    return {
        {"type", "app"},
        {"count", applications.count()},
        {"activeLogicalCores", Applications::activeLogicalCores()},
        {"cpu", listJson(applications.cpu())},
        {"mem", listJson(applications.mem())},
        {"processes", listJson(applications.processes())},
    };
}

}  // namespace vigil

#include "Snapshot.h"
#include "system/Applications.h"

namespace vigil::snapshot {
namespace {

Applications::Options optionsFor(const Options& options) {
    Applications::Options result;
    result.workspace.root = options.root;
    result.interval = 0;  // the tool polls the workspace itself
    return result;
}

class ApplicationsSampler : public Sampler {
  public:
    explicit ApplicationsSampler(const Options& options) : applications_(optionsFor(options)) {}
    void sample() override {
        applications_.pollRunningApplications();
        applications_.update();
    }
    nlohmann::ordered_json json() const override { return applicationsJson(applications_); }

  private:
    Applications applications_;
};

const bool registered = add({"applications", 70, [](const Options& o) {
                                 return std::make_unique<ApplicationsSampler>(o);
                             }});

}  // namespace
}  // namespace vigil::snapshot
