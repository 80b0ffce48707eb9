#pragma once

// A growable text buffer filled by formatted appends. The text is always NUL-terminated; pointers
// handed out by StringBuffer_toString and StringBuffer_substring are valid until the next change.

#include <cstdarg>

typedef struct StringBuffer_S* StringBuffer_T;

// New buffer of 256 bytes holding s.
StringBuffer_T StringBuffer_new(const char* s);
// New empty buffer of hint bytes; a hint below 1 ends the process.
StringBuffer_T StringBuffer_create(int hint);
void StringBuffer_free(StringBuffer_T* S);
StringBuffer_T StringBuffer_append(StringBuffer_T S, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
StringBuffer_T StringBuffer_vappend(StringBuffer_T S, const char* format, va_list ap)
    __attribute__((format(printf, 2, 0)));
// Replaces the non-overlapping occurrences of a by b; returns their count.
int StringBuffer_replace(StringBuffer_T S, const char* a, const char* b);
StringBuffer_T StringBuffer_trim(StringBuffer_T S);
// Truncates the text at index (0..length).
StringBuffer_T StringBuffer_delete(StringBuffer_T S, int index);
int StringBuffer_indexOf(StringBuffer_T S, const char* s);
int StringBuffer_lastIndexOf(StringBuffer_T S, const char* s);
// The text from index (0..length), no copy.
const char* StringBuffer_substring(StringBuffer_T S, int index);
int StringBuffer_length(StringBuffer_T S);
StringBuffer_T StringBuffer_clear(StringBuffer_T S);
const char* StringBuffer_toString(StringBuffer_T S);
