#include "host/SingleInstance.h"

#include <QMetaObject>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "C/system/ErrorReport.h"
#include "platform/Bus.h"

namespace vigil {

namespace {

// How long a later start keeps trying to reach a panel that holds the lock but is still starting
// (a slow machine, a sanitizer build).
constexpr auto kReachDeadline = std::chrono::seconds(20);
constexpr auto kBusCallTimeout = std::chrono::seconds(20);

const char* memberOf(SingleInstance::Request request) {
    switch (request) {
        case SingleInstance::Request::show:
            return "Show";
        case SingleInstance::Request::toggle:
            return "Toggle";
        case SingleInstance::Request::quit:
            return "Quit";
    }
    return "Show";
}

std::optional<SingleInstance::Request> requestNamed(std::string_view member) {
    for (auto request : {SingleInstance::Request::show, SingleInstance::Request::toggle,
                         SingleInstance::Request::quit}) {
        if (member == memberOf(request))
            return request;
    }
    return std::nullopt;
}

std::string errnoText() {
    return std::strerror(errno);
}

// $XDG_RUNTIME_DIR, else a folder of this user's own under /tmp that no one else can write to.
std::optional<std::string> runtimeFolder(std::string* error) {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime);
    const std::string folder = "/tmp/vigil-" + std::to_string(getuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot make " + folder + ": " + errnoText();
        return std::nullopt;
    }
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid() ||
        (info.st_mode & 077) != 0) {
        *error = folder + " is not a private folder of this user";
        return std::nullopt;
    }
    return folder;
}

std::string lockPath(const std::string& folder) {
    return folder + "/vigil.lock";
}

std::optional<sockaddr_un> socketAddress(const std::string& folder, std::string* error) {
    const std::string path = folder + "/vigil.socket";
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        *error = "the socket path " + path + " is too long";
        return std::nullopt;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

platform::OwnedFd listenOn(const sockaddr_un& address, std::string* error) {
    platform::OwnedFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.valid()) {
        *error = "cannot make a socket: " + errnoText();
        return {};
    }
    // The caller holds the lock: a socket file left here belongs to a panel that is gone.
    unlink(address.sun_path);
    if (bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = std::string("cannot listen on ") + address.sun_path + ": " + errnoText();
        return {};
    }
    return socket;
}

// True when some process holds the lock file.
bool lockIsHeld(const std::string& folder) {
    platform::OwnedFd lock(open(lockPath(folder).c_str(), O_RDONLY | O_CLOEXEC));
    if (!lock.valid())
        return false;
    if (flock(lock.get(), LOCK_SH | LOCK_NB) == 0)
        return false;  // the lock goes again when the descriptor closes
    return errno == EWOULDBLOCK;
}

bool sendOverSocket(SingleInstance::Request request, const std::string& folder,
                    std::string* error) {
    const auto address = socketAddress(folder, error);
    if (!address)
        return false;
    platform::OwnedFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        *error = "cannot make a socket: " + errnoText();
        return false;
    }
    const std::string_view message = memberOf(request);
    const auto deadline = std::chrono::steady_clock::now() + kReachDeadline;
    for (;;) {
        if (sendto(socket.get(), message.data(), message.size(), 0,
                   reinterpret_cast<const sockaddr*>(&*address), sizeof *address) >= 0) {
            return true;
        }
        // The panel that holds the lock has not bound its socket yet: try again shortly.
        const bool starting = errno == ENOENT || errno == ECONNREFUSED;
        if (!starting || std::chrono::steady_clock::now() > deadline || !lockIsHeld(folder)) {
            *error = std::string("cannot reach the running panel at ") + address->sun_path + ": " +
                     errnoText();
            return false;
        }
        poll(nullptr, 0, 50);
    }
}

}  // namespace

