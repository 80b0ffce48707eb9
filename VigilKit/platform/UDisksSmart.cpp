#include "platform/UDisksSmart.h"

#include <systemd/sd-bus.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "platform/Bus.h"

namespace vigil {

namespace {

constexpr const char* service = "org.freedesktop.UDisks2";
constexpr const char* ataInterface = "org.freedesktop.UDisks2.Drive.Ata";
constexpr const char* nvmeInterface = "org.freedesktop.UDisks2.NVMe.Controller";

// One property value out of a{sv}: numbers of any width as a double, booleans, string arrays.
struct Value {
    double number = 0;
    bool flag = false;
    std::vector<std::string> texts;
};
using Properties = std::map<std::string, Value>;

bool readNumberOrFlag(sd_bus_message* m, char type, Value* value) {
    union {
        int b;
        uint8_t y;
        uint16_t q;
        int32_t i;
        uint32_t u;
        int64_t x;
        uint64_t t;
        double d;
    } raw{};
    if (!std::strchr("byqiuxtd", type) || sd_bus_message_read_basic(m, type, &raw) <= 0)
        return false;
    switch (type) {
        case 'b':
            value->flag = raw.b != 0;
            break;
        case 'y':
            value->number = raw.y;
            break;
        case 'q':
            value->number = raw.q;
            break;
        case 'i':
            value->number = raw.i;
            break;
        case 'u':
            value->number = raw.u;
            break;
        case 'x':
            value->number = static_cast<double>(raw.x);
            break;
        case 't':
            value->number = static_cast<double>(raw.t);
            break;
        default:
            value->number = raw.d;
            break;
    }
    return true;
}

bool readStrings(sd_bus_message* m, Value* value) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "s") <= 0)
        return false;
    const char* text = nullptr;
    while (sd_bus_message_read_basic(m, 's', &text) > 0)
        value->texts.emplace_back(text);
    return sd_bus_message_exit_container(m) >= 0;
}

// The answer of org.freedesktop.DBus.Properties.GetAll; values of other types are skipped.
std::optional<Properties> readProperties(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0)
        return std::nullopt;
    Properties properties;
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* name = nullptr;
        const char* contents = nullptr;
        char type = 0;
        if (sd_bus_message_read_basic(m, 's', &name) <= 0 ||
            sd_bus_message_peek_type(m, &type, &contents) <= 0 || !contents)
            return std::nullopt;
        Value value;
        bool known = false;
        if (sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, contents) > 0) {
            if (std::strcmp(contents, "as") == 0) {
                known = readStrings(m, &value);
            } else if (std::strlen(contents) == 1) {
                known = readNumberOrFlag(m, contents[0], &value);
            }
            if (!known && sd_bus_message_skip(m, nullptr) < 0)
                return std::nullopt;
            sd_bus_message_exit_container(m);
        }
        if (known)
            properties[name] = std::move(value);
        if (sd_bus_message_exit_container(m) < 0)
            return std::nullopt;
    }
    sd_bus_message_exit_container(m);
    return properties;
}

// Errors that say the object or interface is not there, as opposed to a bus that failed.
bool isAbsence(const std::string& error) {
    for (const char* name :
         {"InvalidArgs", "UnknownInterface", "UnknownObject", "UnknownMethod", "UnknownProperty"}) {
        if (error.find(std::string("org.freedesktop.DBus.Error.") + name + ":") !=
            std::string::npos)
            return true;
    }
    return false;
}

void setWhy(std::string* why, std::string text) {
    if (why)
        *why = std::move(text);
}

double number(const Properties& properties, const char* name) {
    auto it = properties.find(name);
    return it == properties.end() ? 0 : it->second.number;
}

bool flag(const Properties& properties, const char* name) {
    auto it = properties.find(name);
    return it != properties.end() && it->second.flag;
}

SmartReading readingOf(SmartAvailability availability) {
    SmartReading reading;
    reading.availability = availability;
    return reading;
}

