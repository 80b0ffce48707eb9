#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/Notification.h"

namespace vigil {

// Posts notifications and hears what becomes of them (org.freedesktop.Notifications'
// ActionInvoked and NotificationClosed), over one connection kept by a thread of its own: a
// caller never waits for the bus, and the server's answers come to the connection that posted.
// The thread starts with the first post and sleeps in poll() between messages. No bus or no
// server costs one error line a minute (Notification's causes); the connection is opened again
// at the next post after it broke.
class NotificationCenter {
  public:
    // On the center's thread: the server's id of a posted notification, or nothing when it was
    // not taken.
    using Posted = std::function<void(std::optional<std::uint32_t> id)>;
    struct Handlers {
        // On the center's thread, with the notification's id and the action's key.
        std::function<void(std::uint32_t id, const std::string& action)> actionInvoked;
        // reason: 1 expired, 2 dismissed by the user, 3 closed by a call, 4 undefined.
        std::function<void(std::uint32_t id, std::uint32_t reason)> closed;
    };

    // `busAddress` empty: Notification::busAddress() at each connection (the session bus when
    // that is empty too).
    explicit NotificationCenter(Handlers handlers, std::string busAddress = {});
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Asked on the center's thread just before the message goes out: the id of the notification
    // it replaces (0: none). Answers to earlier posts have been handed to their `posted` by then.
    using Replaces = std::function<std::uint32_t()>;

    // Queues the message; `posted` is told how it went. Never blocks.
    void post(Notification::Message message, Posted posted = nullptr, Replaces replaces = nullptr);
    // Ends the thread after what is queued (also done by the destructor).
    void stop();

  private:
    struct Pending {
        Notification::Message message;
        Posted posted;
        Replaces replaces;
    };
    struct Connection;

    void run();
    void wake();

    Handlers handlers_;
    std::string busAddress_;
    std::mutex mutex_;
    std::deque<Pending> queue_;
    bool stopping_ = false;
    int wakeFd_ = -1;
    std::thread thread_;
};

}  // namespace vigil