SingleInstance::Claim SingleInstance::claim() {
    Claim result;
    const auto folder = runtimeFolder(&result.error);
    if (!folder)
        return result;
    const std::string path = lockPath(*folder);
    platform::OwnedFd lock(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock.valid()) {
        result.error = "cannot open " + path + ": " + errnoText();
        return result;
    }
    if (flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            result.anotherRuns = true;
        } else {
            result.error = "cannot lock " + path + ": " + errnoText();
        }
        return result;
    }
    const auto address = socketAddress(*folder, &result.error);
    if (!address)
        return result;
    platform::OwnedFd socket = listenOn(*address, &result.error);
    if (!socket.valid())
        return result;
    std::unique_ptr<SingleInstance> instance(
        new SingleInstance(std::move(lock), std::move(socket)));
    bool nameTaken = false;
    if (!instance->serveOnBus(&nameTaken) && nameTaken) {
        // A panel started with another runtime folder owns the name on this bus.
        result.anotherRuns = true;
        return result;
    }
    result.instance = std::move(instance);
    return result;
}

bool SingleInstance::deliver(Request request, std::string* error) {
    std::string ignored;
    if (auto bus = Bus::session(&ignored);
        bus && bus->nameHasOwner(kBusName, kBusCallTimeout, &ignored)) {
        return bus
            ->call(Bus::Target{kBusName, kObjectPath, kInterface}, memberOf(request), nullptr,
                   kBusCallTimeout, error)
            .has_value();
    }
    const auto folder = runtimeFolder(error);
    if (!folder)
        return false;
    if (!lockIsHeld(*folder)) {
        *error = "no Vigil panel runs in this session";
        return false;
    }
    return sendOverSocket(request, *folder, error);
}

SingleInstance::SingleInstance(platform::OwnedFd lock, platform::OwnedFd socket)
    : lock_(std::move(lock)), socket_(std::move(socket)) {}

SingleInstance::~SingleInstance() {
    busNotifier_.reset();
    socketNotifier_.reset();
    bus_.reset();
}

bool SingleInstance::serveOnBus(bool* nameTaken) {
    std::string ignored;
    std::unique_ptr<Bus> bus = Bus::session(&ignored);
    if (!bus)
        return false;  // no session bus: the socket alone serves
    if (bus->nameHasOwner(kBusName, kBusCallTimeout, &ignored)) {
        *nameTaken = true;
        return false;
    }
    Bus::Interface interface {
        kInterface, {}, {}
    };
    for (auto request : {Request::show, Request::toggle, Request::quit})
        interface.methods[memberOf(request)] = [this, request](const std::string&) {
            heard(request);
        };
    std::string error;
    if (!bus->serve(kObjectPath, std::move(interface), &error) ||
        !bus->requestName(kBusName, &error)) {
        ErrorReport::shared().note(error + "; a later start finds this panel through its socket");
        return false;
    }
    bus_ = std::move(bus);
    return true;
}

void SingleInstance::startListening() {
    socketNotifier_ = std::make_unique<QSocketNotifier>(socket_.get(), QSocketNotifier::Read);
    QObject::connect(socketNotifier_.get(), &QSocketNotifier::activated, this,
                     [this] { readSocket(); });
    if (bus_) {
        busNotifier_ =
            std::make_unique<QSocketNotifier>(sd_bus_get_fd(bus_->handle()), QSocketNotifier::Read);
        QObject::connect(busNotifier_.get(), &QSocketNotifier::activated, this,
                         [this] { processBus(); });
    }
    // Requests may have come while the program started.
    QMetaObject::invokeMethod(
        this,
        [this] {
            readSocket();
            processBus();
        },
        Qt::QueuedConnection);
}

void SingleInstance::readSocket() {
    char message[16];
    for (;;) {
        const ssize_t length = recv(socket_.get(), message, sizeof message, 0);
        if (length < 0)
            return;  // EAGAIN: nothing more now
        if (auto request = requestNamed(std::string_view(message, static_cast<size_t>(length))))
            heard(*request);
    }
}

void SingleInstance::processBus() {
    if (!bus_)
        return;
    if (!bus_->process(std::chrono::milliseconds(0))) {
        ErrorReport::shared().note(
            "the session bus connection broke; a later start finds this panel through its "
            "socket");
        busNotifier_.reset();
        bus_.reset();
        return;
    }
    // The answers are small: send them now rather than wait for the socket to be writable.
    sd_bus_flush(bus_->handle());
}

void SingleInstance::heard(Request request) {
    // Act outside the bus's dispatch: a request may quit the program or rebuild the panel.
    QMetaObject::invokeMethod(
        this,
        [this, request] {
            if (onRequest)
                onRequest(request);
        },
        Qt::QueuedConnection);
}

}  // namespace vigil
