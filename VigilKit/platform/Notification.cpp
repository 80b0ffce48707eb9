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
std::string busAddressSetting;  // empty: the session bus

std::unique_ptr<Bus> openBus() {
    const std::string address = Notification::busAddress();
    std::string error;
    auto bus = address.empty() ? Bus::session(&error) : Bus::open(address, &error);
    if (!bus)
        Notification::reportBusError(error);
    return bus;
}

int appendActions(sd_bus_message* message, const Notification::Message& notification) {
    int r = sd_bus_message_open_container(message, 'a', "s");
    for (const auto& [key, label] : notification.actions) {
        if (r >= 0)
            r = sd_bus_message_append(message, "ss", key.c_str(), label.c_str());
    }
    if (r >= 0)
        r = sd_bus_message_close_container(message);
    return r;
}

int appendHints(sd_bus_message* message, const Notification::Message& notification) {
    int r = sd_bus_message_open_container(message, 'a', "{sv}");
    if (r >= 0 && notification.sound) {
        r = sd_bus_message_append(message, "{sv}", "sound-name", "s", notification.sound->c_str());
    } else if (r >= 0) {
        r = sd_bus_message_append(message, "{sv}", "suppress-sound", "b", 1);
    }
    if (r >= 0 && notification.urgency) {
        r = sd_bus_message_append(message, "{sv}", "urgency", "y",
                                  static_cast<uint8_t>(*notification.urgency));
    }
    if (r >= 0 && !notification.category.empty()) {
        r = sd_bus_message_append(message, "{sv}", "category", "s", notification.category.c_str());
    }
    if (r >= 0)
        r = sd_bus_message_close_container(message);
    return r;
}

}  // namespace

void Notification::useBusAddress(const std::string& address) {
    std::lock_guard lock(addressMutex);
    busAddressSetting = address;
}

std::string Notification::busAddress() {
    std::lock_guard lock(addressMutex);
    return busAddressSetting;
}

// A bus that stays away costs one line a minute (the error report's rule), and again one at once
// after a notification got through.
void Notification::reportBusError(const std::string& error) {
    reportError("Notification bus", error);
}

void Notification::reportNotifyError(const std::string& error) {
    reportError("Notification Notify", error);
}

void Notification::forgetReportedErrors() {
    ErrorReport::shared().forget("Error: Notification ");
}

int Notification::appendNotifyArguments(sd_bus_message* call, const Message& message) {
    int r = sd_bus_message_append(call, "susss", "Vigil", message.replacesId, "vigil",
                                  message.title.c_str(), message.text.value_or("").c_str());
    if (r >= 0)
        r = appendActions(call, message);
    if (r >= 0)
        r = appendHints(call, message);
    if (r >= 0)
        r = sd_bus_message_append(call, "i", -1);
    return r;
}

std::optional<std::uint32_t> Notification::post(const Message& message) {
    auto bus = openBus();
    if (!bus)
        return std::nullopt;
    const Bus::Target target{"org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                             "org.freedesktop.Notifications"};
    std::string error;
    const auto reply = bus->call(
        target, "Notify",
        [&](sd_bus_message* call) { return appendNotifyArguments(call, message); }, kCallTimeout,
        &error);
    if (!reply) {
        reportNotifyError(error);
        return std::nullopt;
    }
    forgetReportedErrors();
    uint32_t id = 0;
    if (sd_bus_message_read(reply->message(), "u", &id) < 0)
        return 0u;  // taken, without an id to replace it by
    return id;
}

bool Notification::notify(const std::string& title, const std::optional<std::string>& text,
                          const std::optional<std::string>& withSound,
                          const std::optional<std::string>& actionButtonTitle,
                          bool hasReplyButton) {
    Message message;
    message.title = title;
    message.text = text;
    message.sound = withSound;
    if (actionButtonTitle)
        message.actions.emplace_back("default", *actionButtonTitle);
    // Servers that support inline replies (Plasma) know this action key; the others ignore it.
    if (hasReplyButton)
        message.actions.emplace_back("inline-reply", "Reply");
    return post(message).has_value();
}

}  // namespace vigil
