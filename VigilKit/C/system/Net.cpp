#include "C/system/Net.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "C/net/Socket.h"
#include "C/system/System.h"
#include "C/system/Time.h"

namespace {

constexpr int kConnectWait = 2000;

// Polls for the events, repeating while interrupted with the time that is left.
bool pollFor(int fd, short events, int64_t timeout) {
    struct pollfd p {};
    p.fd = fd;
    p.events = events;
    int64_t deadline = Time_milli() + (timeout < 0 ? 0 : timeout);
    for (;;) {
        int64_t left = deadline - Time_milli();
        if (left < 0)
            left = 0;
        int r = poll(&p, 1, static_cast<int>(left > INT32_MAX ? INT32_MAX : left));
        if (r > 0)
            return true;
        if (r == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

struct addrinfo* resolve(const char* host, int port, int family) {
    char service[16];
    std::snprintf(service, sizeof service, "%d", port);
    struct addrinfo hints {};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    struct addrinfo* result = nullptr;
    int status = getaddrinfo(host, service, &hints, &result);
    if (status == EAI_NONAME || status == EAI_ADDRFAMILY || status == EAI_NODATA) {
        // A machine whose only addresses are loopback ones has no family "configured" in the
        // resolver's sense, yet loopback servers are reachable: ask again without the filter.
        hints.ai_flags = 0;
        status = getaddrinfo(host, service, &hints, &result);
    }
    return status == 0 ? result : nullptr;
}

// Sets up and connects one socket; returns the descriptor or -1 with errno set.
int connectOne(const struct addrinfo* a, int64_t wait, bool* setupFailed) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
        *setupFailed = true;
        return -1;
    }
    int on = 1;
    if (!Net_setNonBlocking(fd) ||
        (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 && errno != EOPNOTSUPP)) {
        int error = errno;
        Net_close(fd);
        errno = error;
        *setupFailed = true;
        return -1;
    }
    if (connect(fd, a->ai_addr, a->ai_addrlen) == 0)
        return fd;
    int error = errno;
    if (error == EINPROGRESS) {
        struct pollfd p {};
        p.fd = fd;
        p.events = POLLIN | POLLOUT;
        int64_t deadline = Time_milli() + wait;
        int r;
        do {
            int64_t left = deadline - Time_milli();
            r = poll(&p, 1, static_cast<int>(left < 0 ? 0 : left));
        } while (r < 0 && errno == EINTR);
        if (r == 0) {
            error = ETIMEDOUT;
        } else if (r < 0) {
            error = errno;
        } else {
            socklen_t len = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
                error = errno;
            if (error == 0)
                return fd;
        }
    }
    Net_close(fd);
    errno = error;
    return -1;
}

}  // namespace

int Net_connect(const char* host, int port, int perAddressTimeout, int64_t timeLimit) {
    VIGIL_ASSERT(host);
    int64_t start = Time_milli();
    struct addrinfo* list = resolve(host, port, AF_UNSPEC);
    if (!list) {
        errno = EHOSTUNREACH;
        return -2;
    }
    int error = 0;
    int fd = -1;
    for (struct addrinfo* a = list; a; a = a->ai_next) {
        int64_t wait = perAddressTimeout;
        if (timeLimit >= 0) {
            int64_t left = timeLimit - (Time_milli() - start);
            if (left <= 0) {
                error = ETIMEDOUT;
                break;
            }
            if (left < wait)
                wait = left;
        }
        bool setupFailed = false;
        fd = connectOne(a, wait, &setupFailed);
        if (fd >= 0)
            break;
        error = errno;
        if (setupFailed)
            break;
    }
    freeaddrinfo(list);
    if (fd < 0)
        errno = error;
    return fd;
}

int Net_createSocket(Socket_T S) {
    VIGIL_ASSERT(S);
    return Net_connect(Socket_getHost(S), Socket_getPort(S), kConnectWait, -1);
}

bool Net_close(int fd) {
    // Linux releases the descriptor even when close is interrupted: retrying could close a
    // descriptor another thread has just been given, so an interruption counts as closed.
    int r = close(fd);
    return r == 0 || errno == EINTR;
}

bool Net_setNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool Net_setBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool Net_canRead(int fd, int64_t timeout) {
    return pollFor(fd, POLLIN, timeout);
}

bool Net_canWrite(int fd, int64_t timeout) {
    return pollFor(fd, POLLOUT, timeout);
}

namespace {
long readOnce(int fd, void* buf, long len) {
    long n;
    do
        n = read(fd, buf, static_cast<size_t>(len));
    while (n < 0 && errno == EINTR);
    return n;
}

long writeOnce(int fd, const void* buf, long len) {
    long n;
    // send with MSG_NOSIGNAL: a peer that went away must give EPIPE, not end the process.
    do
        n = send(fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n < 0 && errno == ENOTSOCK) {
        do
            n = write(fd, buf, static_cast<size_t>(len));
        while (n < 0 && errno == EINTR);
    }
    return n;
}
}  // namespace

namespace {
// One transfer: tries at once; on "would block" waits for the descriptor to be ready (unless the
// time-out is 0) and tries once more. 0 means nothing moved in time.
template <typename Once>
long transfer(int fd, long len, int64_t timeout, short events, Once once) {
    if (len == 0)
        return 0;
    long n = once();
    if (n != -1)
        return n;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
        return -1;
    if (timeout == 0 || !pollFor(fd, events, timeout))
        return 0;
    return once();
}
}  // namespace

long Net_read(int fd, void* buf, long len, int64_t timeout) {
    return transfer(fd, len, timeout, POLLIN, [&] { return readOnce(fd, buf, len); });
}

long Net_write(int fd, const void* buf, long len, int64_t timeout) {
    return transfer(fd, len, timeout, POLLOUT, [&] { return writeOnce(fd, buf, len); });
}

bool Net_shutdown(int fd, int how) {
    return shutdown(fd, how) == 0;
}

bool Net_abort(int fd) {
    struct linger reset {};
    reset.l_onoff = 1;
    reset.l_linger = 0;
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    return Net_close(fd);
}

int Net_getAddrInfo(const struct sockaddr* addr, socklen_t addrlen, char* host, int hostlen) {
    VIGIL_ASSERT(addr);
    VIGIL_ASSERT(host);
    return getnameinfo(addr, addrlen, host, static_cast<socklen_t>(hostlen), nullptr, 0,
                       NI_NUMERICHOST);
}

char* Net_mac2str(char* dst, const unsigned char* mac) {
    VIGIL_ASSERT(dst);
    *dst = 0;
    if (!mac)
        return dst;
    bool allZero = true;
    for (int i = 0; i < 6; i++)
        if (mac[i])
            allZero = false;
    if (!allZero)
        std::snprintf(dst, 18, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                      mac[4], mac[5]);
    return dst;
}

bool Net_resolve(const char* name) {
    if (!name || !*name)
        return false;
    struct addrinfo* list = resolve(name, 80, AF_INET);
    if (!list)
        return false;
    freeaddrinfo(list);
    return true;
}
