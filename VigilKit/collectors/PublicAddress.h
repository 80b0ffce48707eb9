#pragma once

// The public-address lookup: asks an echo server over one plain HTTP/1.1 "GET /" for the address
// under which this machine is seen, taken from the first answer line that starts with "IP"
// ("IP: 203.0.113.7", as a header or a body line).
//
// The answer is untrusted: the lookup is bounded to kPublicAddressTimeLimit milliseconds in all and
// kPublicAddressMaxAnswer bytes of answer, and only a syntactically valid IPv4 or IPv6 address text
// is ever returned; anything else counts as an answer without an "IP" line.

#include <cstddef>
#include <cstdint>

constexpr int kPublicAddressSize = 65;  // 64 characters and the terminator
constexpr int64_t kPublicAddressTimeLimit = 10000;
constexpr size_t kPublicAddressMaxAnswer = 64 * 1024;

// Looks the public address up at publicAddressServer: "host", "host:port", "IPv6" or "[IPv6]:port"
// (port 80 when absent). Returns null when the connection could not be made (or the server text is
// unusable); otherwise returns address, holding the address or empty text when the request could
// not be sent, the answer timed out or held no valid "IP" line. Blocks its thread for at most
// kPublicAddressTimeLimit milliseconds beyond name resolution.
const char* getPublicAddress(const char* publicAddressServer, char address[kPublicAddressSize]);

// The answer parser on its own, fed byte by byte.
struct PublicAddressParser {
    char address[kPublicAddressSize] = {};
    bool done = false;  // the "IP" line was seen (or the answer grew too long): stop reading

    // Takes the next answer byte.
    void feed(unsigned char c);
    // The answer ended; cleanEnd is true only for an orderly end of data (not a time-out, reset or
    // read error), which completes a last line without a line feed.
    void finish(bool cleanEnd);

  private:
    char line_[256] = {};
    int length_ = 0;
    bool atLineStart_ = true;  // the bytes in line_ began a line
    size_t total_ = 0;

    void endChunk(bool complete, bool nextAtLineStart);
};

// True when text (without surrounding white space) is a valid IPv4 or IPv6 address.
bool PublicAddress_isAddress(const char* text);
