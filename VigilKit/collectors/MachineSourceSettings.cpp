#include "collectors/MachineSourceSettings.h"

#include <cmath>

namespace vigil {

namespace {

constexpr const char* kSourcesKey = "machineSources";
constexpr const char* kIntervalKey = "machinesInterval";

std::string text(const DefaultsValue& entry, const char* key) {
    auto member = entry.find(key);
    return member != entry.end() && member->is_string() ? member->get<std::string>() : "";
}

std::optional<MachineSourceConfig> decode(const DefaultsValue& entry) {
    if (!entry.is_object() || text(entry, "url").empty())
        return std::nullopt;
    MachineSourceConfig source;
    source.url = text(entry, "url");
    std::string kind = text(entry, "kind");
    if (kind == "node-exporter")
        source.kind = MachineSourceConfig::Kind::nodeExporter;
    else if (kind == "prometheus")
        source.kind = MachineSourceConfig::Kind::prometheus;
    else
        source.kind = MachineSourceConfig::kindOfUrl(source.url);
    source.credentials.user = text(entry, "user");
    source.credentials.password = text(entry, "password");
    source.credentials.token = text(entry, "token");
    if (std::string window = text(entry, "rateWindow"); !window.empty())
        source.rateWindow = window;
    return source;
}

DefaultsValue encode(const MachineSourceConfig& source) {
    DefaultsValue entry = DefaultsValue::object();
    entry["url"] = source.url;
    entry["kind"] =
        source.kind == MachineSourceConfig::Kind::prometheus ? "prometheus" : "node-exporter";
    if (!source.credentials.user.empty()) {
        entry["user"] = source.credentials.user;
        entry["password"] = source.credentials.password;
    }
    if (!source.credentials.token.empty())
        entry["token"] = source.credentials.token;
    if (source.rateWindow != MachineSourceConfig().rateWindow)
        entry["rateWindow"] = source.rateWindow;
    return entry;
}

}  // namespace

std::vector<MachineSourceConfig> machineSources(Defaults& defaults) {
    std::vector<MachineSourceConfig> sources;
    auto stored = defaults[kSourcesKey].array();
    if (!stored)
        return sources;
    for (const auto& entry : *stored) {
        if (auto source = decode(entry))
            sources.push_back(std::move(*source));
        else
            reportError("other machines", "a source in the settings without a URL is left out");
    }
    return sources;
}

void setMachineSources(const std::vector<MachineSourceConfig>& sources, Defaults& defaults) {
    DefaultsArray stored;
    for (const auto& source : sources)
        stored.push_back(encode(source));
    defaults[kSourcesKey] = stored;
}

std::chrono::milliseconds machinesInterval(Defaults& defaults) {
    double seconds = defaults[kIntervalKey].double_().value_or(5.0);
    if (!std::isfinite(seconds) || seconds < 1 || seconds > 3600)
        seconds = 5.0;
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

}  // namespace vigil
