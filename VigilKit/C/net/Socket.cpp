#include "C/net/Socket.h"

#include "C/system/Mem.h"
#include "C/system/Net.h"
#include "C/system/System.h"
#include "C/util/Str.h"

struct Socket_S {
    int port;
    int socket;
    int isClosed;
    char* host;
    InputStream_T in;
    OutputStream_T out;
};

namespace {
constexpr int kConnectWait = 2000;
}

Socket_T Socket_open(const char* host, int port, int64_t timeLimit) {
    VIGIL_ASSERT(host);
    VIGIL_ASSERT(port >= 0);
    Socket_T S = static_cast<Socket_T>(CALLOC(1, sizeof(Socket_S)));
    S->port = port;
    S->host = Str_dup(host);
    S->socket = Net_connect(S->host, S->port, kConnectWait, timeLimit);
    if (S->socket < 0) {
        FREE(S->host);
        FREE(S);
        return nullptr;
    }
    return S;
}

Socket_T Socket_new(const char* host, int port) {
    return Socket_open(host, port, -1);
}

void Socket_free(Socket_T* S) {
    VIGIL_ASSERT(S && *S);
    if ((*S)->out)
        OutputStream_free(&(*S)->out);
    if ((*S)->in)
        InputStream_free(&(*S)->in);
    if ((*S)->socket >= 0)
        Net_close((*S)->socket);
    FREE((*S)->host);
    FREE(*S);
}

bool Socket_canRead(Socket_T S, int64_t timeout) {
    VIGIL_ASSERT(S);
    return Net_canRead(S->socket, timeout);
}

bool Socket_canWrite(Socket_T S, int64_t timeout) {
    VIGIL_ASSERT(S);
    return Net_canWrite(S->socket, timeout);
}

const char* Socket_getHost(Socket_T S) {
    VIGIL_ASSERT(S);
    return S->host;
}

int Socket_getPort(Socket_T S) {
    VIGIL_ASSERT(S);
    return S->port;
}

int Socket_getDescriptor(Socket_T S) {
    VIGIL_ASSERT(S);
    return S->socket;
}

InputStream_T Socket_getInputStream(Socket_T S) {
    VIGIL_ASSERT(S);
    if (!S->in)
        S->in = InputStream_new(S->socket);
    return S->in;
}

OutputStream_T Socket_getOutputStream(Socket_T S) {
    VIGIL_ASSERT(S);
    if (!S->out)
        S->out = OutputStream_new(S->socket);
    return S->out;
}

bool Socket_isClosed(Socket_T S) {
    VIGIL_ASSERT(S);
    if (!S->isClosed)
        S->isClosed = InputStream_isClosed(Socket_getInputStream(S)) ||
                      OutputStream_isClosed(Socket_getOutputStream(S));
    return S->isClosed;
}
