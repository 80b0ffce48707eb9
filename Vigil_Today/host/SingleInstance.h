#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>
#include <string>

#include "platform/OwnedFd.h"

namespace vigil {

class Bus;

// One panel per user session. The running panel holds a lock file in the user's runtime folder
// ($XDG_RUNTIME_DIR, else a private folder under /tmp) and listens on a datagram socket next to
// it; where a session bus runs it also owns org.vigil.Vigil there, with the methods Show, Toggle
// and Quit on /org/vigil/Vigil. A later start hands its request to the running one over the bus,
// or over the socket where there is no bus. Main thread only.
class SingleInstance : public QObject {
  public:
    enum class Request { show, toggle, quit };
    static constexpr const char* kBusName = "org.vigil.Vigil";
    static constexpr const char* kObjectPath = "/org/vigil/Vigil";
    static constexpr const char* kInterface = "org.vigil.Vigil";

    struct Claim {
        // Set when this process is now the session's panel.
        std::unique_ptr<SingleInstance> instance;
        // Set when another panel runs already.
        bool anotherRuns = false;
        // What went wrong when neither is set.
        std::string error;
    };
    // Becomes the session's panel, unless one runs already.
    static Claim claim();
    // Hands the request to the running panel; false (with `error`) when none runs or it cannot
    // be reached.
    static bool deliver(Request request, std::string* error);

    ~SingleInstance() override;

    // Begins answering requests on the event loop (the application must exist by now); requests
    // that came before wait until then.
    void startListening();

    // Heard for every request that reaches this panel.
    std::function<void(Request)> onRequest;

  private:
    SingleInstance(platform::OwnedFd lock, platform::OwnedFd socket);
    // Owns the name on the session bus; false when no bus runs or the name is taken there.
    bool serveOnBus(bool* nameTaken);
    void readSocket();
    void processBus();
    void heard(Request request);

    platform::OwnedFd lock_;
    platform::OwnedFd socket_;
    std::unique_ptr<Bus> bus_;
    std::unique_ptr<QSocketNotifier> socketNotifier_;
    std::unique_ptr<QSocketNotifier> busNotifier_;
};

}  // namespace vigil
