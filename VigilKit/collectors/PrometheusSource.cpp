#include "collectors/PrometheusSource.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

namespace vigil {

namespace {

using Json = nlohmann::json;

std::optional<double> sampleValue(const Json& pair) {
    if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number() || !pair[1].is_string())
        return std::nullopt;
    const std::string& text = pair[1].get_ref<const std::string&>();
    if (text == "NaN" || text == "+Inf" || text == "-Inf")
        return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The "result" member of a successful answer of the given type, or why there is none.
const Json* resultOf(const Json& answer, const char* type, std::string& error) {
    if (!answer.is_object() || answer.value("status", "") != "success") {
        error = "the server refused the query";
        if (answer.is_object() && answer.contains("error") && answer["error"].is_string())
            error += ": " + answer["error"].get<std::string>().substr(0, 200);
        return nullptr;
    }
    auto data = answer.find("data");
    if (data == answer.end() || !data->is_object() || data->value("resultType", "") != type ||
        !data->contains("result") || !(*data)["result"].is_array()) {
        error = std::string("not a ") + type + " answer";
        return nullptr;
    }
    return &(*data)["result"];
}

Json parseJson(const std::string& body, std::string& error) {
    Json answer = Json::parse(body, nullptr, false);
    if (answer.is_discarded())
        error = "not JSON";
    return answer;
}

std::string labelSelector(const std::string& selector, const std::string& more) {
    if (selector.empty())
        return more.empty() ? std::string() : "{" + more + "}";
    return "{" + (more.empty() ? selector : more + "," + selector) + "}";
}

}  // namespace

PrometheusVector parsePrometheusVector(const std::string& body) {
    PrometheusVector vector;
    Json answer = parseJson(body, vector.error);
    if (!vector.error.empty())
        return vector;
    const Json* result = resultOf(answer, "vector", vector.error);
    if (!result)
        return vector;
    for (const auto& series : *result) {
        if (!series.is_object() || !series.contains("metric") || !series["metric"].is_object())
            continue;
        auto value = sampleValue(series.value("value", Json()));
        if (!value)
            continue;
        PrometheusVectorEntry entry;
        entry.value = *value;
        for (const auto& [key, label] : series["metric"].items()) {
            if (!label.is_string())
                continue;
            if (key == "instance")
                entry.instance = label.get<std::string>();
            entry.labels.emplace_back(key, label.get<std::string>());
        }
        vector.entries.push_back(std::move(entry));
    }
    return vector;
}

PrometheusMatrix parsePrometheusMatrix(const std::string& body) {
    PrometheusMatrix matrix;
    Json answer = parseJson(body, matrix.error);
    if (!matrix.error.empty())
        return matrix;
    const Json* result = resultOf(answer, "matrix", matrix.error);
    if (!result || result->empty())
        return matrix;
    const Json& values = (*result)[0].value("values", Json::array());
    if (!values.is_array())
        return matrix;
    for (const auto& pair : values)
        if (auto value = sampleValue(pair))
            matrix.points.push_back({pair[0].get<double>(), *value});
    return matrix;
}

PrometheusSource::PrometheusSource(MachineSourceConfig config, ErrorReport& report)
    : MachineSource(std::move(config), report) {}

std::string PrometheusSource::base() const {
    std::string url = config_.url;
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    return url;
}

std::string PrometheusSource::expression(MachineFigure figure, const std::string& selector) const {
    const std::string& window = config_.rateWindow;
    const std::string busyModes = "mode=~\"user|nice|system|irq|softirq\"";
    const std::string countedModes = "mode=~\"user|nice|system|irq|softirq|idle|iowait\"";
    const std::string root = "mountpoint=\"/\"";
    const std::string links = "device!~\"" + virtualLinkPattern() + "\"";
    auto rateSum = [&](const std::string& metric, const std::string& labels) {
        return "sum by (instance) (rate(" + metric + labelSelector(selector, labels) + "[" +
               window + "]))";
    };
    switch (figure) {
        case MachineFigure::processorBusy:
            return rateSum("node_cpu_seconds_total", busyModes) + " / " +
                   rateSum("node_cpu_seconds_total", countedModes) + " * 100";
        case MachineFigure::memoryUsed:
            return "node_memory_MemTotal_bytes" + labelSelector(selector, "") +
                   " - node_memory_MemAvailable_bytes" + labelSelector(selector, "");
        case MachineFigure::diskUsed:
            return "max by (instance) (node_filesystem_size_bytes" + labelSelector(selector, root) +
                   " - node_filesystem_free_bytes" + labelSelector(selector, root) + ")";
        case MachineFigure::downloadRate:
            return rateSum("node_network_receive_bytes_total", links);
        case MachineFigure::uploadRate:
            return rateSum("node_network_transmit_bytes_total", links);
        case MachineFigure::load1:
            return "node_load1" + labelSelector(selector, "");
    }
    return {};
}

std::optional<PrometheusVector> PrometheusSource::query(const std::string& promql,
                                                        std::string& error) {
    auto answer = get(base() + "/api/v1/query?query=" + platform::urlEscape(promql));
    if (!answer.ok()) {
        error = answer.error;
        return std::nullopt;
    }
    auto vector = parsePrometheusVector(answer.body);
    if (!vector.error.empty()) {
        error = vector.error;
        return std::nullopt;
    }
    return vector;
}

std::vector<MachineState> PrometheusSource::poll() {
    using Setter = std::function<void(MachineState&, const PrometheusVectorEntry&)>;
    auto figure = [](std::optional<double> MachineFigures::*member) -> Setter {
        return [member](MachineState& m, const PrometheusVectorEntry& e) {
            m.figures.*member = e.value;
        };
    };
    const std::string root = "{mountpoint=\"/\"}";
    const std::vector<std::pair<std::string, Setter>> queries = {
        {"up",
         [](MachineState& m, const PrometheusVectorEntry& e) {
             m.reach = e.value == 1 ? MachineReach::up : MachineReach::down;
         }},
        {"node_uname_info",
         [](MachineState& m, const PrometheusVectorEntry& e) {
             for (const auto& [key, value] : e.labels)
                 if (key == "nodename" && !value.empty())
                     m.figures.name = value;
             m.error.clear();  // marks a node exporter
         }},
        {expression(MachineFigure::processorBusy), figure(&MachineFigures::processorBusy)},
        {"node_memory_MemTotal_bytes", figure(&MachineFigures::memoryTotal)},
        {expression(MachineFigure::memoryUsed), figure(&MachineFigures::memoryUsed)},
        {"max by (instance) (node_filesystem_size_bytes" + root + ")",
         figure(&MachineFigures::diskTotal)},
        {expression(MachineFigure::diskUsed), figure(&MachineFigures::diskUsed)},
        {"max by (instance) (node_filesystem_avail_bytes" + root + ")",
         figure(&MachineFigures::diskAvailable)},
        {expression(MachineFigure::downloadRate), figure(&MachineFigures::downloadRate)},
        {expression(MachineFigure::uploadRate), figure(&MachineFigures::uploadRate)},
        {"node_load1", figure(&MachineFigures::load1)},
        {"node_load5", figure(&MachineFigures::load5)},
        {"node_load15", figure(&MachineFigures::load15)},
        {"node_time_seconds - node_boot_time_seconds", figure(&MachineFigures::uptime)},
        {"last_over_time(node_time_seconds[1d]) unless on(instance) (up == 1)",
         [](MachineState& m, const PrometheusVectorEntry& e) {
             m.lastAnswer = std::chrono::system_clock::time_point(
                 std::chrono::duration_cast<std::chrono::system_clock::duration>(
                     std::chrono::duration<double>(e.value)));
         }},
        {"node_hwmon_temp_celsius * on(instance, chip, sensor) group_left(label) "
         "node_hwmon_sensor_label or on(instance, chip, sensor) node_hwmon_temp_celsius",
         [](MachineState& m, const PrometheusVectorEntry& e) {
             std::string label, chip, sensor;
             for (const auto& [key, value] : e.labels) {
                 if (key == "label")
                     label = value;
                 else if (key == "chip")
                     chip = value;
                 else if (key == "sensor")
                     sensor = value;
             }
             m.figures.temperatures.push_back(
                 {label.empty() ? chip + " " + sensor : label, e.value});
         }},
    };

    std::map<std::string, MachineState> machines;
    const std::string notNode = "not a node exporter";
    for (const auto& [promql, setter] : queries) {
        std::string error;
        auto vector = query(promql, error);
        if (!vector)
            return unreachable(error);
        for (const auto& entry : vector->entries) {
            if (entry.instance.empty())
                continue;
            bool listed = machines.count(entry.instance) > 0;
            if (!listed && promql != "up")
                continue;
            MachineState& machine = machines[entry.instance];
            if (!listed) {
                machine.figures.instance = machine.figures.name = entry.instance;
                machine.error = notNode;
            }
            setter(machine, entry);
        }
    }
    auto now = std::chrono::system_clock::now();
    std::vector<MachineState> listed;
    for (auto& [instance, machine] : machines) {
        if (machine.reach == MachineReach::up && machine.error == notNode)
            continue;  // a target that is not a node exporter (Prometheus itself, say)
        machine.error.clear();
        if (machine.reach == MachineReach::up)
            machine.lastAnswer = now;
        listed.push_back(std::move(machine));
    }
    remember(listed);
    return listed;
}

std::optional<std::vector<MachineHistoryPoint>> PrometheusSource::history(
    const std::string& instance, MachineFigure figure, std::chrono::seconds range) {
    std::string escaped;
    for (char c : instance) {
        if (c == '"' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    auto end = std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
    auto step = std::max<long long>(1, range.count() / 240);
    std::string promql = expression(figure, "instance=\"" + escaped + "\"");
    auto answer = get(base() + "/api/v1/query_range?query=" + platform::urlEscape(promql) +
                      "&start=" + std::to_string(end - range.count()) +
                      "&end=" + std::to_string(end) + "&step=" + std::to_string(step));
    std::string error = answer.error;
    PrometheusMatrix matrix;
    if (answer.ok()) {
        matrix = parsePrometheusMatrix(answer.body);
        error = matrix.error;
    }
    if (!error.empty()) {
        report_.report("other machines", config_.url + ": history: " + error);
        return std::nullopt;
    }
    return matrix.points;
}

}  // namespace vigil
