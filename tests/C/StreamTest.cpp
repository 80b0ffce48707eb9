// Input and output streams over real descriptors: pipes and TCP connections on loopback.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "C/ExactText.h"
#include "C/io/InputStream.h"
#include "C/io/OutputStream.h"
#include "C/net/Socket.h"
#include "C/system/Net.h"
#include "support/LoopbackServer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    int r = -1, w = -1;
    Pipe() {
        // Non-blocking, as the descriptors of connected sockets are: waits are the streams' own.
        int fds[2];
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        r = fds[0];
        w = fds[1];
    }
    ~Pipe() {
        if (r >= 0)
            close(r);
        if (w >= 0)
            close(w);
    }
    void closeWriter() {
        close(w);
        w = -1;
    }
    void put(const std::string& s) { ASSERT_TRUE(vigil::test::sendAll(w, s)); }
};

TEST(InputStream, LinesAtAndAcrossTheBufferBoundary) {
    Pipe p;
    std::string first(1499, 'a');   // with its line feed exactly fills one 1500-byte read
    std::string second(3200, 'b');  // spans three reads
    p.put(first + "\n" + second + "\nshort\nend");
    p.closeWriter();
    InputStream_T in = InputStream_new(p.r);
    char line[4096];
    ASSERT_NE(InputStream_readLine(in, line, sizeof line), nullptr);
    EXPECT_TRUE(std::string(line) == first + "\n");
    EXPECT_EQ(InputStream_buffered(in), 0);
    ASSERT_NE(InputStream_readLine(in, line, sizeof line), nullptr);
    EXPECT_TRUE(std::string(line) == second + "\n");
    // A line longer than the caller's room comes in pieces of size - 1.
    char small[4];
    EXPECT_STREQ(InputStream_readLine(in, small, sizeof small), "sho");
    EXPECT_STREQ(InputStream_readLine(in, small, sizeof small), "rt\n");
    EXPECT_EQ(InputStream_readLine(in, small, 1), nullptr);  // size 1 copies nothing
    // End of data in the middle of a line gives the partial line, then nothing.
    EXPECT_STREQ(InputStream_readLine(in, line, sizeof line), "end");
    EXPECT_EQ(InputStream_readLine(in, line, sizeof line), nullptr);
    EXPECT_EQ(InputStream_read(in), -1);
    EXPECT_FALSE(InputStream_isClosed(in));
    InputStream_free(&in);
    EXPECT_EQ(in, nullptr);
}

TEST(InputStream, ZeroBytesEndALineAndBytesReads) {
    Pipe p;
    p.put(std::string("ab\0cd\n", 6) + std::string(5000, 'z'));
    p.closeWriter();
    InputStream_T in = InputStream_new(p.r);
    char line[64];
    EXPECT_STREQ(InputStream_readLine(in, line, sizeof line), "ab");
    EXPECT_STREQ(InputStream_readLine(in, line, sizeof line), "cd\n");
    std::string rest(6000, '\0');
    EXPECT_EQ(InputStream_readBytes(in, rest.data(), 6000), 5000);
    EXPECT_TRUE(rest.substr(0, 5000) == std::string(5000, 'z'));
    EXPECT_EQ(InputStream_readBytes(in, rest.data(), 0), 0);
    InputStream_free(&in);
}

TEST(InputStream, TimeOutKeepsTheStreamOpen) {
    Pipe p;
    InputStream_T in = InputStream_new(p.r);
    EXPECT_EQ(InputStream_getTimeout(in), 2000);
    InputStream_setTimeout(in, 100);
    auto start = Clock::now();
    EXPECT_EQ(InputStream_read(in), -1);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
    EXPECT_FALSE(InputStream_isClosed(in));
    p.put("x");
    EXPECT_EQ(InputStream_read(in), 'x');
    InputStream_free(&in);
}

TEST(InputStream, ReadErrorClosesForGood) {
    Pipe p;
    // Reading the write end of a pipe fails (EBADF): the stream closes.
    InputStream_T in = InputStream_new(p.w);
    EXPECT_EQ(InputStream_read(in), -1);
    EXPECT_TRUE(InputStream_isClosed(in));
    // The descriptor now has data to read, but a closed stream never touches it again.
    InputStream_T readable = InputStream_new(p.r);
    p.put("data");
    char b[8];
    EXPECT_EQ(InputStream_readBytes(in, b, 4), -1);
    EXPECT_EQ(InputStream_readLine(in, b, sizeof b), nullptr);
    EXPECT_EQ(InputStream_readBytes(readable, b, 4), 4);
    InputStream_free(&readable);
    InputStream_free(&in);
}

