#include "system/Notification.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace vigil {

namespace {

constexpr uint64_t kCallTimeoutMicroseconds = 3'000'000;

std::mutex addressMutex;
std::string busAddress;  // empty: the session bus

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageDeleter {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageDeleter>;

// A bus that stays away would otherwise cost a line at every notification: each distinct line is
// written at most once a minute, and again at once after a notification got through.
std::mutex reportedMutex;
std::map<std::string, std::chrono::steady_clock::time_point> reported;

void reportLine(const std::string& line) {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(reportedMutex);
        auto it = reported.find(line);
        if (it != reported.end() && now - it->second < std::chrono::minutes(1))
            return;
        reported[line] = now;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

void reportError(const char* what, int error) {
    reportLine(std::string("Error: Notification ") + what + " -- " + std::strerror(-error));
}

void forgetReportedErrors() {
    std::lock_guard lock(reportedMutex);
    reported.clear();
}

BusPtr openBus() {
    std::string address;
    {
        std::lock_guard lock(addressMutex);
        address = busAddress;
    }
    sd_bus* bus = nullptr;
    int result;
    if (address.empty()) {
        result = sd_bus_open_user(&bus);
    } else {
        result = sd_bus_new(&bus);
        if (result >= 0)
            result = sd_bus_set_address(bus, address.c_str());
        if (result >= 0)
            result = sd_bus_set_bus_client(bus, 1);
        if (result >= 0)
            result = sd_bus_start(bus);
    }
    if (result < 0) {
        if (bus)
            sd_bus_unref(bus);
        reportError("bus", result);
        return nullptr;
    }
    return BusPtr(bus);
}

int appendActions(sd_bus_message* message, const std::optional<std::string>& actionButtonTitle,
                  bool hasReplyButton) {
    int r = sd_bus_message_open_container(message, 'a', "s");
    if (r >= 0 && actionButtonTitle)
        r = sd_bus_message_append(message, "ss", "default", actionButtonTitle->c_str());
    // Servers that support inline replies (Plasma) know this action key; the others ignore it.
    if (r >= 0 && hasReplyButton)
        r = sd_bus_message_append(message, "ss", "inline-reply", "Reply");
    if (r >= 0)
        r = sd_bus_message_close_container(message);
    return r;
}

int appendHints(sd_bus_message* message, const std::optional<std::string>& sound) {
    int r = sd_bus_message_open_container(message, 'a', "{sv}");
    if (r >= 0 && sound) {
        r = sd_bus_message_append(message, "{sv}", "sound-name", "s", sound->c_str());
    } else if (r >= 0) {
        r = sd_bus_message_append(message, "{sv}", "suppress-sound", "b", 1);
    }
    if (r >= 0)
        r = sd_bus_message_close_container(message);
    return r;
}

}  // namespace

void Notification::useBusAddress(const std::string& address) {
    std::lock_guard lock(addressMutex);
    busAddress = address;
}

bool Notification::notify(const std::string& title, const std::optional<std::string>& text,
                          const std::optional<std::string>& withSound,
                          const std::optional<std::string>& actionButtonTitle,
                          bool hasReplyButton) {
    BusPtr bus = openBus();
    if (!bus)
        return false;
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(bus.get(), &raw, "org.freedesktop.Notifications",
                                           "/org/freedesktop/Notifications",
                                           "org.freedesktop.Notifications", "Notify");
    MessagePtr call(raw);
    if (r >= 0) {
        r = sd_bus_message_append(call.get(), "susss", "Vigil", 0u, "vigil", title.c_str(),
                                  text.value_or("").c_str());
    }
    if (r >= 0)
        r = appendActions(call.get(), actionButtonTitle, hasReplyButton);
    if (r >= 0)
        r = appendHints(call.get(), withSound);
    if (r >= 0)
        r = sd_bus_message_append(call.get(), "i", -1);
    if (r < 0) {
        reportError("message", r);
        return false;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    r = sd_bus_call(bus.get(), call.get(), kCallTimeoutMicroseconds, &error, &reply);
    MessagePtr replyOwner(reply);
    if (r < 0) {
        reportLine(std::string("Error: Notification Notify -- ") +
                   (error.message ? error.message : std::strerror(-r)));
        sd_bus_error_free(&error);
        return false;
    }
    sd_bus_error_free(&error);
    forgetReportedErrors();
    return true;
}

}  // namespace vigil
