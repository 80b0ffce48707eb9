#include "support/SessionBus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace vigil::test {

std::string PrivateBus::configFile(Kind kind) {
    if (kind == Kind::session)
        return "/usr/share/dbus-1/session.conf";
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/vigil-system-bus-XXXXXX";
    if (!mkdtemp(pattern))
        return {};
    folder_ = pattern;
    fs::permissions(folder_, fs::perms::all, fs::perm_options::add);
    const std::string config = folder_ + "/system.conf";
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>system</type>\n"
        << "<listen>unix:path=" << folder_ << "/system_bus_socket</listen>\n"
        << "<auth>EXTERNAL</auth>\n"
           "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
           "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy>\n"
           "</busconfig>\n";
    return config;
}

PrivateBus::PrivateBus(Kind kind) {
    const std::string config = "--config-file=" + configFile(kind);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[1], 3);
        execlp("dbus-daemon", "dbus-daemon", config.c_str(), "--nofork", "--nopidfile",
               "--print-address=3", nullptr);
        _exit(127);
    }
    close(pipeFds[1]);
    if (pid_ < 0) {
        close(pipeFds[0]);
        return;
    }
    // The daemon prints its address once it listens.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{pipeFds[0], POLLIN, 0};
        if (poll(&fd, 1, 100) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    if (auto end = line.find('\n'); end != std::string::npos)
        address_ = line.substr(0, end);
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

int onNotify(void* messagePtr, void* userdata, void*) {
    auto* message = static_cast<sd_bus_message*>(messagePtr);
    auto* server = static_cast<NotificationServer*>(userdata);
    NotificationServer::Received received;
    const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    uint32_t replaces = 0;
    if (sd_bus_message_read(message, "susss", &app, &replaces, &icon, &summary, &body) < 0)
        return -EINVAL;
    received.appName = app;
    received.replacesId = replaces;
    received.summary = summary;
    received.body = body;
    sd_bus_message_enter_container(message, 'a', "s");
    const char* action = nullptr;
    while (sd_bus_message_read(message, "s", &action) > 0)
        received.actions.push_back(action);
    sd_bus_message_exit_container(message);
    sd_bus_message_enter_container(message, 'a', "{sv}");
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* key = nullptr;
        sd_bus_message_read(message, "s", &key);
        if (std::strcmp(key, "sound-name") == 0) {
            const char* sound = nullptr;
            sd_bus_message_read(message, "v", "s", &sound);
            received.soundName = sound;
        } else if (std::strcmp(key, "urgency") == 0) {
            uint8_t urgency = 0;
            sd_bus_message_read(message, "v", "y", &urgency);
            received.urgency = urgency;
        } else if (std::strcmp(key, "suppress-sound") == 0) {
            int flag = 0;
            sd_bus_message_read(message, "v", "b", &flag);
            received.suppressSound = flag != 0;
        } else {
            sd_bus_message_skip(message, "v");
        }
        sd_bus_message_exit_container(message);
    }
    sd_bus_message_exit_container(message);
    {
        std::lock_guard lock(server->mutex_);
        received.id = replaces != 0 ? replaces : ++server->lastId_;
        server->received_.push_back(received);
        if (server->holdAnswers_) {
            server->heldAnswers_.emplace_back(sd_bus_message_ref(message), received.id);
            return 1;  // answered later, from the server's loop
        }
    }
    return sd_bus_reply_method_return(message, "u", received.id);
}

namespace {
int notifyThunk(sd_bus_message* message, void* userdata, sd_bus_error* error) {
    return onNotify(message, userdata, error);
}
const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", notifyThunk, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};
}  // namespace

NotificationServer::NotificationServer(const std::string& busAddress) {
    thread_ = std::thread([this, busAddress] { run(busAddress); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ready_ && !failed_ && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the server thread starting
    }
}

NotificationServer::~NotificationServer() {
    stop_ = true;
    thread_.join();
}

void NotificationServer::invokeAction(uint32_t id, const std::string& action) {
    std::lock_guard lock(mutex_);
    signals_.push_back({"ActionInvoked", id, action, 0});
}

void NotificationServer::holdAnswers(bool hold) {
    std::lock_guard lock(mutex_);
    holdAnswers_ = hold;
}

void NotificationServer::close(uint32_t id, uint32_t reason) {
    std::lock_guard lock(mutex_);
    signals_.push_back({"NotificationClosed", id, "", reason});
}

std::vector<NotificationServer::Received> NotificationServer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void NotificationServer::run(std::string address) {
    sd_bus* bus = nullptr;
    sd_bus_slot* slot = nullptr;
    bool ok = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address.c_str()) >= 0 &&
              sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
              sd_bus_add_object_vtable(bus, &slot, "/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications", kVtable, this) >= 0 &&
              sd_bus_request_name(bus, "org.freedesktop.Notifications", 0) >= 0;
    if (!ok) {
        failed_ = true;
        if (bus)
            sd_bus_flush_close_unref(bus);
        return;
    }
    ready_ = true;
    while (!stop_) {
        std::vector<Signal> signals;
        std::vector<std::pair<void*, uint32_t>> answers;
        {
            std::lock_guard lock(mutex_);
            signals.swap(signals_);
            if (!holdAnswers_)
                answers.swap(heldAnswers_);
        }
        for (auto [call, id] : answers) {
            sd_bus_reply_method_return(static_cast<sd_bus_message*>(call), "u", id);
            sd_bus_message_unref(static_cast<sd_bus_message*>(call));
        }
        for (const auto& signal : signals) {
            if (signal.member == "ActionInvoked") {
                sd_bus_emit_signal(bus, "/org/freedesktop/Notifications",
                                   "org.freedesktop.Notifications", "ActionInvoked", "us",
                                   signal.id, signal.action.c_str());
            } else {
                sd_bus_emit_signal(bus, "/org/freedesktop/Notifications",
                                   "org.freedesktop.Notifications", "NotificationClosed", "uu",
                                   signal.id, signal.reason);
            }
        }
        const int r = sd_bus_process(bus, nullptr);
        if (r > 0)
            continue;
        if (r < 0)
            break;
        sd_bus_wait(bus, 50'000);
    }
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(bus);
}

}  // namespace vigil::test
