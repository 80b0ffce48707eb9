// The public-address lookup against loopback echo servers, friendly and hostile.

#include "collectors/PublicAddress.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>

#include <array>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "C/system/Net.h"
#include "support/LoopbackServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using vigil::test::LoopbackServer;
using Stopping = std::function<bool()>;

const std::string kStatus = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";

// A server that reads the request, sends the answer and closes in order.
LoopbackServer::Handler answering(std::string answer) {
    return [answer](int fd, const Stopping&) {
        vigil::test::readRequest(fd);
        vigil::test::sendAll(fd, answer);
        shutdown(fd, SHUT_WR);
    };
}

struct Lookup {
    const char* result;
    std::string address;
    std::chrono::milliseconds took;
};

Lookup lookUp(const std::string& server) {
    char address[kPublicAddressSize];
    std::memset(address, 'x', sizeof address);
    auto start = Clock::now();
    const char* result = getPublicAddress(server.c_str(), address);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_TRUE(result == nullptr || result == address);
    return {result, address, took};
}

Lookup lookUpAnswer(const std::string& answer, const char* host = "127.0.0.1") {
    LoopbackServer server(host, answering(answer));
    std::string name = std::strchr(host, ':') ? "[" + std::string(host) + "]" : host;
    return lookUp(name + ":" + std::to_string(server.port()));
}

TEST(PublicAddress, SendsOneRequestAndReadsTheIPLine) {
    std::string request;
    LoopbackServer server("127.0.0.1", [&](int fd, const Stopping&) {
        request = vigil::test::readRequest(fd);
        vigil::test::sendAll(fd, kStatus + "\r\nIP: 203.0.113.7   \r\n");
    });
    std::string name = "127.0.0.1:" + std::to_string(server.port());
    Lookup r = lookUp(name);
    ASSERT_NE(r.result, nullptr);
    EXPECT_EQ(r.address, "203.0.113.7");
    EXPECT_EQ(request, "GET / HTTP/1.1\r\nHost: " + name + "\r\nConnection: Close\r\n\r\n");
}

TEST(PublicAddress, AnswerForms) {
    // As a header line, in lower case, IPv6, without a final line feed.
    EXPECT_EQ(lookUpAnswer(kStatus + "ip:198.51.100.1\r\n\r\nbody\n").address, "198.51.100.1");
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIP: 2001:db8::42\n").address, "2001:db8::42");
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIp:\t192.0.2.9").address, "192.0.2.9");
    // The first "IP" line ends the reading, valid or not.
    EXPECT_EQ(lookUpAnswer(kStatus + "IP-Note none\r\n\r\nIP: 192.0.2.1\n").address, "");
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIP: 192.0.2.1\nIP: 192.0.2.2\n").address, "192.0.2.1");
    // No "IP" line at all, an empty answer: empty text, not null.
    Lookup none = lookUpAnswer(kStatus + "\r\nhello\n");
    ASSERT_NE(none.result, nullptr);
    EXPECT_EQ(none.address, "");
    EXPECT_EQ(lookUpAnswer("").address, "");
    // Values that are no address.
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIP: 203.0.113.7 extra\n").address, "");
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIP: 256.1.1.1\n").address, "");
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIP: <script>\n").address, "");
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIP: " + std::string(70, '1') + "\n").address, "");
}

TEST(PublicAddress, ServerOnIPv6Loopback) {
    Lookup r = lookUpAnswer(kStatus + "\r\nIP: ::1\n", "::1");
    ASSERT_NE(r.result, nullptr);
    EXPECT_EQ(r.address, "::1");
}

TEST(PublicAddress, NoConnectionGivesNull) {
    int port;
    {
        LoopbackServer gone("127.0.0.1", nullptr);
        port = gone.port();
    }
    EXPECT_EQ(lookUp("127.0.0.1:" + std::to_string(port)).result, nullptr);
    // Server texts that are no host or host:port never reach the network.
    testing::internal::CaptureStderr();
    for (const char* bad :
         {"", "evil\r\nX-Injected: 1", "host:0", "host:70000", "host:8o", "[::1", "[]:80", "a b"})
        EXPECT_EQ(lookUp(bad).result, nullptr) << bad;
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Error: public address server -- "), std::string::npos);
    EXPECT_EQ(getPublicAddress(nullptr, std::array<char, 65>{}.data()), nullptr);
}

// The hostile servers: each lookup ends within its bound with no address.

