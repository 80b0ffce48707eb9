#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sd_bus_message;

namespace vigil {

// Posts a desktop notification through org.freedesktop.Notifications on the session bus. No bus or
// no notification server costs one error line on stderr; nothing else fails. May be called from
// any thread.
class Notification {
  public:
    // The freedesktop sound-theme name played when a caller does not choose one.
    static constexpr const char* kDefaultSound = "message-new-instant";

    // Everything a notification may carry.
    struct Message {
        enum class Urgency : std::uint8_t { low = 0, normal = 1, critical = 2 };

        std::string title;
        std::optional<std::string> text;
        std::optional<std::string> sound = std::string(kDefaultSound);
        // (action key, label) pairs. The key "default" is what a click on the notification does.
        std::vector<std::pair<std::string, std::string>> actions;
        // The id of a notification this one replaces in place (0: a new one).
        std::uint32_t replacesId = 0;
        std::optional<Urgency> urgency;
        std::string category;  // a freedesktop category ("device.error"); none when empty
    };

    // Returns whether the notification server accepted the notification.
    static bool notify(const std::string& title, const std::optional<std::string>& text = {},
                       const std::optional<std::string>& withSound = std::string(kDefaultSound),
                       const std::optional<std::string>& actionButtonTitle = {},
                       bool hasReplyButton = false);

    // Posts the message and waits up to 3 s for the answer, on the calling thread: the
    // notification's id, or nothing when no server took it (one error line, as notify()).
    static std::optional<std::uint32_t> post(const Message& message);

    // Sends to the bus at this address instead of the user's session bus (empty: the session bus).
    static void useBusAddress(const std::string& address);
    static std::string busAddress();

    // The arguments of org.freedesktop.Notifications.Notify for the message (for a sender that
    // keeps its own connection); a negative errno on failure.
    static int appendNotifyArguments(sd_bus_message* call, const Message& message);
    // The reporter's causes that a sender writes when the bus or the server stays away, and
    // forgets once a notification got through again.
    static void reportBusError(const std::string& error);
    static void reportNotifyError(const std::string& error);
    static void forgetReportedErrors();
};

}  // namespace vigil
