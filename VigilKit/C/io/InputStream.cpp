#include "C/io/InputStream.h"

#include <cerrno>
#include <cstring>

#include "C/system/Mem.h"
#include "C/system/Net.h"
#include "C/system/System.h"

namespace {
constexpr int kBufferSize = 1500;
}

struct InputStream_S {
    int fd;
    int offset;
    int length;
    int64_t timeout;
    int isclosed;
    unsigned char buffer[kBufferSize];
};

namespace {
// Makes bytes available; false at the end (time-out, end of data or a closed stream).
bool fill(InputStream_T S) {
    if (S->offset < S->length)
        return true;
    if (S->isclosed)
        return false;
    S->offset = S->length = 0;
    errno = 0;
    long n = Net_read(S->fd, S->buffer, kBufferSize, S->timeout);
    if (n < 0) {
        S->isclosed = 1;
        return false;
    }
    S->length = static_cast<int>(n);
    return n > 0;
}
}  // namespace

InputStream_T InputStream_new(int fd) {
    InputStream_T S = static_cast<InputStream_T>(CALLOC(1, sizeof(InputStream_S)));
    S->fd = fd;
    S->timeout = 2000;
    return S;
}

void InputStream_free(InputStream_T* S) {
    VIGIL_ASSERT(S && *S);
    FREE(*S);
}

int InputStream_getDescriptor(InputStream_T S) {
    VIGIL_ASSERT(S);
    return S->fd;
}

void InputStream_setTimeout(InputStream_T S, int64_t timeout) {
    VIGIL_ASSERT(S);
    VIGIL_ASSERT(timeout >= 0);
    S->timeout = timeout;
}

int64_t InputStream_getTimeout(InputStream_T S) {
    VIGIL_ASSERT(S);
    return S->timeout;
}

bool InputStream_isClosed(InputStream_T S) {
    VIGIL_ASSERT(S);
    return S->isclosed;
}

int InputStream_buffered(InputStream_T S) {
    VIGIL_ASSERT(S);
    return S->length - S->offset;
}

void InputStream_clear(InputStream_T S) {
    VIGIL_ASSERT(S);
    S->offset = S->length = 0;
}

int InputStream_read(InputStream_T S) {
    VIGIL_ASSERT(S);
    if (!fill(S))
        return -1;
    return S->buffer[S->offset++];
}

char* InputStream_readLine(InputStream_T S, char* s, int size) {
    VIGIL_ASSERT(S);
    VIGIL_ASSERT(s);
    int n = 0;
    while (n < size - 1 && fill(S)) {
        unsigned char c = S->buffer[S->offset++];
        if (c == 0)
            break;
        s[n++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    if (size > 0)
        s[n] = 0;
    return n > 0 ? s : nullptr;
}

int InputStream_readBytes(InputStream_T S, void* b, int size) {
    VIGIL_ASSERT(S);
    VIGIL_ASSERT(b);
    unsigned char* out = static_cast<unsigned char*>(b);
    int n = 0;
    while (n < size && fill(S)) {
        int take = S->length - S->offset;
        if (take > size - n)
            take = size - n;
        std::memcpy(out + n, S->buffer + S->offset, static_cast<size_t>(take));
        S->offset += take;
        n += take;
    }
    return S->isclosed ? -1 : n;
}