TEST(PublicAddressHostile, AcceptsAndNeverAnswers) {
    LoopbackServer server("127.0.0.1",
                          [](int, const Stopping& stopping) { vigil::test::idle(stopping); });
    Lookup r = lookUp("127.0.0.1:" + std::to_string(server.port()));
    ASSERT_NE(r.result, nullptr);
    EXPECT_EQ(r.address, "");
    EXPECT_LT(r.took, std::chrono::milliseconds(3500));  // one read wait of 2 s
}

TEST(PublicAddressHostile, TricklesAByteASecondForever) {
    LoopbackServer server("127.0.0.1", [](int fd, const Stopping& stopping) {
        vigil::test::readRequest(fd);
        std::string line = "IP: 203.0.113.7";  // never finished
        for (size_t i = 0; !stopping(); i++) {
            if (!vigil::test::sendAll(fd, std::string(1, line[i % line.size()])))
                return;
            for (int t = 0; t < 100 && !stopping(); t++)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    Lookup r = lookUp("127.0.0.1:" + std::to_string(server.port()));
    ASSERT_NE(r.result, nullptr);
    EXPECT_EQ(r.address, "");
    EXPECT_GE(r.took, std::chrono::milliseconds(9000));
    EXPECT_LT(r.took, std::chrono::milliseconds(kPublicAddressTimeLimit + 1500));
}

TEST(PublicAddressHostile, EndlessLineAndMegabytesOfHeaders) {
    auto endless = [](std::string head) {
        return [head](int fd, const Stopping& stopping) {
            vigil::test::readRequest(fd);
            if (!vigil::test::sendAll(fd, head))
                return;
            std::string block(16384, 'a');
            while (!stopping() && vigil::test::sendAll(fd, block)) {
            }
        };
    };
    for (const std::string& head : {kStatus + "X-Long: ", kStatus + "IP: 1", std::string("")}) {
        LoopbackServer server("127.0.0.1", endless(head));
        Lookup r = lookUp("127.0.0.1:" + std::to_string(server.port()));
        ASSERT_NE(r.result, nullptr);
        EXPECT_EQ(r.address, "");
        EXPECT_LT(r.took, std::chrono::milliseconds(3000));
    }
    // Megabytes of well-formed header lines before the "IP" line: the answer is cut off unread.
    std::string headers = kStatus;
    for (int i = 0; headers.size() < 4 * 1024 * 1024; i++)
        headers += "X-Pad-" + std::to_string(i) + ": " + std::string(100, 'p') + "\r\n";
    LoopbackServer server("127.0.0.1", answering(headers + "IP: 192.0.2.1\r\n\r\n"));
    Lookup r = lookUp("127.0.0.1:" + std::to_string(server.port()));
    ASSERT_NE(r.result, nullptr);
    EXPECT_EQ(r.address, "");
    EXPECT_LT(r.took, std::chrono::milliseconds(3000));
}

TEST(PublicAddressHostile, ZeroBytesAndInvalidUtf8) {
    using namespace std::string_literals;
    // A zero byte inside the value, or before "IP" in the middle of a line: no address.
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIP: 192.0\0.2.1\n"s).address, "");
    EXPECT_EQ(lookUpAnswer(kStatus + "X-A: b\0IP: 6.6.6.6\n"s).address, "");
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIP: \xff\xfe"
                                     "192.0.2.1\n")
                  .address,
              "");
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIP: 192.0.2.1\xc3\n").address, "");
    // Garbage on other lines is skipped; the valid line still counts.
    EXPECT_EQ(lookUpAnswer(kStatus + "X-Bin: \xff\x00\x01\xfe\r\n\r\n\x80\x81\nIP: 192.0.2.77\r\n"s)
                  .address,
              "192.0.2.77");
}

TEST(PublicAddressHostile, LongIPLineAndLongLinesHidingIP) {
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIP:" + std::string(10000, '7') + "\n").address, "");
    EXPECT_EQ(lookUpAnswer(kStatus + "\r\nIP: 192.0.2.1" + std::string(10000, ' ') + "\n").address,
              "");
    // The part of a long line that happens to start a 255-byte piece is not a line of its own.
    EXPECT_EQ(
        lookUpAnswer(kStatus + "X-Fill: " + std::string(247, 'f') + "IP: 6.6.6.6\r\n").address, "");
}

TEST(PublicAddressHostile, ResetInTheMiddleOfALine) {
    LoopbackServer server("127.0.0.1", [](int fd, const Stopping&) {
        vigil::test::readRequest(fd);
        vigil::test::sendAll(fd, kStatus + "\r\nIP: 192.0.2.12");  // 192.0.2.123 was meant
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        linger reset{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    });
    Lookup r = lookUp("127.0.0.1:" + std::to_string(server.port()));
    ASSERT_NE(r.result, nullptr);
    EXPECT_EQ(r.address, "");
    EXPECT_LT(r.took, std::chrono::milliseconds(3000));
}

TEST(PublicAddressHostile, FirstOfSeveralAddressesRefuses) {
    std::string reason;
    Lookup r{};
    bool ran = vigil::test::withHostsFile(
        "::1 echo.test\n127.0.0.1 echo.test\n",
        [&] {
            // Whichever family the resolver puts first, only the other one listens.
            addrinfo hints{};
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* list = nullptr;
            if (getaddrinfo("echo.test", "80", &hints, &list) != 0 || !list || !list->ai_next) {
                if (list)
                    freeaddrinfo(list);
                return;
            }
            bool v6First = list->ai_family == AF_INET6;
            freeaddrinfo(list);
            LoopbackServer server(v6First ? "127.0.0.1" : "::1",
                                  answering(kStatus + "\r\nIP: 192.0.2.55\n"));
            r = lookUp("echo.test:" + std::to_string(server.port()));
        },
        &reason);
    if (!ran)
        GTEST_SKIP() << "needs a private /etc/hosts (root): " << reason;
    ASSERT_NE(r.result, nullptr) << "the resolver gave one address only";
    EXPECT_EQ(r.address, "192.0.2.55");
    EXPECT_LT(r.took, std::chrono::milliseconds(3000));
}

TEST(PublicAddressServer, HostPartOfTheSetting) {
    char host[256];
    ASSERT_TRUE(PublicAddress_serverHost("echo.example:8080", host));
    EXPECT_STREQ(host, "echo.example");
    ASSERT_TRUE(PublicAddress_serverHost("[2001:db8::1]:80", host));
    EXPECT_STREQ(host, "2001:db8::1");
    ASSERT_TRUE(PublicAddress_serverHost("echo.example", host));
    EXPECT_STREQ(host, "echo.example");
    EXPECT_FALSE(PublicAddress_serverHost("echo.example/path", host));
    EXPECT_FALSE(PublicAddress_serverHost("", host));
}

TEST(PublicAddressParser, PiecesAndEnds) {
    auto parse = [](const std::string& answer, bool cleanEnd) {
        PublicAddressParser parser;
        for (char c : answer)
            parser.feed(static_cast<unsigned char>(c));
        parser.finish(cleanEnd);
        return std::string(parser.address);
    };
    EXPECT_EQ(parse("IP: 192.0.2.1", true), "192.0.2.1");
    EXPECT_EQ(parse("IP: 192.0.2.1", false), "");  // cut off by a time-out or a reset
    EXPECT_EQ(parse("IP: 192.0.2.1\n", false), "192.0.2.1");
    EXPECT_EQ(parse("IP 192.0.2.1\n", true), "");
    EXPECT_EQ(parse(std::string(254, 'a') + "\nIP: 192.0.2.2\n", true), "192.0.2.2");
    EXPECT_EQ(parse(std::string(255, 'a') + "IP: 192.0.2.2\n", true), "");
    EXPECT_EQ(parse(std::string(kPublicAddressMaxAnswer, '\n') + "IP: 192.0.2.3\n", true), "");
    EXPECT_EQ(parse(std::string(kPublicAddressMaxAnswer - 20, '\n') + "IP: 192.0.2.3\n", true),
              "192.0.2.3");
    // A body that is nothing but the address, as many echo servers answer; an "IP" line wins.
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nServer: x\r\n\r\n198.51.100.20\n", true), "198.51.100.20");
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\n\r\n2001:db8::7\r\n", false), "2001:db8::7");
    EXPECT_EQ(parse("HTTP/1.1 200 OK\r\n\r\n198.51.100.20", false), "") << "cut off";
    EXPECT_EQ(parse("\r\n198.51.100.20\nIP: 192.0.2.4\n", true), "192.0.2.4");
    EXPECT_EQ(parse("\r\n198.51.100.20\nIP: bogus\n", true), "") << "an IP line decides";
    EXPECT_EQ(parse("\r\n198.51.100.20 and more\n", true), "");
    EXPECT_TRUE(PublicAddress_isAddress("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255"));
    EXPECT_FALSE(PublicAddress_isAddress("fe80::1%eth0"));
    EXPECT_FALSE(PublicAddress_isAddress(""));
}

}  // namespace
