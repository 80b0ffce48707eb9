#pragma once

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vigil::test {

// A private dbus-daemon for one test; stopped when the object goes. A system-like bus lets any
// user connect and own any name (as desktop users reach udisksd), on a socket in a folder of its
// own that every user may enter.
class PrivateBus {
  public:
    enum class Kind { session, system };
    explicit PrivateBus(Kind kind = Kind::session);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool started() const { return !address_.empty(); }
    const std::string& address() const { return address_; }

  private:
    std::string configFile(Kind kind);

    std::string folder_;
    pid_t pid_ = -1;
    std::string address_;
};

// A notification server on a bus: owns org.freedesktop.Notifications, records every Notify
// (answering with ids 1, 2, 3, ..., or the replaced one's), and sends the signals a person's
// click or dismissal makes a real server send.
class NotificationServer {
  public:
    struct Received {
        std::string appName, summary, body;
        std::vector<std::string> actions;
        std::string soundName;
        bool suppressSound = false;
        uint32_t replacesId = 0;
        uint32_t id = 0;  // the answer
        int urgency = -1;
    };

    explicit NotificationServer(const std::string& busAddress);
    ~NotificationServer();

    bool ready() const { return ready_; }
    std::vector<Received> received() const;

    // Emitted from the server's thread soon after the call.
    void invokeAction(uint32_t id, const std::string& action);
    void close(uint32_t id, uint32_t reason);
    // While held, Notify calls are recorded but answered only once released (a busy server).
    void holdAnswers(bool hold);

  private:
    void run(std::string address);

    std::atomic<bool> ready_{false}, stop_{false}, failed_{false};
    mutable std::mutex mutex_;
    std::vector<Received> received_;
    uint32_t lastId_ = 0;
    struct Signal {
        std::string member;
        uint32_t id = 0;
        std::string action;
        uint32_t reason = 0;
    };
    std::vector<Signal> signals_;
    bool holdAnswers_ = false;
    std::vector<std::pair<void*, uint32_t>> heldAnswers_;  // sd_bus_message*, id
    std::thread thread_;
    friend int onNotify(void*, void*, void*);
};

}  // namespace vigil::test
