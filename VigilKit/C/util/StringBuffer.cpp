#include "C/util/StringBuffer.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "C/system/Mem.h"
#include "C/system/System.h"

struct StringBuffer_S {
    int used;    // characters in the buffer, without the terminator
    int length;  // bytes allocated
    char* buffer;
};

namespace {
bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

StringBuffer_T make(int hint) {
    StringBuffer_T S = static_cast<StringBuffer_T>(ALLOC(sizeof(StringBuffer_S)));
    S->used = 0;
    S->length = hint;
    S->buffer = static_cast<char*>(ALLOC(hint));
    S->buffer[0] = 0;
    return S;
}

// Grows the allocation to at least size bytes; a text beyond what a 32-bit length can count ends
// the process rather than wrapping.
void reserve(StringBuffer_T S, long size) {
    if (size > INT_MAX)
        VIGIL_RAISE("Memory Exception", "%s", "text too long for a string buffer");
    if (size <= S->length)
        return;
    S->length = static_cast<int>(size);
    RESIZE(S->buffer, S->length);
}
}  // namespace

StringBuffer_T StringBuffer_new(const char* s) {
    StringBuffer_T S = make(256);
    return StringBuffer_append(S, "%s", s ? s : "");
}

StringBuffer_T StringBuffer_create(int hint) {
    if (hint < 1)
        VIGIL_RAISE("AssertException", "Illegal hint value");
    return make(hint);
}

void StringBuffer_free(StringBuffer_T* S) {
    VIGIL_ASSERT(S && *S);
    FREE((*S)->buffer);
    FREE(*S);
}

StringBuffer_T StringBuffer_append(StringBuffer_T S, const char* format, ...) {
    VIGIL_ASSERT(S);
    if (format && *format) {
        va_list ap;
        va_start(ap, format);
        StringBuffer_vappend(S, format, ap);
        va_end(ap);
    }
    return S;
}

StringBuffer_T StringBuffer_vappend(StringBuffer_T S, const char* format, va_list ap) {
    VIGIL_ASSERT(S);
    if (!format || !*format)
        return S;
    for (;;) {
        va_list copy;
        va_copy(copy, ap);
        int n = std::vsnprintf(S->buffer + S->used, static_cast<size_t>(S->length - S->used),
                               format, copy);
        va_end(copy);
        VIGIL_ASSERT(n >= 0);
        if (static_cast<long>(S->used) + n < S->length) {
            S->used += n;
            return S;
        }
        reserve(S, static_cast<long>(S->used) + n + 256);
    }
}

int StringBuffer_replace(StringBuffer_T S, const char* a, const char* b) {
    VIGIL_ASSERT(S);
    if (!a || !*a || !b || S->used == 0)
        return 0;
    long na = static_cast<long>(std::strlen(a)), nb = static_cast<long>(std::strlen(b));
    int count = 0;
    for (const char* p = std::strstr(S->buffer, a); p; p = std::strstr(p + na, a))
        count++;
    if (count == 0)
        return 0;
    if (nb != na) {
        long needed = count * (nb - na) + S->used + 1;
        if (needed >= S->length)
            reserve(S, needed);
    }
    char* p = S->buffer;
    for (int done = 0; done < count; done++) {
        p = std::strstr(p, a);
        long at = p - S->buffer;
        long tail = S->used - (at + na);
        std::memmove(p + nb, p + na, static_cast<size_t>(tail));
        std::memcpy(p, b, static_cast<size_t>(nb));
        S->used = static_cast<int>(S->used + nb - na);
        S->buffer[S->used] = 0;
        p += nb;
    }
    S->buffer[S->used] = 0;
    return count;
}

StringBuffer_T StringBuffer_trim(StringBuffer_T S) {
    VIGIL_ASSERT(S);
    while (S->used > 0 && isSpace(S->buffer[S->used - 1]))
        S->used--;
    S->buffer[S->used] = 0;
    int lead = 0;
    while (lead < S->used && isSpace(S->buffer[lead]))
        lead++;
    if (lead > 0) {
        std::memmove(S->buffer, S->buffer + lead, static_cast<size_t>(S->used - lead) + 1);
        S->used -= lead;
    }
    return S;
}

StringBuffer_T StringBuffer_delete(StringBuffer_T S, int index) {
    VIGIL_ASSERT(S);
    if (index < 0 || index > S->used)
        VIGIL_RAISE("AssertException", "Index out of bounds");
    S->used = index;
    S->buffer[index] = 0;
    return S;
}

int StringBuffer_indexOf(StringBuffer_T S, const char* s) {
    VIGIL_ASSERT(S);
    if (!s || !*s || S->used == 0)
        return -1;
    const char* p = std::strstr(S->buffer, s);
    return p ? static_cast<int>(p - S->buffer) : -1;
}

int StringBuffer_lastIndexOf(StringBuffer_T S, const char* s) {
    VIGIL_ASSERT(S);
    if (!s || !*s || S->used == 0)
        return -1;
    int n = static_cast<int>(std::strlen(s));
    for (int i = S->used - n; i >= 0; i--)
        if (std::memcmp(S->buffer + i, s, static_cast<size_t>(n)) == 0)
            return i;
    return -1;
}

const char* StringBuffer_substring(StringBuffer_T S, int index) {
    VIGIL_ASSERT(S);
    if (index < 0 || index > S->used)
        VIGIL_RAISE("AssertException", "Index out of bounds");
    return S->buffer + index;
}

int StringBuffer_length(StringBuffer_T S) {
    VIGIL_ASSERT(S);
    return S->used;
}

StringBuffer_T StringBuffer_clear(StringBuffer_T S) {
    VIGIL_ASSERT(S);
    S->used = 0;
    S->buffer[0] = 0;
    return S;
}

const char* StringBuffer_toString(StringBuffer_T S) {
    VIGIL_ASSERT(S);
    return S->buffer;
}
