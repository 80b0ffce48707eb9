#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace vigil::platform {

enum class SensorKind { temperature, fan, voltage, current, power, energy, humidity };
const char* toString(SensorKind kind);
std::optional<SensorKind> sensorKindNamed(const std::string& name);

// One sensor as libsensors presents it, after the configuration's labels, computations and
// ignores. Units: °C, RPM, V, A, W, J, %.
struct Sensor {
    std::string id;         // "<chip>/<label>", such as "k10temp-pci-00c3/Tctl"
    std::string label;      // the configured or kernel label, else the feature name ("temp1")
    std::string feature;    // the feature name: "temp1", "fan2", "in0"
    bool labelled = false;  // false when the label is only the feature name
    SensorKind kind = SensorKind::temperature;
    std::optional<double> value, max, critical;
    bool alarm = false;
    bool operator==(const Sensor&) const = default;
};

// A chip: "<prefix>-<bus>-<address>" (libsensors' chip name), never a hwmonN number.
struct SensorChip {
    std::string id;       // "k10temp-pci-00c3"
    std::string prefix;   // "k10temp"
    std::string adapter;  // "PCI adapter", "ISA adapter", "Virtual device"
    std::string device;   // the kernel's device name ("0000:01:00.0", "coretemp.0"); may be empty
    std::vector<Sensor> sensors;
    bool operator==(const SensorChip&) const = default;
};

nlohmann::json toJson(const std::vector<SensorChip>& chips);
std::vector<SensorChip> sensorChipsFromJson(const nlohmann::json& json);

// The machine's sensors through libsensors, which reads the real /sys/class/hwmon. libsensors
// keeps process-wide state, so one lock serialises every use. The chip list is scanned again when
// the names under /sys/class/hwmon change or a chip stops answering; a chip that vanished is left
// out of that read with one error line.
class SensorLibrary {
  public:
    // `configuration`: a sensors.conf to use instead of the system's (/etc/sensors3.conf and
    // /etc/sensors.d); "" for the system's. Takes effect at the next scan.
    static void setConfiguration(const std::string& path);
    static std::vector<SensorChip> read();
};

// Mounts `root`'s sys/class/hwmon and sys/devices over the real ones (a tmpfs over /sys/class
// first where this machine has no /sys/class/hwmon), so that libsensors, which refuses a /sys that
// is not sysfs, reads the tree as this machine. Only inside a private mount namespace, as root.
// Returns "" on success, else why it could not.
std::string mountSysTree(const std::string& root);

// Reads the sensors of the tree under `root` in a forked child that enters a private mount
// namespace and mounts the tree there (root only); `root` "/" reads this machine in-process.
// The configuration is root's etc/sensors3.conf when there is one, else none.
// A tree without sys/class/hwmon has no sensors (not an error).
struct SensorTreeRead {
    std::vector<SensorChip> chips;
    std::string error;  // why the tree could not be read; empty on success
};
SensorTreeRead readSensorsUnder(const std::string& root);

}  // namespace vigil::platform
