#include "C/io/OutputStream.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "C/system/Mem.h"
#include "C/system/Net.h"
#include "C/system/System.h"

namespace {
constexpr int kBufferSize = 1500;
constexpr int kUnset = INT_MIN;  // width or precision not given

// A character as a table index.
constexpr unsigned char uc(char c) {
    return static_cast<unsigned char>(c);
}
}  // namespace

struct OutputStream_S {
    int fd;
    int64_t timeout;
    unsigned char* limit;
    unsigned char* cursor;
    int isclosed;
    int result;
    int64_t bytesWritten;
    bool dropping;  // a flush step of the current call failed: its remaining bytes are dropped
    unsigned char buffer[kBufferSize];
};

namespace {

int flushStep(OutputStream_T S) {
    if (S->isclosed)
        return -1;
    long waiting = S->cursor - S->buffer;
    errno = 0;
    long n = Net_write(S->fd, S->buffer, waiting, S->timeout);
    if (n > 0) {
        S->bytesWritten += n;
        std::memmove(S->buffer, S->buffer + n, static_cast<size_t>(waiting - n));
        S->cursor -= n;
        return static_cast<int>(n);
    }
    if (n == 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == 0 ? 0 : -1;
    S->isclosed = 1;
    return -1;
}

// Stores one byte, making a flush step first when the buffer is full. Once a step of the current
// call yields nothing, the call's remaining bytes are dropped without waiting again.
bool put(OutputStream_T S, unsigned char c) {
    if (S->dropping)
        return false;
    if (S->cursor >= S->limit && flushStep(S) < 1) {
        S->dropping = true;
        return false;
    }
    *S->cursor++ = c;
    S->result++;
    return true;
}

void putn(OutputStream_T S, const char* s, int n) {
    for (int i = 0; i < n; i++)
        put(S, static_cast<unsigned char>(s[i]));
}

void pad(OutputStream_T S, int n, char c) {
    for (; n > 0; n--)
        put(S, static_cast<unsigned char>(c));
}

struct Spec {
    int flags[256];
    int width;
    int precision;
};

// Puts the digits (with an optional leading sign) of an integer or floating-point text with the
// flags, width and precision applied.
void putd(OutputStream_T S, const char* text, int length, Spec spec) {
    bool minus = spec.flags[uc('-')] > 0, zero = spec.flags[uc('0')] > 0;
    int width = spec.width == kUnset ? 0 : spec.width;
    int precision = spec.precision;
    if (width < 0) {
        minus = true;
        width = -width;
    }
    if (precision != kUnset && precision >= 0)
        zero = false;
    if (precision < 0)
        precision = kUnset;
    char sign = 0;
    if (length > 0 && (text[0] == '-' || text[0] == '+')) {
        sign = text[0];
        text++;
        length--;
    } else if (spec.flags[uc('+')]) {
        sign = '+';
    } else if (spec.flags[uc(' ')]) {
        sign = ' ';
    }
    if (precision == kUnset)
        precision = 1;
    int n;
    if (precision > length)
        n = precision;
    else if (precision == 0 && length == 1 && text[0] == '0')
        n = 0;
    else
        n = length;
    int field = n + (sign ? 1 : 0);
    int zeros = n > length ? n - length : 0;
    if (minus) {
        if (sign)
            put(S, sign);
        pad(S, zeros, '0');
        putn(S, text, length);
        pad(S, width - field, ' ');
    } else if (zero) {
        if (sign)
            put(S, sign);
        pad(S, width - field, '0');
        pad(S, zeros, '0');
        putn(S, text, length);
    } else {
        pad(S, width - field, ' ');
        if (sign)
            put(S, sign);
        pad(S, zeros, '0');
        putn(S, text, length);
    }
}

// Blank padding around a text for %c and %s.
void putPadded(OutputStream_T S, const char* text, int length, const Spec& spec) {
    int width = spec.width == kUnset ? 0 : spec.width;
    bool minus = spec.flags[uc('-')] > 0;
    if (width < 0) {
        minus = true;
        width = -width;
    }
    if (!minus)
        pad(S, width - length, ' ');
    putn(S, text, length);
    if (minus)
        pad(S, width - length, ' ');
}

int unsignedText(char* end, unsigned long long v, unsigned base, const char* digits) {
    char* p = end;
    do
        *--p = digits[v % base];
    while ((v /= base) != 0);
    return static_cast<int>(end - p);
}

int signedText(char* end, long long v) {
    unsigned long long magnitude =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    int n = unsignedText(end, magnitude, 10, "0123456789");
    if (v < 0) {
        end[-n - 1] = '-';
        n++;
    }
    return n;
}

using Converter = void (*)(OutputStream_T S, int code, va_list* ap, const Spec& spec);

void cvt_c(OutputStream_T S, int, va_list* ap, const Spec& spec) {
    char c = static_cast<char>(va_arg(*ap, int));
    putPadded(S, &c, 1, spec);
}

void cvt_d(OutputStream_T S, int, va_list* ap, const Spec& spec) {
    char digits[32];
    int n = signedText(digits + sizeof digits, va_arg(*ap, int));
    putd(S, digits + sizeof digits - n, n, spec);
}

void cvt_l(OutputStream_T S, int, va_list* ap, const Spec& spec) {
    char digits[32];
    int n = signedText(digits + sizeof digits, va_arg(*ap, long long));
    putd(S, digits + sizeof digits - n, n, spec);
}

void cvt_u(OutputStream_T S, int, va_list* ap, const Spec& spec) {
    char digits[32];
    int n = unsignedText(digits + sizeof digits, va_arg(*ap, unsigned long long), 10, "0123456789");
    putd(S, digits + sizeof digits - n, n, spec);
}

void cvt_o(OutputStream_T S, int, va_list* ap, const Spec& spec) {
    char digits[32];
    int n = unsignedText(digits + sizeof digits, va_arg(*ap, unsigned long long), 8, "01234567");
    putd(S, digits + sizeof digits - n, n, spec);
}

void cvt_x(OutputStream_T S, int, va_list* ap, const Spec& spec) {
    char digits[32];
    int n = unsignedText(digits + sizeof digits, va_arg(*ap, unsigned long long), 16,
                         "0123456789abcdef");
    putd(S, digits + sizeof digits - n, n, spec);
}

void cvt_p(OutputStream_T S, int, va_list* ap, const Spec& spec) {
    char digits[32];
    auto address = reinterpret_cast<uintptr_t>(va_arg(*ap, void*));
    int n = unsignedText(digits + sizeof digits, address, 16, "0123456789abcdef");
    Spec any = spec;
    any.precision = kUnset;
    putd(S, digits + sizeof digits - n, n, any);
}

void cvt_s(OutputStream_T S, int, va_list* ap, const Spec& spec) {
    const char* str = va_arg(*ap, const char*);
    VIGIL_ASSERT(str);
    int length;
    if (spec.precision != kUnset && spec.precision >= 0)
        length = static_cast<int>(strnlen(str, static_cast<size_t>(spec.precision)));
    else
        length = static_cast<int>(std::strlen(str));
    putPadded(S, str, length, spec);
}

void cvt_f(OutputStream_T S, int code, va_list* ap, const Spec& spec) {
    double value = va_arg(*ap, double);
    int precision = spec.precision == kUnset || spec.precision < 0 ? 6 : spec.precision;
    if (code == 'g' && precision == 0)
        precision = 1;
    VIGIL_ASSERT(precision < 100);
    char format[8] = {'%',
                      '.',
                      static_cast<char>('0' + precision / 10),
                      static_cast<char>('0' + precision % 10),
                      static_cast<char>(code),
                      0};
    // The widest text: a sign, 309 integral digits, the point and 99 decimals, and the terminator.
    char text[412];
    int n = std::snprintf(text, sizeof text, format, value);
    if (n < 0)
        n = 0;
    if (n >= static_cast<int>(sizeof text))
        n = sizeof text - 1;
    // The precision is already applied; zeros never pad infinity or not-a-number.
    Spec digits = spec;
    digits.precision = kUnset;
    if (!std::isfinite(value))
        digits.flags[uc('0')] = 0;
    putd(S, text, n, digits);
}

struct Table {
    Converter entries[256] = {};
    Table() {
        entries[uc('c')] = cvt_c;
        entries[uc('d')] = entries[uc('i')] = cvt_d;
        entries[uc('l')] = cvt_l;
        entries[uc('u')] = cvt_u;
        entries[uc('o')] = cvt_o;
        entries[uc('x')] = cvt_x;
        entries[uc('p')] = cvt_p;
        entries[uc('e')] = entries[uc('f')] = entries[uc('g')] = cvt_f;
        entries[uc('s')] = cvt_s;
    }
};

const Table& table() {
    static const Table t;
    return t;
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// Decimal digits at p as a 32-bit number; overflow is a contract violation.
int number(const unsigned char*& p) {
    int n = 0;
    for (; isDigit(*p); p++) {
        int d = *p - '0';
        VIGIL_ASSERT(n <= (INT_MAX - d) / 10);
        n = n * 10 + d;
    }
    return n;
}

void format(OutputStream_T S, const char* fmt, va_list* ap) {
    const auto* p = reinterpret_cast<const unsigned char*>(fmt);
    while (*p) {
        unsigned char c = *p++;
        if (c != '%') {
            put(S, c);
            continue;
        }
        if (*p == '%') {
            put(S, '%');
            p++;
            continue;
        }
        Spec spec{};
        spec.width = spec.precision = kUnset;
        for (; *p && std::strchr("-+ 0(", *p); p++)
            VIGIL_ASSERT(++spec.flags[*p] < 255);
        if (*p == '*') {
            spec.width = va_arg(*ap, int);
            VIGIL_ASSERT(spec.width != INT_MIN);
            p++;
        } else if (isDigit(*p)) {
            spec.width = number(p);
        }
        if (*p == '.') {
            p++;
            if (*p == '*') {
                spec.precision = va_arg(*ap, int);
                VIGIL_ASSERT(spec.precision != INT_MIN);
                p++;
            } else {
                spec.precision = number(p);
            }
        }
        unsigned char code = *p;
        if (code == 'l') {
            while (*p == 'l')
                p++;  // "ll" as "l"
            code = (*p == 'd' || *p == 'i') ? 'l' : *p;
        }
        if (*p)
            p++;
        Converter convert = table().entries[code];
        VIGIL_ASSERT(convert != nullptr);
        convert(S, code, ap, spec);
    }
}

}  // namespace

OutputStream_T OutputStream_new(int fd) {
    OutputStream_T S = static_cast<OutputStream_T>(CALLOC(1, sizeof(OutputStream_S)));
    S->fd = fd;
    S->timeout = 2000;
    S->cursor = S->buffer;
    S->limit = S->buffer + kBufferSize;
    return S;
}

void OutputStream_free(OutputStream_T* S) {
    VIGIL_ASSERT(S && *S);
    OutputStream_flush(*S);
    FREE(*S);
}

int OutputStream_flush(OutputStream_T S) {
    VIGIL_ASSERT(S);
    if (S->isclosed)
        return -1;
    if (S->cursor == S->buffer)
        return 0;
    return flushStep(S);
}

int OutputStream_getDescriptor(OutputStream_T S) {
    VIGIL_ASSERT(S);
    return S->fd;
}

int OutputStream_buffered(OutputStream_T S) {
    VIGIL_ASSERT(S);
    return static_cast<int>(S->cursor - S->buffer);
}

void OutputStream_setTimeout(OutputStream_T S, int64_t timeout) {
    VIGIL_ASSERT(S);
    VIGIL_ASSERT(timeout >= 0);
    S->timeout = timeout;
}

int64_t OutputStream_getTimeout(OutputStream_T S) {
    VIGIL_ASSERT(S);
    return S->timeout;
}

bool OutputStream_isClosed(OutputStream_T S) {
    VIGIL_ASSERT(S);
    return S->isclosed;
}

int64_t OutputStream_getBytesWritten(OutputStream_T S) {
    VIGIL_ASSERT(S);
    return S->bytesWritten;
}

int OutputStream_print(OutputStream_T S, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = OutputStream_vprint(S, format, ap);
    va_end(ap);
    return n;
}

int OutputStream_vprint(OutputStream_T S, const char* fmt, va_list ap) {
    VIGIL_ASSERT(S);
    VIGIL_ASSERT(fmt);
    if (S->isclosed)
        return -1;
    S->result = 0;
    S->dropping = false;
    va_list args;
    va_copy(args, ap);
    format(S, fmt, &args);
    va_end(args);
    return S->isclosed ? -1 : S->result;
}

int OutputStream_write(OutputStream_T S, const void* bytes, int size) {
    VIGIL_ASSERT(S);
    VIGIL_ASSERT(bytes || size <= 0);
    if (S->isclosed)
        return -1;
    S->result = 0;
    S->dropping = false;
    const auto* b = static_cast<const unsigned char*>(bytes);
    for (int i = 0; i < size; i++)
        if (!put(S, b[i]))
            break;
    return S->isclosed ? -1 : S->result;
}

void OutputStream_clear(OutputStream_T S) {
    VIGIL_ASSERT(S);
    S->cursor = S->buffer;
}
