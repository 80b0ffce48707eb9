#include "platform/NotificationCenter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <memory>

#include "platform/Bus.h"

namespace vigil {

namespace {

constexpr std::chrono::milliseconds kCallTimeout{3000};
constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

int onActionInvoked(sd_bus_message* message, void* userdata, sd_bus_error*) {
    const auto* handlers = static_cast<const NotificationCenter::Handlers*>(userdata);
    uint32_t id = 0;
    const char* action = nullptr;
    if (sd_bus_message_read(message, "us", &id, &action) >= 0 && handlers->actionInvoked)
        handlers->actionInvoked(id, action ? action : "");
    return 0;
}

int onClosed(sd_bus_message* message, void* userdata, sd_bus_error*) {
    const auto* handlers = static_cast<const NotificationCenter::Handlers*>(userdata);
    uint32_t id = 0, reason = 0;
    if (sd_bus_message_read(message, "uu", &id, &reason) >= 0 && handlers->closed)
        handlers->closed(id, reason);
    return 0;
}

// Milliseconds from now until an sd-bus deadline (CLOCK_MONOTONIC microseconds); -1 for none.
int millisecondsUntil(uint64_t deadlineUsec) {
    if (deadlineUsec == UINT64_MAX)
        return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nowUsec = uint64_t(now.tv_sec) * 1'000'000 + uint64_t(now.tv_nsec) / 1000;
    if (deadlineUsec <= nowUsec)
        return 0;
    const uint64_t ms = (deadlineUsec - nowUsec + 999) / 1000;
    return ms > uint64_t(INT_MAX) ? INT_MAX : int(ms);
}

}  // namespace

// The connection with its two signal matches.
struct NotificationCenter::Connection {
    std::unique_ptr<Bus> bus;
    sd_bus_slot* action = nullptr;
    sd_bus_slot* closed = nullptr;

    ~Connection() {
        sd_bus_slot_unref(action);
        sd_bus_slot_unref(closed);
    }

    static std::unique_ptr<Connection> open(const std::string& address, Handlers* handlers) {
        std::string error;
        auto bus = address.empty() ? Bus::session(&error) : Bus::open(address, &error);
        if (!bus) {
            Notification::reportBusError(error);
            return nullptr;
        }
        auto connection = std::make_unique<Connection>();
        connection->bus = std::move(bus);
        sd_bus* handle = connection->bus->handle();
        int r = sd_bus_match_signal(handle, &connection->action, nullptr, kPath, kService,
                                    "ActionInvoked", onActionInvoked, handlers);
        if (r >= 0) {
            r = sd_bus_match_signal(handle, &connection->closed, nullptr, kPath, kService,
                                    "NotificationClosed", onClosed, handlers);
        }
        if (r < 0) {
            Notification::reportBusError("cannot listen to the notification server: " +
                                         busErrorText(r));
            return nullptr;
        }
        return connection;
    }

    std::optional<uint32_t> send(const Notification::Message& message) {
        std::string error;
        const auto reply = bus->call(
            {kService, kPath, kService}, "Notify",
            [&](sd_bus_message* call) {
                return Notification::appendNotifyArguments(call, message);
            },
            kCallTimeout, &error);
        if (!reply) {
            Notification::reportNotifyError(error);
            return std::nullopt;
        }
        Notification::forgetReportedErrors();
        uint32_t id = 0;
        if (sd_bus_message_read(reply->message(), "u", &id) < 0)
            return 0u;
        return id;
    }

    bool isOpen() const { return sd_bus_is_open(bus->handle()) > 0; }

    // Hands every message that came to the signal handlers; false when the connection broke.
    bool dispatch() {
        int r;
        while ((r = sd_bus_process(bus->handle(), nullptr)) > 0) {
        }
        return r >= 0;
    }
};

NotificationCenter::NotificationCenter(Handlers handlers, std::string busAddress)
    : handlers_(std::move(handlers)), busAddress_(std::move(busAddress)) {}

NotificationCenter::~NotificationCenter() {
    stop();
}

void NotificationCenter::post(Notification::Message message, Posted posted, Replaces replaces) {
    std::lock_guard lock(mutex_);
    if (stopping_)
        return;
    queue_.push_back({std::move(message), std::move(posted), std::move(replaces)});
    if (!thread_.joinable()) {
        wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        thread_ = std::thread([this] { run(); });
    }
    wake();
}

void NotificationCenter::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (thread_.joinable())
            wake();
    }
    if (thread_.joinable())
        thread_.join();
    if (wakeFd_ >= 0) {
        close(wakeFd_);
        wakeFd_ = -1;
    }
}

void NotificationCenter::wake() {
    if (wakeFd_ < 0)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

void NotificationCenter::run() {
    std::unique_ptr<Connection> connection;
    for (;;) {
        std::deque<Pending> work;
        {
            std::lock_guard lock(mutex_);
            if (stopping_ && queue_.empty())
                break;
            work.swap(queue_);
        }
        for (auto& pending : work) {
            if (!connection) {
                const std::string address =
                    busAddress_.empty() ? Notification::busAddress() : busAddress_;
                connection = Connection::open(address, &handlers_);
            }
            std::optional<uint32_t> id;
            if (pending.replaces)
                pending.message.replacesId = pending.replaces();
            if (connection) {
                id = connection->send(pending.message);
                if (!connection->isOpen())
                    connection.reset();
            }
            if (pending.posted)
                pending.posted(id);
        }
        if (connection && !connection->dispatch())
            connection.reset();
        {
            // A post or stop() that came while this round ran may have had its wake-up read
            // already by the poll before it: look again instead of waiting for another.
            std::lock_guard lock(mutex_);
            if (stopping_ || !queue_.empty())
                continue;
        }

        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
        int timeout = -1;
        if (connection) {
            sd_bus* bus = connection->bus->handle();
            const int events = sd_bus_get_events(bus);
            fds[1] = {sd_bus_get_fd(bus), short(events > 0 ? events : POLLIN), 0};
            uint64_t deadline = UINT64_MAX;
            if (sd_bus_get_timeout(bus, &deadline) >= 0)
                timeout = millisecondsUntil(deadline);
        }
        if (poll(fds, connection ? 2 : 1, timeout) > 0 && (fds[0].revents & POLLIN)) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = read(wakeFd_, &count, sizeof count);
        }
    }
}

}  // namespace vigil
