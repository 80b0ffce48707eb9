#pragma once

// Thin wrappers over the socket calls: interruption retries and time-outs in milliseconds.

#include <sys/socket.h>

#include <cstdint>

typedef struct Socket_S* Socket_T;

// Connects to Socket_getHost(S):Socket_getPort(S). Returns the descriptor (non-blocking), -1 when
// no address could be connected (errno: the last connect error, ETIMEDOUT for a wait that ran out),
// -2 when the name could not be resolved (errno: EHOSTUNREACH).
int Net_createSocket(Socket_T S);
// As Net_createSocket, with the wait per address and a time limit for all addresses together
// (negative: no limit beyond the per-address wait).
int Net_connect(const char* host, int port, int perAddressTimeout, int64_t timeLimit);
bool Net_close(int fd);
bool Net_setNonBlocking(int fd);
bool Net_setBlocking(int fd);
bool Net_canRead(int fd, int64_t timeout);
bool Net_canWrite(int fd, int64_t timeout);
// One transfer: the bytes moved, 0 on a time-out (or end of data for a read), -1 on an error.
long Net_read(int fd, void* buf, long len, int64_t timeout);
long Net_write(int fd, const void* buf, long len, int64_t timeout);
bool Net_shutdown(int fd, int how);
// Closes so that the peer sees a reset (linger on with a zero time).
bool Net_abort(int fd);
// Numeric host text of a socket address (getnameinfo status).
int Net_getAddrInfo(const struct sockaddr* addr, socklen_t addrlen, char* host, int hostlen);
// Six bytes as "xx:xx:xx:xx:xx:xx" into dst (18 bytes); empty for a null or all-zero address.
char* Net_mac2str(char* dst, const unsigned char* mac);
// True when the name resolves to at least one IPv4 address.
bool Net_resolve(const char* name);
