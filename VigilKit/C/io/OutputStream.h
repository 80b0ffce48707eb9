#pragma once

// A buffered writer over a descriptor it does not own, with its own formatter. Writes wait at most
// the stream's time-out (milliseconds, 2000 by default); a write error closes the stream for good.
// Bytes that cannot be flushed are dropped: the caller learns it only from the counts returned.
//
// Formatter conversions (OutputStream_print): %c, %d/%i (int), %ld/%li/%lld (64-bit), %u, %o, %x
// (64-bit unsigned: pass uint64_t or unsigned long long, not unsigned int), %p, %e/%f/%g (double),
// %s (text, never null), %%; flags "-+ 0(", width and precision as digits or "*".

#include <cstdarg>
#include <cstdint>

typedef struct OutputStream_S* OutputStream_T;

OutputStream_T OutputStream_new(int fd);
// Makes one flush step, then frees the stream and sets the caller's pointer to null.
void OutputStream_free(OutputStream_T* S);
// One flush step when bytes are waiting: the bytes written, 0 when none could be (time-out), -1
// when the stream is or became closed.
int OutputStream_flush(OutputStream_T S);
int OutputStream_getDescriptor(OutputStream_T S);
int OutputStream_buffered(OutputStream_T S);
void OutputStream_setTimeout(OutputStream_T S, int64_t timeout);
int64_t OutputStream_getTimeout(OutputStream_T S);
bool OutputStream_isClosed(OutputStream_T S);
int64_t OutputStream_getBytesWritten(OutputStream_T S);
// The bytes the call put into the buffer, or -1 when the stream is closed.
int OutputStream_print(OutputStream_T S, const char* format, ...);
int OutputStream_vprint(OutputStream_T S, const char* format, va_list ap);
int OutputStream_write(OutputStream_T S, const void* bytes, int size);
// Drops the waiting bytes.
void OutputStream_clear(OutputStream_T S);
