#include "platform/Bus.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace vigil {

std::string busErrorText(int negativeErrno) {
    return std::strerror(-negativeErrno);
}

namespace {

void setError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

}  // namespace

Bus::Reply& Bus::Reply::operator=(Reply&& other) noexcept {
    if (this != &other) {
        sd_bus_message_unref(message_);
        message_ = other.message_;
        other.message_ = nullptr;
    }
    return *this;
}

Bus::Reply::~Reply() {
    sd_bus_message_unref(message_);
}

std::optional<std::string> Bus::Reply::readString(char type) const {
    if (!message_ || (type != 's' && type != 'o' && type != 'g'))
        return std::nullopt;
    const char* value = nullptr;
    char types[2] = {type, '\0'};
    if (sd_bus_message_read(message_, types, &value) <= 0 || !value)
        return std::nullopt;
    return std::string(value);
}

std::optional<bool> Bus::Reply::readBool() const {
    if (!message_)
        return std::nullopt;
    int value = 0;
    if (sd_bus_message_read(message_, "b", &value) <= 0)
        return std::nullopt;
    return value != 0;
}

std::optional<std::string> Bus::Reply::readVariantString(char type) const {
    if (!message_)
        return std::nullopt;
    char types[2] = {type, '\0'};
    if (sd_bus_message_enter_container(message_, SD_BUS_TYPE_VARIANT, types) <= 0)
        return std::nullopt;
    auto value = readString(type);
    sd_bus_message_exit_container(message_);
    return value;
}

std::optional<bool> Bus::Reply::readVariantBool() const {
    if (!message_)
        return std::nullopt;
    if (sd_bus_message_enter_container(message_, SD_BUS_TYPE_VARIANT, "b") <= 0)
        return std::nullopt;
    auto value = readBool();
    sd_bus_message_exit_container(message_);
    return value;
}

std::unique_ptr<Bus> Bus::system(std::string* error) {
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) {
        setError(error, "cannot connect to the system bus: " + busErrorText(r));
        return nullptr;
    }
    return std::unique_ptr<Bus>(new Bus(bus));
}

std::unique_ptr<Bus> Bus::session(std::string* error) {
    sd_bus* bus = nullptr;
    int r = sd_bus_open_user(&bus);
    if (r < 0) {
        setError(error, "cannot connect to the session bus: " + busErrorText(r));
        return nullptr;
    }
    return std::unique_ptr<Bus>(new Bus(bus));
}

std::unique_ptr<Bus> Bus::open(const std::string& address, std::string* error) {
    sd_bus* bus = nullptr;
    int r = sd_bus_new(&bus);
    if (r >= 0)
        r = sd_bus_set_address(bus, address.c_str());
    if (r >= 0)
        r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0)
        r = sd_bus_start(bus);
    if (r < 0) {
        sd_bus_unref(bus);
        setError(error, "cannot connect to the bus at " + address + ": " + busErrorText(r));
        return nullptr;
    }
    return std::unique_ptr<Bus>(new Bus(bus));
}

Bus::~Bus() {
    sd_bus_flush_close_unref(bus_);
}

std::optional<Bus::Reply> Bus::call(const Target& target, const std::string& member,
                                    const Arguments& arguments, std::chrono::milliseconds timeout,
                                    std::string* error) {
    sd_bus_message* request = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &request, target.destination.c_str(),
                                           target.path.c_str(), target.interface.c_str(),
                                           member.c_str());
    if (r >= 0 && arguments)
        r = arguments(request);
    if (r < 0) {
        sd_bus_message_unref(request);
        setError(error, "cannot build " + target.interface + "." + member + ": " + busErrorText(r));
        return std::nullopt;
    }
    sd_bus_error busError = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    uint64_t usec = timeout.count() > 0 ? static_cast<uint64_t>(timeout.count()) * 1000 : 1;
    r = sd_bus_call(bus_, request, usec, &busError, &reply);
    sd_bus_message_unref(request);
    if (r < 0) {
        std::string text;
        if (sd_bus_error_is_set(&busError)) {
            text = std::string(busError.name) + ": " + (busError.message ? busError.message : "");
        } else {
            text = busErrorText(r);
        }
        sd_bus_error_free(&busError);
        setError(error, oneLine(target.interface + "." + member + " -- " + text));
        return std::nullopt;
    }
    sd_bus_error_free(&busError);
    return Reply(reply);
}

std::optional<Bus::Reply> Bus::getProperty(const Target& target, const std::string& property,
                                           std::chrono::milliseconds timeout, std::string* error) {
    Target properties{target.destination, target.path, "org.freedesktop.DBus.Properties"};
    return call(
        properties, "Get",
        [&](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", target.interface.c_str(), property.c_str());
        },
        timeout, error);
}

bool Bus::nameHasOwner(const std::string& name, std::chrono::milliseconds timeout,
                       std::string* error) {
    Target daemon{"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"};
    auto reply = call(
        daemon, "NameHasOwner",
        [&](sd_bus_message* m) { return sd_bus_message_append(m, "s", name.c_str()); }, timeout,
        error);
    if (!reply)
        return false;
    return reply->readBool().value_or(false);
}

int Bus::appendEmptyOptions(sd_bus_message* message) {
    return sd_bus_message_append(message, "a{sv}", 0);
}

}  // namespace vigil
