#include "collectors/PublicAddress.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "C/io/InputStream.h"
#include "C/io/OutputStream.h"
#include "C/net/Socket.h"
#include "C/system/System.h"
#include "C/system/Time.h"
#include "C/util/Str.h"

bool PublicAddress_isAddress(const char* text) {
    if (!text || !*text || std::strlen(text) >= kPublicAddressSize)
        return false;
    unsigned char buffer[sizeof(struct in6_addr)];
    return inet_pton(AF_INET, text, buffer) == 1 || inet_pton(AF_INET6, text, buffer) == 1;
}

void PublicAddressParser::feed(unsigned char c) {
    if (done)
        return;
    if (++total_ > kPublicAddressMaxAnswer) {
        address[0] = 0;
        done = true;
        return;
    }
    if (c == 0) {  // a zero byte ends the chunk unread, in the middle of its line
        endChunk(false, false);
        return;
    }
    line_[length_++] = static_cast<char>(c);
    if (c == '\n')
        endChunk(true, true);
    else if (length_ == static_cast<int>(sizeof line_) - 1)
        endChunk(false, false);  // longer than a line may be
}

void PublicAddressParser::finish(bool cleanEnd) {
    if (!done && length_ > 0)
        endChunk(cleanEnd, true);
    // Many echo servers answer with the bare address as the whole body: take it when no "IP"
    // line came and the answer stayed within bounds.
    if (!sawIpLine_ && total_ <= kPublicAddressMaxAnswer && !address[0] && bare_[0])
        Str_copy(address, bare_, kPublicAddressSize - 1);
}

void PublicAddressParser::endChunk(bool complete, bool nextAtLineStart) {
    line_[length_] = 0;
    // Only a chunk that starts a line can be the "IP" line: the rest of a long line, or what
    // follows a zero byte, never is.
    if (atLineStart_ && Str_startsWith(line_, "IP")) {
        done = true;
        sawIpLine_ = true;
        address[0] = 0;
        char* colon = std::strchr(line_, ':');
        if (complete && colon) {
            char* value = Str_trim(colon + 1);
            if (PublicAddress_isAddress(value))
                Str_copy(address, value, kPublicAddressSize - 1);
        }
    } else if (atLineStart_ && complete && !bare_[0]) {
        char* value = Str_trim(line_);
        if (PublicAddress_isAddress(value))
            Str_copy(bare_, value, kPublicAddressSize - 1);
    }
    length_ = 0;
    atLineStart_ = nextAtLineStart;
}

namespace {

struct Server {
    char host[256];
    int port;
    char hostHeader[300];
};

bool isServerByte(unsigned char c) {
    return std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == ':' || c == '[' || c == ']';
}

// Splits "host", "host:port", "IPv6" and "[IPv6]:port"; false for anything else.
bool parseServer(const char* text, Server* server) {
    if (!text || !*text || std::strlen(text) >= sizeof server->host)
        return false;
    for (const char* p = text; *p; p++)
        if (!isServerByte(static_cast<unsigned char>(*p)))
            return false;
    const char* portText = nullptr;
    if (text[0] == '[') {
        const char* close = std::strchr(text, ']');
        if (!close || close == text + 1)
            return false;
        Str_copy(server->host, text + 1, static_cast<int>(close - text - 1));
        if (close[1] == ':')
            portText = close + 2;
        else if (close[1])
            return false;
    } else {
        const char* colon = std::strchr(text, ':');
        if (colon && !std::strchr(colon + 1, ':')) {  // host:port
            if (colon == text)
                return false;
            Str_copy(server->host, text, static_cast<int>(colon - text));
            portText = colon + 1;
        } else {  // a name, or an IPv6 address without brackets
            Str_copy(server->host, text, static_cast<int>(sizeof server->host) - 1);
        }
    }
    if (std::strchr(server->host, '[') || std::strchr(server->host, ']'))
        return false;
    server->port = 80;
    if (portText) {
        if (!*portText || std::strlen(portText) > 5)
            return false;
        int port = 0;
        for (const char* p = portText; *p; p++) {
            if (!std::isdigit(static_cast<unsigned char>(*p)))
                return false;
            port = port * 10 + (*p - '0');
        }
        if (port < 1 || port > 65535)
            return false;
        server->port = port;
    }
    bool v6 = std::strchr(server->host, ':') != nullptr;
    if (portText)
        std::snprintf(server->hostHeader, sizeof server->hostHeader, v6 ? "[%s]:%d" : "%s:%d",
                      server->host, server->port);
    else
        std::snprintf(server->hostHeader, sizeof server->hostHeader, v6 ? "[%s]" : "%s",
                      server->host);
    return true;
}

int64_t remaining(int64_t deadline) {
    int64_t left = deadline - Time_milli();
    return left < 0 ? 0 : left;
}

int64_t waitFor(int64_t deadline) {
    int64_t left = remaining(deadline);
    return left < 2000 ? left : 2000;
}

// True when the peer ended the data in order (not a reset, and not merely silent).
bool endedInOrder(int fd) {
    char c;
    long n;
    do
        n = recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    return n == 0;
}

}  // namespace

bool PublicAddress_serverHost(const char* publicAddressServer, char host[256]) {
    Server server;
    if (!parseServer(publicAddressServer, &server))
        return false;
    Str_copy(host, server.host, 255);
    return true;
}

const char* getPublicAddress(const char* publicAddressServer, char address[kPublicAddressSize]) {
    VIGIL_ASSERT(address);
    address[0] = 0;
    Server server;
    if (!parseServer(publicAddressServer, &server)) {
        System_error("public address server -- not a host or host:port: \"%.64s\"",
                     publicAddressServer ? publicAddressServer : "(none)");
        return nullptr;
    }
    int64_t deadline = Time_milli() + kPublicAddressTimeLimit;
    Socket_T socket = Socket_open(server.host, server.port, kPublicAddressTimeLimit);
    if (!socket)
        return nullptr;
    InputStream_T in = Socket_getInputStream(socket);
    OutputStream_T out = Socket_getOutputStream(socket);
    OutputStream_setTimeout(out, waitFor(deadline));
    OutputStream_print(out, "GET / HTTP/1.1\r\nHost: %s\r\nConnection: Close\r\n\r\n",
                       server.hostHeader);
    if (OutputStream_flush(out) >= 1) {
        PublicAddressParser parser;
        bool cleanEnd = false;
        while (!parser.done) {
            if (InputStream_buffered(in) == 0) {
                int64_t wait = waitFor(deadline);
                if (wait <= 0)
                    break;
                InputStream_setTimeout(in, wait);
            }
            int c = InputStream_read(in);
            if (c < 0) {
                cleanEnd = !InputStream_isClosed(in) && endedInOrder(Socket_getDescriptor(socket));
                break;
            }
            parser.feed(static_cast<unsigned char>(c));
        }
        parser.finish(cleanEnd);
        Str_copy(address, parser.address, kPublicAddressSize - 1);
    }
    OutputStream_clear(out);  // nothing may wait on a peer that stopped reading
    Socket_free(&socket);
    return address;
}
