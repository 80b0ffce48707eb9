#include "platform/Sensors.h"

#include <fcntl.h>
#include <sched.h>
#include <sensors/error.h>
#include <sensors/sensors.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/Read.h"

namespace vigil::platform {

namespace fs = std::filesystem;

const char* toString(SensorKind kind) {
    switch (kind) {
        case SensorKind::temperature:
            return "temperature";
        case SensorKind::fan:
            return "fan";
        case SensorKind::voltage:
            return "voltage";
        case SensorKind::current:
            return "current";
        case SensorKind::power:
            return "power";
        case SensorKind::energy:
            return "energy";
        case SensorKind::humidity:
            return "humidity";
    }
    return "temperature";
}

std::optional<SensorKind> sensorKindNamed(const std::string& name) {
    for (auto kind :
         {SensorKind::temperature, SensorKind::fan, SensorKind::voltage, SensorKind::current,
          SensorKind::power, SensorKind::energy, SensorKind::humidity}) {
        if (name == toString(kind))
            return kind;
    }
    return std::nullopt;
}

namespace {

nlohmann::json optionalNumber(const std::optional<double>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

std::optional<double> numberAt(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number())
        return std::nullopt;
    return it->get<double>();
}

std::string textAt(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

nlohmann::json toJson(const std::vector<SensorChip>& chips) {
    auto out = nlohmann::json::array();
    for (const auto& chip : chips) {
        auto sensors = nlohmann::json::array();
        for (const auto& s : chip.sensors) {
            sensors.push_back({{"id", s.id},
                               {"label", s.label},
                               {"feature", s.feature},
                               {"labelled", s.labelled},
                               {"kind", toString(s.kind)},
                               {"value", optionalNumber(s.value)},
                               {"max", optionalNumber(s.max)},
                               {"critical", optionalNumber(s.critical)},
                               {"alarm", s.alarm}});
        }
        out.push_back({{"id", chip.id},
                       {"prefix", chip.prefix},
                       {"adapter", chip.adapter},
                       {"device", chip.device},
                       {"sensors", std::move(sensors)}});
    }
    return out;
}

std::vector<SensorChip> sensorChipsFromJson(const nlohmann::json& json) {
    std::vector<SensorChip> chips;
    if (!json.is_array())
        return chips;
    for (const auto& c : json) {
        if (!c.is_object())
            continue;
        SensorChip chip{
            textAt(c, "id"), textAt(c, "prefix"), textAt(c, "adapter"), textAt(c, "device"), {}};
        const auto sensors = c.find("sensors");
        if (sensors != c.end() && sensors->is_array()) {
            for (const auto& s : *sensors) {
                if (!s.is_object())
                    continue;
                Sensor sensor;
                sensor.id = textAt(s, "id");
                sensor.label = textAt(s, "label");
                sensor.feature = textAt(s, "feature");
                sensor.labelled = s.value("labelled", false);
                sensor.kind = sensorKindNamed(textAt(s, "kind")).value_or(SensorKind::temperature);
                sensor.value = numberAt(s, "value");
                sensor.max = numberAt(s, "max");
                sensor.critical = numberAt(s, "critical");
                sensor.alarm = s.value("alarm", false);
                chip.sensors.push_back(std::move(sensor));
            }
        }
        chips.push_back(std::move(chip));
    }
    return chips;
}

namespace {

// Which subfeatures give a kind's value and limits, in order of preference.
struct KindReading {
    SensorKind kind;
    std::vector<sensors_subfeature_type> value, max, critical;
};

std::optional<KindReading> kindReading(sensors_feature_type type) {
    switch (type) {
        case SENSORS_FEATURE_TEMP:
            return KindReading{SensorKind::temperature,
                               {SENSORS_SUBFEATURE_TEMP_INPUT},
                               {SENSORS_SUBFEATURE_TEMP_MAX},
                               {SENSORS_SUBFEATURE_TEMP_CRIT, SENSORS_SUBFEATURE_TEMP_EMERGENCY}};
        case SENSORS_FEATURE_FAN:
            return KindReading{
                SensorKind::fan, {SENSORS_SUBFEATURE_FAN_INPUT}, {SENSORS_SUBFEATURE_FAN_MAX}, {}};
        case SENSORS_FEATURE_IN:
            return KindReading{SensorKind::voltage,
                               {SENSORS_SUBFEATURE_IN_INPUT},
                               {SENSORS_SUBFEATURE_IN_MAX},
                               {SENSORS_SUBFEATURE_IN_CRIT}};
        case SENSORS_FEATURE_CURR:
            return KindReading{SensorKind::current,
                               {SENSORS_SUBFEATURE_CURR_INPUT},
                               {SENSORS_SUBFEATURE_CURR_MAX},
                               {SENSORS_SUBFEATURE_CURR_CRIT}};
        case SENSORS_FEATURE_POWER:
            return KindReading{SensorKind::power,
                               {SENSORS_SUBFEATURE_POWER_INPUT, SENSORS_SUBFEATURE_POWER_AVERAGE},
                               {SENSORS_SUBFEATURE_POWER_MAX, SENSORS_SUBFEATURE_POWER_CAP},
                               {SENSORS_SUBFEATURE_POWER_CRIT}};
        case SENSORS_FEATURE_ENERGY:
            return KindReading{SensorKind::energy, {SENSORS_SUBFEATURE_ENERGY_INPUT}, {}, {}};
        case SENSORS_FEATURE_HUMIDITY:
            return KindReading{SensorKind::humidity, {SENSORS_SUBFEATURE_HUMIDITY_INPUT}, {}, {}};
        default:
            return std::nullopt;
    }
}

// The first of the subfeatures that the chip has and that reads as a finite number.
std::optional<double> firstValue(const sensors_chip_name* chip, const sensors_feature* feature,
                                 const std::vector<sensors_subfeature_type>& types) {
    for (auto type : types) {
        const sensors_subfeature* sub = sensors_get_subfeature(chip, feature, type);
        double value = 0;
        if (sub && (sub->flags & SENSORS_MODE_R) &&
            sensors_get_value(chip, sub->number, &value) == 0 && std::isfinite(value))
            return value;
    }
    return std::nullopt;
}

bool endsWith(const char* text, const char* suffix) {
    const std::size_t n = std::strlen(text), m = std::strlen(suffix);
    return n >= m && std::strcmp(text + n - m, suffix) == 0;
}

// Whether any alarm or fault flag of the feature is raised.
bool alarmRaised(const sensors_chip_name* chip, const sensors_feature* feature) {
    int nr = 0;
    while (const sensors_subfeature* sub = sensors_get_all_subfeatures(chip, feature, &nr)) {
        if (!(sub->flags & SENSORS_MODE_R) ||
            !(endsWith(sub->name, "_alarm") || endsWith(sub->name, "_fault")))
            continue;
        double value = 0;
        if (sensors_get_value(chip, sub->number, &value) == 0 && value != 0)
            return true;
    }
    return false;
}

std::string chipName(const sensors_chip_name* chip) {
    char name[256];
    if (sensors_snprintf_chip_name(name, sizeof name, chip) < 0)
        return chip->prefix ? chip->prefix : "unknown";
    return name;
}

SensorChip readChip(const sensors_chip_name* chip) {
    SensorChip out;
    out.id = chipName(chip);
    out.prefix = chip->prefix ? chip->prefix : "";
    if (const char* adapter = sensors_get_adapter_name(&chip->bus))
        out.adapter = adapter;
    if (chip->path) {
        std::error_code ignored;
        const auto device = fs::read_symlink(fs::path(chip->path) / "device", ignored);
        if (!ignored)
            out.device = device.filename().string();
    }
    int nr = 0;
    while (const sensors_feature* feature = sensors_get_features(chip, &nr)) {
        const auto reading = kindReading(feature->type);
        if (!reading)
            continue;
        Sensor sensor;
        sensor.feature = feature->name;
        if (char* label = sensors_get_label(chip, feature)) {
            sensor.label = label;
            std::free(label);
        }
        if (sensor.label.empty())
            sensor.label = sensor.feature;
        sensor.labelled = sensor.label != sensor.feature;
        sensor.id = out.id + "/" + sensor.label;
        sensor.kind = reading->kind;
        sensor.value = firstValue(chip, feature, reading->value);
        sensor.max = firstValue(chip, feature, reading->max);
        sensor.critical = firstValue(chip, feature, reading->critical);
        sensor.alarm = alarmRaised(chip, feature);
        out.sensors.push_back(std::move(sensor));
    }
    return out;
}

std::set<std::string> hwmonNames() {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/hwmon", error))
        names.insert(entry.path().filename().string());
    return names;
}

// libsensors' state as this process last loaded it. Used under the lock (or in a forked child,
// which has no other thread).
struct LibraryState {
    std::string configuration;
    bool loaded = false;
    bool rescan = true;
    std::set<std::string> scanned;

    void unload() {
        if (loaded)
            sensors_cleanup();
        loaded = false;
    }

    bool load() {
        unload();
        FILE* file = nullptr;
        if (!configuration.empty()) {
            file = std::fopen(configuration.c_str(), "re");
            if (!file)
                reportError("sensors_init", configuration + ": " + std::strerror(errno));
        }
        int rc = sensors_init(file);
        if (rc != 0) {
            reportError("sensors_init", std::string("the configuration does not load: ") +
                                            sensors_strerror(rc) + "; reading without it");
            if (file)
                std::fclose(file);
            file = std::fopen("/dev/null", "re");
            rc = sensors_init(file);
        }
        if (file)
            std::fclose(file);
        if (rc != 0) {
            reportError("sensors_init", sensors_strerror(rc));
            sensors_cleanup();
            return false;
        }
        loaded = true;
        return true;
    }

    std::vector<SensorChip> read() {
        auto names = hwmonNames();
        if (rescan || !loaded || names != scanned) {
            scanned = std::move(names);
            rescan = false;
            if (!load())
                return {};
        }
        std::vector<SensorChip> chips;
        int nr = 0;
        while (const sensors_chip_name* chip = sensors_get_detected_chips(nullptr, &nr)) {
            // A chip whose device went away (driver unbound, drive unplugged) reads as nothing;
            // leave it out and scan again next time.
            if (chip->path && !fs::exists(chip->path)) {
                reportError("sensors", chipName(chip) + " -- went away");
                rescan = true;
                continue;
            }
            chips.push_back(readChip(chip));
        }
        return chips;
    }
};

std::mutex& libraryMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

LibraryState& libraryState() {
    static auto* state = new LibraryState;
    return *state;
}

std::string bind(const fs::path& from, const char* to) {
    if (::mount(from.c_str(), to, nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return std::string("cannot bind ") + from.string() + " over " + to + ": " +
               std::strerror(errno);
    return "";
}

}  // namespace

void SensorLibrary::setConfiguration(const std::string& path) {
    std::lock_guard lock(libraryMutex());
    libraryState().configuration = path;
    libraryState().rescan = true;
}

std::vector<SensorChip> SensorLibrary::read() {
    std::lock_guard lock(libraryMutex());
    return libraryState().read();
}

std::string mountSysTree(const std::string& root) {
    const fs::path tree = fs::path(root) / "sys";
    if (!fs::is_directory(tree / "class/hwmon"))
        return "no sys/class/hwmon under " + root;
    if (!fs::is_directory("/sys/class/hwmon")) {
        if (::mount("tmpfs", "/sys/class", "tmpfs", 0, "mode=0755") != 0)
            return std::string("cannot mount a tmpfs over /sys/class: ") + std::strerror(errno);
        if (::mkdir("/sys/class/hwmon", 0755) != 0)
            return std::string("cannot make /sys/class/hwmon: ") + std::strerror(errno);
    }
    if (auto error = bind(tree / "class/hwmon", "/sys/class/hwmon"); !error.empty())
        return error;
    if (fs::is_directory(tree / "devices"))
        return bind(tree / "devices", "/sys/devices");
    return "";
}

namespace {

// The child's side of readSensorsUnder: never returns.
[[noreturn]] void readInChild(const std::string& root, int out) {
    std::string message;
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        message = std::string("!cannot make a private mount namespace: ") + std::strerror(errno);
    else if (auto error = mountSysTree(root); !error.empty())
        message = "!" + error;
    else {
        LibraryState state;
        const auto config = fs::path(root) / "etc/sensors3.conf";
        state.configuration = fs::exists(config) ? config.string() : "/dev/null";
        message = toJson(state.read()).dump();
        state.unload();
    }
    for (std::size_t done = 0; done < message.size();) {
        const ssize_t n = ::write(out, message.data() + done, message.size() - done);
        if (n <= 0 && errno != EINTR)
            break;
        if (n > 0)
            done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
}

}  // namespace

SensorTreeRead readSensorsUnder(const std::string& root) {
    std::error_code notThere;
    if (root.empty() || fs::equivalent(root, "/", notThere))
        return {SensorLibrary::read(), ""};
    if (!fs::is_directory(fs::path(root) / "sys/class/hwmon", notThere))
        return {{}, ""};  // a machine without sensors
    if (::geteuid() != 0)
        return {{}, "reading the sensors of a tree needs root (a private mount namespace)"};
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {{}, std::string("pipe: ") + std::strerror(errno)};
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return {{}, std::string("fork: ") + std::strerror(errno)};
    }
    if (child == 0) {
        ::close(fds[0]);
        readInChild(root, fds[1]);
    }
    ::close(fds[1]);
    std::string message;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0)
            message.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (message.rfind('!', 0) == 0)
        return {{}, message.substr(1)};
    const auto json = nlohmann::json::parse(message, nullptr, false);
    if (json.is_discarded())
        return {{}, "the reading child gave no answer"};
    return {sensorChipsFromJson(json), ""};
}

}  // namespace vigil::platform
