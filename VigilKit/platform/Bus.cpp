#include "platform/Bus.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

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

struct Bus::Object {
    std::string path;
    std::vector<Interface> interfaces;

    static int handle(sd_bus_message* m, void* userdata, sd_bus_error* error) {
        auto* self = static_cast<Object*>(userdata);
        if (sd_bus_message_is_method_call(m, "org.freedesktop.DBus.Properties", "Get")) {
            const char* interface = nullptr;
            const char* property = nullptr;
            if (sd_bus_message_read(m, "ss", &interface, &property) < 0)
                return 0;
            for (const auto& served : self->interfaces) {
                if (served.name != interface)
                    continue;
                auto it = served.properties.find(property);
                if (it == served.properties.end())
                    break;
                const Property& value = it->second;
                if (value.type == 'b') {
                    return sd_bus_reply_method_return(m, "v", "b", value.flag ? 1 : 0);
                }
                char type[2] = {value.type, '\0'};
                return sd_bus_reply_method_return(m, "v", type, value.text.c_str());
            }
            return sd_bus_error_setf(error, "org.freedesktop.DBus.Error.UnknownProperty",
                                     "No property %s.%s", interface, property);
        }
        for (const auto& served : self->interfaces) {
            for (const auto& [member, function] : served.methods) {
                if (sd_bus_message_is_method_call(m, served.name.c_str(), member.c_str())) {
                    if (function)
                        function(member);
                    return sd_bus_reply_method_return(m, "");
                }
            }
        }
        return 0;  // not ours: sd-bus answers UnknownMethod
    }
};

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

Bus::Bus(sd_bus* bus) : bus_(bus) {}

Bus::~Bus() {
    sd_bus_flush_close_unref(bus_);
}

std::string Bus::uniqueName() const {
    const char* name = nullptr;
    if (sd_bus_get_unique_name(bus_, &name) < 0 || !name)
        return {};
    return name;
}

bool Bus::serve(const std::string& path, Interface interface, std::string* error) {
    auto it = objects_.find(path);
    if (it == objects_.end()) {
        auto object = std::make_unique<Object>();
        object->path = path;
        int r = sd_bus_add_object(bus_, nullptr, path.c_str(), &Object::handle, object.get());
        if (r < 0) {
            setError(error, "cannot serve " + path + ": " + busErrorText(r));
            return false;
        }
        it = objects_.emplace(path, std::move(object)).first;
    }
    it->second->interfaces.push_back(std::move(interface));
    return true;
}

bool Bus::requestName(const std::string& name, std::string* error) {
    int r = sd_bus_request_name(bus_, name.c_str(), 0);
    if (r < 0) {
        setError(error, "cannot own " + name + ": " + busErrorText(r));
        return false;
    }
    return true;
}

bool Bus::process(std::chrono::milliseconds wait) {
    for (;;) {
        int r = sd_bus_process(bus_, nullptr);
        if (r < 0)
            return false;
        if (r == 0)
            break;
    }
    int r = sd_bus_wait(bus_, static_cast<uint64_t>(std::max<int64_t>(0, wait.count())) * 1000);
    return r >= 0 || r == -EINTR;
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
