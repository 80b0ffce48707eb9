#include "C/util/Str.h"

#include <regex.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "C/system/Mem.h"
#include "C/system/System.h"

namespace {
bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
int upper(char c) {
    return std::toupper(static_cast<unsigned char>(c));
}

// Ends the process for a text that did not parse, naming the caller.
[[noreturn]] void numberFormat(const char* s, int error, const char* func, int line) {
    if (!s || !*s)
        System_abort("NumberFormatException: For input string null\n raised in %s at %s:%d\n", func,
                     System_unit(__FILE__), line);
    System_abort("NumberFormatException: For input string %s -- %s\n raised in %s at %s:%d\n", s,
                 System_getError(error), func, System_unit(__FILE__), line);
}

// The error of a strtol-style parse: the system's error, or EINVAL when no digit was consumed.
int parseError(const char* s, const char* end) {
    if (errno)
        return errno;
    if (end == s)
        return EINVAL;
    return 0;
}
}  // namespace

char* Str_chomp(char* s) {
    if (s)
        s[std::strcspn(s, "\r\n")] = 0;
    return s;
}

char* Str_trim(char* s) {
    return Str_ltrim(Str_rtrim(s));
}

char* Str_ltrim(char* s) {
    if (s && *s && isSpace(*s)) {
        char* p = s;
        while (isSpace(*p))
            p++;
        std::memmove(s, p, std::strlen(p) + 1);
    }
    return s;
}

char* Str_rtrim(char* s) {
    if (s && *s) {
        size_t n = std::strlen(s);
        while (n > 0 && isSpace(s[n - 1]))
            n--;
        s[n] = 0;
    }
    return s;
}

char* Str_wtrim(char* s) {
    if (s && *s) {
        char* out = s;
        for (const char* in = s; *in;) {
            if (isSpace(*in) && isSpace(in[1])) {
                while (isSpace(*in))
                    in++;
                *out++ = ' ';
            } else {
                *out++ = *in++;
            }
        }
        *out = 0;
    }
    return s;
}

char* Str_unquote(char* s) {
    if (s && *s) {
        auto isQuote = [](char c) { return c == '"' || c == '\'' || isSpace(c); };
        char* p = s;
        while (isQuote(*p))
            p++;
        if (p != s)
            std::memmove(s, p, std::strlen(p) + 1);
        size_t n = std::strlen(s);
        while (n > 1 && isQuote(s[n - 1]))
            n--;  // the first character stays
        s[n] = 0;
    }
    return s;
}

char* Str_toLower(char* s) {
    if (s)
        for (char* p = s; *p; p++)
            *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return s;
}

char* Str_toUpper(char* s) {
    if (s)
        for (char* p = s; *p; p++)
            *p = static_cast<char>(upper(*p));
    return s;
}

namespace {
// Parses with a strtol-style conversion; a text without digits, an error or a value outside
// [min, max] ends the process naming the caller.
template <typename T, typename Convert>
T parseNumber(const char* s, Convert convert, T min, T max, const char* func, int line) {
    if (!s || !*s)
        numberFormat(s, 0, func, line);
    char* end = nullptr;
    errno = 0;
    auto value = convert(s, &end);
    int error = parseError(s, end);
    if (!error && (value < min || value > max))
        error = ERANGE;
    if (error)
        numberFormat(s, error, func, line);
    return static_cast<T>(value);
}
}  // namespace

int Str_parseInt(const char* s) {
    // A number outside 32 bits is out of range rather than silently cut to its low bits.
    return parseNumber<int>(
        s, [](const char* t, char** end) { return std::strtol(t, end, 10); }, INT_MIN, INT_MAX,
        __func__, __LINE__);
}

long long Str_parseLLong(const char* s) {
    return parseNumber<long long>(
        s, [](const char* t, char** end) { return std::strtoll(t, end, 10); }, LLONG_MIN, LLONG_MAX,
        __func__, __LINE__);
}

double Str_parseDouble(const char* s) {
    return parseNumber<double>(
        s, [](const char* t, char** end) { return std::strtod(t, end); }, -HUGE_VAL, HUGE_VAL,
        __func__, __LINE__);
}

char* Str_replaceChar(char* s, char old, char with) {
    if (s)
        for (char* p = s; *p; p++)
            if (*p == old)
                *p = with;
    return s;
}

bool Str_startsWith(const char* a, const char* b) {
    if (!a || !b)
        return false;
    for (; *b; a++, b++)
        if (!*a || upper(*a) != upper(*b))
            return false;
    return true;
}

bool Str_endsWith(const char* a, const char* b) {
    if (!a || !b)
        return false;
    size_t na = std::strlen(a), nb = std::strlen(b);
    if (nb > na)
        return false;
    return Str_isEqual(a + (na - nb), b);
}

char* Str_sub(const char* a, const char* b) {
    if (!a || !b || !*a || !*b)
        return nullptr;
    for (const char* p = a; *p; p++)
        if (Str_startsWith(p, b))
            return const_cast<char*>(p);
    return nullptr;
}