TEST(OutputStream, PartialWritesIntoAFullSocket) {
    vigil::test::LoopbackServer listener("127.0.0.1", nullptr);
    Socket_T client = Socket_new("127.0.0.1", listener.port());
    ASSERT_NE(client, nullptr);
    int server = accept4(listener.descriptor(), nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(server, 0);
    OutputStream_T out = Socket_getOutputStream(client);
    OutputStream_setTimeout(out, 100);
    // The peer does not read: the socket buffers fill and a write comes back short.
    std::string chunk(64 * 1024, 'w');
    int64_t accepted = 0;
    int lastResult = 0;
    auto start = Clock::now();
    for (int i = 0; i < 2000; i++) {
        lastResult = OutputStream_write(out, chunk.data(), static_cast<int>(chunk.size()));
        ASSERT_GE(lastResult, 0);
        accepted += lastResult;
        if (lastResult < static_cast<int>(chunk.size()))
            break;
    }
    EXPECT_LT(lastResult, static_cast<int>(chunk.size()));
    // One wait per call at most, not one per dropped byte.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    // The formatter drops what does not fit in the same way, one wait per call.
    bool shortPrint = false;
    for (int i = 0; i < 2000 && !shortPrint; i++) {
        auto printStart = Clock::now();
        int n = OutputStream_print(out, "%s", chunk.c_str());
        ASSERT_GE(n, 0);
        shortPrint = n < static_cast<int>(chunk.size());
        ASSERT_LT(Clock::now() - printStart, std::chrono::seconds(2));
    }
    EXPECT_TRUE(shortPrint);
    EXPECT_FALSE(OutputStream_isClosed(out));
    int64_t written = OutputStream_getBytesWritten(out);
    EXPECT_GT(written, 0);
    // What went out arrives whole and in order.
    OutputStream_clear(out);
    EXPECT_EQ(OutputStream_buffered(out), 0);
    int64_t received = 0;
    char buffer[65536];
    bool intact = true;
    while (received < written) {
        ssize_t n = recv(server, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; i++)
            intact = intact && buffer[i] == 'w';
        received += n;
    }
    EXPECT_EQ(received, written);
    EXPECT_TRUE(intact);
    // A peer that resets: writes fail, close the stream, and never raise SIGPIPE.
    Net_abort(server);
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; i++) {
        result = OutputStream_write(out, chunk.data(), 2000);
        OutputStream_flush(out);
        if (OutputStream_isClosed(out))
            result = -1;
    }
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(OutputStream_isClosed(out));
    EXPECT_EQ(OutputStream_print(out, "more"), -1);
    EXPECT_EQ(OutputStream_flush(out), -1);
    EXPECT_TRUE(Socket_isClosed(client));
    Socket_free(&client);
    EXPECT_EQ(client, nullptr);
}

TEST(OutputStream, BufferedAndFlushed) {
    Pipe p;
    OutputStream_T out = OutputStream_new(p.w);
    EXPECT_EQ(OutputStream_flush(out), 0);
    EXPECT_EQ(OutputStream_print(out, "%s %d", "abc", 12), 6);
    EXPECT_EQ(OutputStream_buffered(out), 6);
    EXPECT_EQ(OutputStream_getBytesWritten(out), 0);
    EXPECT_EQ(OutputStream_write(out, "xyz", 3), 3);
    EXPECT_EQ(OutputStream_flush(out), 9);
    EXPECT_EQ(OutputStream_getBytesWritten(out), 9);
    char b[16] = {};
    EXPECT_EQ(read(p.r, b, sizeof b), 9);
    EXPECT_STREQ(b, "abc 12xyz");
    OutputStream_write(out, "tail", 4);
    OutputStream_free(&out);  // flushes once
    EXPECT_EQ(read(p.r, b, sizeof b), 4);
}

class StreamDeath : public ::testing::Test {
  protected:
    void SetUp() override { VIGIL_DEATH_STYLE(); }
};

TEST_F(StreamDeath, NegativeTimeOutsAndNullRecords) {
    Pipe p;
    InputStream_T in = InputStream_new(p.r);
    OutputStream_T out = OutputStream_new(p.w);
    EXPECT_DEATH(InputStream_setTimeout(in, -1), "^AssertException: timeout >= 0\n raised in ");
    EXPECT_DEATH(OutputStream_setTimeout(out, -1), "^AssertException: timeout >= 0\n");
    EXPECT_DEATH(InputStream_read(nullptr), "^AssertException: S\n");
    EXPECT_DEATH(Socket_new(nullptr, 80), "^AssertException: host\n raised in Socket_open");
    EXPECT_DEATH(Socket_new("127.0.0.1", -1), "^AssertException: port >= 0\n");
    InputStream_free(&in);
    OutputStream_free(&out);
}

}  // namespace
