#pragma once

// A buffered reader over a descriptor it does not own. Reads wait at most the stream's time-out
// (milliseconds, 2000 by default); a read error closes the stream for good, a time-out does not.

#include <cstdint>

typedef struct InputStream_S* InputStream_T;

InputStream_T InputStream_new(int fd);
void InputStream_free(InputStream_T* S);
int InputStream_getDescriptor(InputStream_T S);
void InputStream_setTimeout(InputStream_T S, int64_t timeout);
int64_t InputStream_getTimeout(InputStream_T S);
bool InputStream_isClosed(InputStream_T S);
// Bytes read from the descriptor and not yet taken.
int InputStream_buffered(InputStream_T S);
void InputStream_clear(InputStream_T S);
// The next byte (0..255), or -1 at the end of the data, on a time-out or when closed.
int InputStream_read(InputStream_T S);
// Copies bytes into s until size - 1 were copied, a line feed was copied, a zero byte was read (not
// copied) or the data ended; terminates s. Returns s, or null when nothing was copied.
char* InputStream_readLine(InputStream_T S, char* s, int size);
// Copies up to size bytes; -1 when the stream is or became closed, else the number copied.
int InputStream_readBytes(InputStream_T S, void* b, int size);