bool Str_has(const char* s, const char* chars) {
    if (!s || !chars || !*chars)
        return false;
    return std::strpbrk(s, chars) != nullptr;
}

char* Str_unescape(const char* chars, char* s) {
    if (s && *s && chars && *chars) {
        char* out = s;
        for (const char* in = s; *in; in++) {
            if (*in == '\\' && in[1] && std::strchr(chars, in[1]))
                continue;
            *out++ = *in;
        }
        *out = 0;
    }
    return s;
}

bool Str_isEqual(const char* a, const char* b) {
    if (!a || !b)
        return false;
    for (; *a && *b; a++, b++)
        if (upper(*a) != upper(*b))
            return false;
    return *a == *b;
}

bool Str_isByteEqual(const char* a, const char* b) {
    if (!a || !b)
        return false;
    return std::strcmp(a, b) == 0;
}

char* Str_copy(char* dest, const char* src, int n) {
    VIGIL_ASSERT(dest);
    if (!src || n < 1) {
        *dest = 0;
        return dest;
    }
    int i = 0;
    for (; i < n && src[i]; i++)
        dest[i] = src[i];
    dest[i] = 0;
    return dest;
}

char* Str_dup(const char* s) {
    if (!s)
        return nullptr;
    size_t n = std::strlen(s) + 1;
    char* t = static_cast<char*>(ALLOC(static_cast<long>(n)));
    std::memcpy(t, s, n);
    return t;
}

char* Str_ndup(const char* s, int n) {
    VIGIL_ASSERT(n >= 0);
    if (!s)
        return nullptr;
    size_t len = strnlen(s, static_cast<size_t>(n));
    char* t = static_cast<char*>(ALLOC(static_cast<long>(len) + 1));
    std::memcpy(t, s, len);
    t[len] = 0;
    return t;
}

char* _Str_join(char* dest, int n, ...) {
    VIGIL_ASSERT(dest);
    int i = 0;
    if (n > 0) {
        va_list ap;
        va_start(ap, n);
        for (const char* p = va_arg(ap, const char*); p && i < n; p = va_arg(ap, const char*))
            for (; *p && i < n; p++)
                dest[i++] = *p;
        va_end(ap);
    }
    dest[i] = 0;
    return dest;
}

char* Str_cat(const char* format, ...) {
    if (!format)
        return nullptr;
    va_list ap;
    va_start(ap, format);
    char* t = Str_vcat(format, ap);
    va_end(ap);
    return t;
}

char* Str_vcat(const char* format, va_list ap) {
    if (!format)
        return nullptr;
    va_list measure;
    va_copy(measure, ap);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    VIGIL_ASSERT(n >= 0);
    char* t = static_cast<char*>(ALLOC(static_cast<long>(n) + 1));
    std::vsnprintf(t, static_cast<size_t>(n) + 1, format, ap);
    return t;
}

char* Str_trunc(char* s, int n) {
    VIGIL_ASSERT(n >= 0);
    if (s && std::strlen(s) > static_cast<size_t>(n) + 4)
        std::memcpy(s + n, "...", 4);
    return s;
}

char* Str_curtail(char* s, const char* t) {
    if (char* p = Str_sub(s, t))
        *p = 0;
    return s;
}

bool Str_lim(const char* s, int limit) {
    // clang-format off
    VIGIL_ASSERT(limit>=0);
    // clang-format on
    return s && *s && std::strlen(s) > static_cast<size_t>(limit);
}

bool Str_match(const char* pattern, const char* s) {
    VIGIL_ASSERT(pattern);
    if (!s || !*s)
        return false;
    regex_t regex;
    int status = regcomp(&regex, pattern, REG_EXTENDED | REG_NOSUB);
    if (status != 0) {
        char error[256];
        regerror(status, &regex, error, sizeof error);
        regfree(&regex);
        VIGIL_RAISE("AssertException", "regular expression error -- %s", error);
    }
    bool matched = regexec(&regex, s, 0, nullptr, 0) == 0;
    regfree(&regex);
    return matched;
}

uint64_t Str_hash(const char* s) {
    uint64_t h = 0;
    if (s)
        for (; *s; s++) {
            h = (h << 4) +
                static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(*s)));
            uint64_t g = h & 0xF0000000u;
            if (g)
                h ^= g >> 24;
            h &= ~g;
        }
    return h;
}

int Str_cmp(const char* a, const char* b) {
    VIGIL_ASSERT(a && b);
    return std::strcmp(a, b);
}

char* Str_basename(char* s) {
    if (!s)
        return s;
    char* slash = std::strrchr(s, '/');
    return slash ? slash + 1 : s;
}

char* Str_dirname(char* s) {
    if (s && *s) {
        char* slash = std::strrchr(s, '/');
        if (slash) {
            slash[1] = 0;
        } else {
            s[0] = '.';
            s[1] = 0;
        }
    }
    return s;
}
