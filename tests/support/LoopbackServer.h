#pragma once

// Loopback servers on threads for the socket, stream and lookup tests, and a way to run code with a
// private /etc/hosts.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace vigil::test {

// A listening TCP socket on a loopback address ("127.0.0.1" or "::1") that hands each accepted
// connection to the handler on its own thread, one connection at a time. The handler should return
// when stopping() becomes true. Destruction stops and joins.
class LoopbackServer {
  public:
    using Handler = std::function<void(int fd, const std::function<bool()>& stopping)>;

    LoopbackServer(const std::string& address, Handler handler, int port = 0, int backlog = 16)
        : handler_(std::move(handler)) {
        v6_ = address.find(':') != std::string::npos;
        fd_ = socket(v6_ ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_storage storage{};
        socklen_t len;
        if (v6_) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
            a->sin6_family = AF_INET6;
            a->sin6_port = htons(static_cast<uint16_t>(port));
            inet_pton(AF_INET6, address.c_str(), &a->sin6_addr);
            len = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in*>(&storage);
            a->sin_family = AF_INET;
            a->sin_port = htons(static_cast<uint16_t>(port));
            inet_pton(AF_INET, address.c_str(), &a->sin_addr);
            len = sizeof *a;
        }
        if (bind(fd_, reinterpret_cast<sockaddr*>(&storage), len) != 0 || listen(fd_, backlog) != 0)
            throw std::runtime_error("cannot listen on " + address + ": " + std::strerror(errno));
        getsockname(fd_, reinterpret_cast<sockaddr*>(&storage), &len);
        port_ = ntohs(v6_ ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                          : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
        if (handler_)
            thread_ = std::thread([this] { run(); });
    }

    ~LoopbackServer() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        close(fd_);
    }

    int port() const { return port_; }
    int descriptor() const { return fd_; }
    int connections() const { return connections_; }
    bool stopping() const { return stop_; }

  private:
    void run() {
        auto stopping = [this] { return stop_.load(); };
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            connections_++;
            handler_(c, stopping);
            close(c);
        }
    }

    Handler handler_;
    int fd_ = -1;
    int port_ = 0;
    bool v6_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// Reads what the client sends until the blank line that ends an HTTP request (or 100 ms of
// silence).
inline std::string readRequest(int fd) {
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0)
            break;
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        request.append(buffer, static_cast<size_t>(n));
    }
    return request;
}

inline bool sendAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK)
            n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
            continue;
        }
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Waits until stopping() is true, in small steps.
inline void idle(const std::function<bool()>& stopping) {
    while (!stopping())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Runs fn on a thread of its own whose mount namespace sees hosts as /etc/hosts. Returns false
// (with the reason) when the namespace cannot be made (needs root).
inline bool withHostsFile(const std::string& hosts, const std::function<void()>& fn,
                          std::string* reason) {
    bool ran = false;
    std::thread t([&] {
        if (unshare(CLONE_NEWNS) != 0) {
            *reason = std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
            return;
        }
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            *reason = std::string("private mounts: ") + std::strerror(errno);
            return;
        }
        char path[] = "/tmp/vigil-hosts-XXXXXX";
        int fd = mkstemp(path);
        if (fd < 0 || write(fd, hosts.data(), hosts.size()) != static_cast<ssize_t>(hosts.size())) {
            *reason = "cannot write a hosts file";
            return;
        }
        close(fd);
        if (mount(path, "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
            *reason = std::string("bind mount of /etc/hosts: ") + std::strerror(errno);
            unlink(path);
            return;
        }
        fn();
        ran = true;
        umount2("/etc/hosts", MNT_DETACH);
        unlink(path);
    });
    t.join();
    return ran;
}

}  // namespace vigil::test
