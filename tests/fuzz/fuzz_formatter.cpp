// The stream formatter against snprintf: each input is decoded into conversions (flags, width,
// precision, conversion, value); each is printed both ways and the texts must agree.

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "C/io/OutputStream.h"

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint64_t bits() {
        uint64_t v = 0;
        for (int i = 0; i < 8; i++)
            v = (v << 8) | byte();
        return v;
    }
    bool done() const { return at >= size; }
};

int fds[2] = {-1, -1};
OutputStream_T out;

std::string drain(int expected) {
    while (OutputStream_buffered(out) > 0)
        if (OutputStream_flush(out) <= 0)
            __builtin_trap();
    std::string text(static_cast<size_t>(expected), '\0');
    size_t got = 0;
    while (got < text.size()) {
        ssize_t n = read(fds[0], text.data() + got, text.size() - got);
        if (n <= 0)
            __builtin_trap();
        got += static_cast<size_t>(n);
    }
    char extra;
    if (read(fds[0], &extra, 1) > 0)
        __builtin_trap();  // more came out than was counted
    return text;
}

template <typename T>
void compare(const std::string& ours, const std::string& theirs, T value) {
    int n = OutputStream_print(out, ours.c_str(), value);
    std::string got = drain(n);
    int m = std::snprintf(nullptr, 0, theirs.c_str(), value);
    std::string want(static_cast<size_t>(m) + 1, '\0');
    std::snprintf(want.data(), want.size(), theirs.c_str(), value);
    want.resize(static_cast<size_t>(m));
    if (got != want) {
        std::fprintf(stderr, "format \"%s\" (C: \"%s\"): got \"%s\", want \"%s\"\n", ours.c_str(),
                     theirs.c_str(), got.c_str(), want.c_str());
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        abort();
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    out = OutputStream_new(fds[1]);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    for (int round = 0; round < 8 && !in.done(); round++) {
        uint8_t f = in.byte();
        uint8_t kind = in.byte() % 11;
        std::string flags;
        if (f & 1)
            flags += '-';
        if (f & 2)
            flags += '0';
        bool isUnsigned = kind >= 3 && kind <= 5;
        bool isText = kind == 6 || kind == 7;
        if (!isUnsigned && !isText) {
            if (f & 4)
                flags += '+';
            if (f & 8)
                flags += ' ';
        }
        if (isText)
            flags = (f & 1) ? "-" : "";
        std::string spec = flags;
        uint8_t w = in.byte();
        if (w & 0x80)
            spec += std::to_string(w & 0x3f);
        uint8_t p = in.byte();
        bool hasPrecision = p & 0x80;
        int precision = p & 0x3f;
        if (hasPrecision && kind != 6)
            spec += "." + std::to_string(precision);
        uint64_t v = in.bits();
        std::string ours = "<%" + spec, theirs = "<%" + spec;
        switch (kind) {
            case 0:
            case 1: {
                int value = static_cast<int>(v);
                if (hasPrecision && precision == 0 && value == 0)
                    break;  // the digit stays: own rule
                const char* c = kind == 0 ? "d>" : "i>";
                compare(ours + c, theirs + c, value);
                break;
            }
            case 2: {
                long long value = static_cast<long long>(v);
                if (hasPrecision && precision == 0 && value == 0)
                    break;
                compare(ours + "ld>", theirs + "lld>", value);
                break;
            }
            case 3:
            case 4:
            case 5: {
                unsigned long long value = v;
                if (hasPrecision && precision == 0 && value == 0)
                    break;
                const char* c = kind == 3 ? "u>" : kind == 4 ? "x>" : "o>";
                compare(ours + c, theirs + "ll" + c, value);
                break;
            }
            case 6:
                compare(ours + "c>", theirs + "c>",
                        static_cast<int>(static_cast<unsigned char>(v) | 1));
                break;
            case 7: {
                char text[9];
                for (int i = 0; i < 8; i++)
                    text[i] = static_cast<char>((v >> (8 * i)) | 1);
                text[v % 9] = 0;
                compare(ours + "s>", theirs + "s>", static_cast<const char*>(text));
                break;
            }
            default: {
                double value;
                std::memcpy(&value, &v, sizeof value);
                const char* c = kind == 8 ? "f>" : kind == 9 ? "e>" : "g>";
                compare(ours + c, theirs + c, value);
                break;
            }
        }
    }
    return 0;
}