// Drive.Ata: SmartTemperature in kelvins (a double), 0 when the drive has none.
std::optional<SmartReading> ataReading(const Properties& ata, std::string* why) {
    if (!flag(ata, "SmartSupported"))
        return readingOf(SmartAvailability::notSupported);
    if (!flag(ata, "SmartEnabled"))
        return readingOf(SmartAvailability::switchedOff);
    if (number(ata, "SmartUpdated") <= 0) {
        setWhy(why, "UDisks2 has not read the drive's SMART data yet");
        return std::nullopt;
    }
    SmartReading reading = readingOf(SmartAvailability::read);
    reading.capable = true;
    reading.passed = !flag(ata, "SmartFailing");
    if (auto bad = ata.find("SmartNumBadSectors"); bad != ata.end() && bad->second.number >= 0)
        reading.reallocatedSectors = static_cast<int64_t>(bad->second.number);
    const double kelvin = number(ata, "SmartTemperature");
    if (kelvin > 273.15)
        reading.temperature = std::round((kelvin - 273.15) * 10) / 10;
    return reading;
}

// NVMe.Controller: SmartCriticalWarning lists the warning bits set ("spare", "temperature",
// "degraded", "readonly", "volatile_mem", ...); SmartTemperature in kelvins, 0 when unknown.
std::optional<SmartReading> nvmeReading(const Properties& nvme, std::string* why) {
    if (number(nvme, "SmartUpdated") <= 0) {
        setWhy(why, "UDisks2 has not read the controller's health information yet");
        return std::nullopt;
    }
    SmartReading reading = readingOf(SmartAvailability::read);
    reading.capable = true;
    auto warnings = nvme.find("SmartCriticalWarning");
    reading.passed = warnings == nvme.end() || warnings->second.texts.empty();
    const double kelvin = number(nvme, "SmartTemperature");
    if (kelvin > 273)
        reading.temperature = kelvin - 273;
    return reading;
}

}  // namespace

UDisksSmart::UDisksSmart(std::string busAddress, std::chrono::milliseconds timeout)
    : busAddress_(std::move(busAddress)), timeout_(timeout) {}

std::string UDisksSmart::objectName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (std::isalnum(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "_%02x", c);
            out += hex;
        }
    }
    return out;
}

std::string UDisksSmart::blockObjectPath(const std::string& device) {
    return "/org/freedesktop/UDisks2/block_devices/" + objectName(device);
}

std::optional<SmartReading> UDisksSmart::read(const std::string& disk, std::string* why) const {
    std::string error;
    auto bus = busAddress_.empty() ? Bus::system(&error) : Bus::open(busAddress_, &error);
    if (!bus) {
        setWhy(why, error);
        return std::nullopt;
    }
    Bus::Target block{service, blockObjectPath(disk), "org.freedesktop.UDisks2.Block"};
    auto driveReply = bus->getProperty(block, "Drive", timeout_, &error);
    auto drive = driveReply ? driveReply->readVariantString('o') : std::nullopt;
    if (!drive) {
        setWhy(why, driveReply ? "UDisks2 answered Block.Drive without an object path" : error);
        return std::nullopt;
    }
    if (*drive == "/")
        return readingOf(SmartAvailability::notSupported);  // a loop device, say: no drive

    auto getAll = [&](const char* interface) -> std::optional<Properties> {
        Bus::Target properties{service, *drive, "org.freedesktop.DBus.Properties"};
        auto reply = bus->call(
            properties, "GetAll",
            [&](sd_bus_message* m) { return sd_bus_message_append(m, "s", interface); }, timeout_,
            &error);
        if (!reply)
            return std::nullopt;
        auto parsed = readProperties(reply->message());
        if (!parsed)
            error = std::string(interface) + " of " + *drive + ": malformed GetAll answer";
        return parsed;
    };
    if (auto ata = getAll(ataInterface))
        return ataReading(*ata, why);
    if (!isAbsence(error)) {
        setWhy(why, error);
        return std::nullopt;
    }
    if (auto nvme = getAll(nvmeInterface))
        return nvmeReading(*nvme, why);
    if (!isAbsence(error)) {
        setWhy(why, error);
        return std::nullopt;
    }
    // A drive with neither interface: no SMART that UDisks2 can read. An NVMe drive still has its
    // health log; this UDisks2 predates NVMe support.
    if (disk.rfind("nvme", 0) == 0) {
        setWhy(why, "this UDisks2 does not report NVMe health information");
        return std::nullopt;
    }
    return readingOf(SmartAvailability::notSupported);
}

}  // namespace vigil
