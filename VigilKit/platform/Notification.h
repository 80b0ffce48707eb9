#pragma once

#include <optional>
#include <string>

namespace vigil {

// Posts a desktop notification through org.freedesktop.Notifications on the session bus. No bus or
// no notification server costs one error line on stderr; nothing else fails. May be called from
// any thread.
class Notification {
  public:
    // The freedesktop sound-theme name played when a caller does not choose one.
    static constexpr const char* kDefaultSound = "message-new-instant";

    // Returns whether the notification server accepted the notification.
    static bool notify(const std::string& title, const std::optional<std::string>& text = {},
                       const std::optional<std::string>& withSound = std::string(kDefaultSound),
                       const std::optional<std::string>& actionButtonTitle = {},
                       bool hasReplyButton = false);

    // Sends to the bus at this address instead of the user's session bus (empty: the session bus).
    static void useBusAddress(const std::string& address);
};

}  // namespace vigil
