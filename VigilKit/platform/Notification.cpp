#include "platform/Notification.h"

#include "C/system/ErrorReport.h"
#include "platform/Bus.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

namespace vigil {

namespace {

constexpr std::chrono::milliseconds kCallTimeout{3000};

std::mutex addressMutex;
std::string busAddress;  // empty: the session bus

// A bus that stays away costs one line a minute (the error report's rule), and again one at once
// after a notification got through.
void forgetReportedErrors() {
    ErrorReport::shared().forget("Error: Notification ");
}

std::unique_ptr<Bus> openBus() {
    std::string address;
    {
        std::lock_guard lock(addressMutex);
        address = busAddress;
    }
    std::string error;
    auto bus = address.empty() ? Bus::session(&error) : Bus::open(address, &error);
    if (!bus)
        reportError("Notification bus", error);
    return bus;
}

int appendActions(sd_bus_message* message, const std::optional<std::string>& actionButtonTitle,
                  bool hasReplyButton) {
    int r = sd_bus_message_open_container(message, 'a', "s");
    if (r >= 0 && actionButtonTitle) {
        r = sd_bus_message_append(message, "ss", "default", actionButtonTitle->c_str());
    }
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
    auto bus = openBus();
    if (!bus)
        return false;
    const Bus::Target target{"org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                             "org.freedesktop.Notifications"};
    std::string error;
    const auto reply = bus->call(
        target, "Notify",
        [&](sd_bus_message* call) {
            int r = sd_bus_message_append(call, "susss", "Vigil", 0u, "vigil", title.c_str(),
                                          text.value_or("").c_str());
            if (r >= 0)
                r = appendActions(call, actionButtonTitle, hasReplyButton);
            if (r >= 0)
                r = appendHints(call, withSound);
            if (r >= 0)
                r = sd_bus_message_append(call, "i", -1);
            return r;
        },
        kCallTimeout, &error);
    if (!reply) {
        reportError("Notification Notify", error);
        return false;
    }
    forgetReportedErrors();
    return true;
}

}  // namespace vigil
