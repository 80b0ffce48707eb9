#pragma once

// A connected TCP client. Its input and output streams are created on first request over the
// socket's descriptor; freeing the socket flushes the output once, frees the streams and closes.

#include <cstdint>

#include "C/io/InputStream.h"
#include "C/io/OutputStream.h"

typedef struct Socket_S* Socket_T;

// Connects to host:port (each resolved address waited for at most 2000 ms); null when no address
// could be connected or the name did not resolve.
Socket_T Socket_new(const char* host, int port);
// As Socket_new, with all addresses together given at most timeLimit milliseconds.
Socket_T Socket_open(const char* host, int port, int64_t timeLimit);
void Socket_free(Socket_T* S);
bool Socket_canRead(Socket_T S, int64_t timeout);
bool Socket_canWrite(Socket_T S, int64_t timeout);
const char* Socket_getHost(Socket_T S);
int Socket_getPort(Socket_T S);
int Socket_getDescriptor(Socket_T S);
InputStream_T Socket_getInputStream(Socket_T S);
OutputStream_T Socket_getOutputStream(Socket_T S);
// Once true stays true; otherwise true when either stream has failed.
bool Socket_isClosed(Socket_T S);
