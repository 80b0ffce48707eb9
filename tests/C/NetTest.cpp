// Connecting, resolving and the address texts, on loopback.

#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "C/net/Socket.h"
#include "C/system/Net.h"
#include "support/LoopbackServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using vigil::test::LoopbackServer;

TEST(Net, Mac2Str) {
    char text[18] = "garbage";
    const unsigned char mac[6] = {0x3c, 0x22, 0xfb, 0x0a, 0x01, 0xff};
    EXPECT_STREQ(Net_mac2str(text, mac), "3c:22:fb:0a:01:ff");
    // A leading zero byte is an ordinary address (00:... prefixes are assigned to vendors).
    const unsigned char leadingZero[6] = {0x00, 0x1b, 0x21, 0x3a, 0x4b, 0x5c};
    EXPECT_STREQ(Net_mac2str(text, leadingZero), "00:1b:21:3a:4b:5c");
    const unsigned char zero[6] = {};
    EXPECT_STREQ(Net_mac2str(text, zero), "");
    std::strcpy(text, "x");
    EXPECT_STREQ(Net_mac2str(text, nullptr), "");
}

TEST(Net, ResolveAndNumericNames) {
    EXPECT_TRUE(Net_resolve("127.0.0.1"));
    EXPECT_TRUE(Net_resolve("localhost"));
    EXPECT_FALSE(Net_resolve("::1"));  // IPv4 only
    EXPECT_FALSE(Net_resolve(""));
    EXPECT_FALSE(Net_resolve(nullptr));
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    char host[64];
    EXPECT_EQ(Net_getAddrInfo(reinterpret_cast<sockaddr*>(&a), sizeof a, host, sizeof host), 0);
    EXPECT_STREQ(host, "::1");
}

TEST(Net, ConnectsOverIPv4AndIPv6) {
    for (const char* address : {"127.0.0.1", "::1"}) {
        LoopbackServer server(address, [](int fd, const std::function<bool()>&) {
            vigil::test::sendAll(fd, "hello\n");
        });
        Socket_T S = Socket_new(address, server.port());
        ASSERT_NE(S, nullptr) << address;
        EXPECT_STREQ(Socket_getHost(S), address);
        EXPECT_EQ(Socket_getPort(S), server.port());
        EXPECT_TRUE(Socket_canWrite(S, 1000));
        char line[16];
        EXPECT_STREQ(InputStream_readLine(Socket_getInputStream(S), line, sizeof line), "hello\n");
        EXPECT_EQ(Socket_getInputStream(S), Socket_getInputStream(S));
        EXPECT_FALSE(Socket_isClosed(S));
        Socket_free(&S);
    }
}

TEST(Net, RefusedAndUnresolved) {
    int port;
    {
        LoopbackServer gone("127.0.0.1", nullptr);
        port = gone.port();
    }
    auto start = Clock::now();
    errno = 0;
    EXPECT_EQ(Net_connect("127.0.0.1", port, 2000, -1), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(Socket_new("127.0.0.1", port), nullptr);
    // A name the resolver cannot take (no lookup leaves the machine).
    errno = 0;
    EXPECT_EQ(Net_connect("bad name with blanks", 80, 2000, -1), -2);
    EXPECT_EQ(errno, EHOSTUNREACH);
}

// A listener with a full accept queue leaves later connects waiting, neither done nor refused.
struct Blackhole {
    LoopbackServer listener;
    std::vector<int> filling;
    explicit Blackhole(const std::string& address, int port = 0)
        : listener(address, nullptr, port, 0) {
        for (int i = 0; i < 4; i++) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(listener.port()));
            inet_pton(AF_INET, address.c_str(), &a.sin_addr);
            connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            filling.push_back(fd);
        }
    }
    ~Blackhole() {
        for (int fd : filling)
            close(fd);
    }
};

TEST(Net, ConnectWaitRunsOutWithTimedOut) {
    Blackhole hole("127.0.0.1");
    auto start = Clock::now();
    errno = 0;
    EXPECT_EQ(Net_connect("127.0.0.1", hole.listener.port(), 2000, -1), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::milliseconds(4000));
    // A time limit for all addresses shortens the wait.
    start = Clock::now();
    EXPECT_EQ(Net_connect("127.0.0.1", hole.listener.port(), 2000, 300), -1);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
}

TEST(Net, NextAddressAfterRefusalOrTimeOut) {
    // "several" resolves to 127.0.0.2 and 127.0.0.1; the test server listens on the one the
    // resolver hands out last, so the first one either refuses or never answers.
    std::string reason;
    bool refusedThenConnected = false, waitedThenConnected = false;
    std::chrono::milliseconds waited{0};
    bool ran = vigil::test::withHostsFile(
        "127.0.0.2 several\n127.0.0.1 several\n",
        [&] {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* list = nullptr;
            if (getaddrinfo("several", "80", &hints, &list) != 0 || !list || !list->ai_next)
                return;
            char first[64], last[64];
            getnameinfo(list->ai_addr, list->ai_addrlen, first, sizeof first, nullptr, 0,
                        NI_NUMERICHOST);
            getnameinfo(list->ai_next->ai_addr, list->ai_next->ai_addrlen, last, sizeof last,
                        nullptr, 0, NI_NUMERICHOST);
            freeaddrinfo(list);
            LoopbackServer server(last, [](int, const std::function<bool()>&) {});
            int fd = Net_connect("several", server.port(), 2000, -1);
            refusedThenConnected = fd >= 0;
            if (fd >= 0)
                Net_close(fd);
            Blackhole hole(first, server.port());
            auto start = Clock::now();
            fd = Net_connect("several", server.port(), 2000, -1);
            waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            waitedThenConnected = fd >= 0;
            if (fd >= 0)
                Net_close(fd);
        },
        &reason);
    if (!ran)
        GTEST_SKIP() << "needs a private /etc/hosts (root): " << reason;
    EXPECT_TRUE(refusedThenConnected);
    EXPECT_TRUE(waitedThenConnected);
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
}

TEST(Net, ReadAndWriteTransfers) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    char b[8];
    EXPECT_EQ(Net_read(fds[0], b, 0, 100), 0);
    EXPECT_EQ(Net_read(fds[0], b, sizeof b, 0), 0);  // nothing there, no wait
    EXPECT_EQ(Net_read(fds[0], b, sizeof b, 50), 0);
    EXPECT_EQ(Net_write(fds[1], "abc", 3, 100), 3);
    EXPECT_EQ(Net_read(fds[0], b, sizeof b, 100), 3);
    EXPECT_TRUE(Net_shutdown(fds[1], SHUT_WR));
    EXPECT_EQ(Net_read(fds[0], b, sizeof b, 100), 0);  // end of data
    EXPECT_TRUE(Net_setBlocking(fds[0]));
    EXPECT_TRUE(Net_close(fds[0]));
    EXPECT_EQ(Net_write(fds[1], "x", 1, 100), -1);  // EPIPE, not SIGPIPE
    EXPECT_TRUE(Net_close(fds[1]));
    EXPECT_EQ(Net_read(-1, b, 1, 10), -1);
}

}  // namespace
