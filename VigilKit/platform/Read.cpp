#include "platform/Read.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace vigil::platform {

void resetReportedErrors() {
    ErrorReport::shared().forget();
}

int openForReading(const std::string& path, Outcome* outcome, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        *outcome = Outcome::value;
        return fd;
    }
    const int e = errno;
    if (e == ENOENT || e == ENOTDIR) {
        *outcome = Outcome::absent;
        return -1;
    }
    *outcome = Outcome::failure;
    if (error)
        *error = path + ": " + std::strerror(e);
    return -1;
}

Outcome readDescriptor(int fd, ReadFrom from, const std::string& path, std::string& out,
                       std::string* error, std::size_t limit) {
    out.clear();
    if (out.capacity() < 4096)
        out.reserve(4096);
    for (;;) {
        std::size_t used = out.size();
        if (out.capacity() - used < 1024)
            out.reserve(out.capacity() * 2);
        out.resize(out.capacity());
        const ssize_t n =
            from == ReadFrom::start
                ? ::pread(fd, out.data() + used, out.size() - used, static_cast<off_t>(used))
                : ::read(fd, out.data() + used, out.size() - used);
        if (n < 0) {
            if (errno == EINTR) {
                out.resize(used);
                continue;
            }
            const int e = errno;
            out.clear();
            if (error)
                *error = path + ": " + std::strerror(e);
            return Outcome::failure;
        }
        out.resize(used + static_cast<std::size_t>(n));
        if (n == 0)
            return Outcome::value;
        if (out.size() > limit) {
            out.clear();
            if (error)
                *error = path + ": file larger than expected";
            return Outcome::failure;
        }
    }
}

Outcome readFileInto(const std::string& path, std::string& out, std::string* error,
                     std::size_t limit) {
    out.clear();
    Outcome opened;
    const int fd = openForReading(path, &opened, error);
    if (fd < 0)
        return opened;
    const Outcome outcome = readDescriptor(fd, ReadFrom::position, path, out, error, limit);
    ::close(fd);
    return outcome;
}

Read<std::string> readFile(const std::string& path, std::size_t limit) {
    std::string text, error;
    switch (readFileInto(path, text, &error, limit)) {
        case Outcome::value:
            return Read<std::string>::of(std::move(text));
        case Outcome::absent:
            return Read<std::string>::absent();
        case Outcome::failure:
            break;
    }
    return Read<std::string>::failure(std::move(error));
}

Read<std::string> readAttribute(const std::string& path) {
    auto r = readFile(path, 64 << 10);
    if (!r)
        return r;
    std::string_view v = r.value;
    if (auto nl = v.find('\n'); nl != std::string_view::npos)
        v = v.substr(0, nl);
    return Read<std::string>::of(std::string(trim(v)));
}

std::string joinRoot(std::string_view root, std::string_view path) {
    std::string out(root);
    while (!out.empty() && out.back() == '/')
        out.pop_back();
    if (path.empty() || path.front() != '/')
        out.push_back('/');
    out.append(path);
    return out;
}

std::string_view trim(std::string_view s) {
    auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::optional<std::uint64_t> parseU64(std::string_view s) {
    std::uint64_t v = 0;
    if (!parseNumber(s, v))
        return std::nullopt;
    return v;
}

std::optional<std::int64_t> parseI64(std::string_view s) {
    std::int64_t v = 0;
    if (!parseNumber(s, v))
        return std::nullopt;
    return v;
}

std::optional<double> parseDouble(std::string_view s) {
    if (s.empty())
        return std::nullopt;
    double v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size() || v != v)
        return std::nullopt;
    return v;
}

std::optional<std::uint64_t> parseHex(std::string_view s) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s.remove_prefix(2);
    if (s.empty())
        return std::nullopt;
    std::uint64_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    if (ec != std::errc() || p != s.data() + s.size())
        return std::nullopt;
    return v;
}

std::string_view nextWord(std::string_view& s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    std::size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t' && s[j] != '\n')
        ++j;
    std::string_view word = s.substr(i, j - i);
    s.remove_prefix(j);
    return word;
}

std::string cleanUtf8(std::string_view s, std::size_t max) {
    static const char replacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(s.size() < 256 ? s.size() : 256);
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
        bool valid = len > 0 && i + len <= s.size();
        for (std::size_t k = 1; valid && k < len; ++k) {
            valid = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        }
        if (valid && len == 2 && c < 0xC2)
            valid = false;  // overlong
        if (valid && len >= 3) {
            // The second byte's range rules out overlong forms, UTF-16 surrogates (U+D800 to
            // U+DFFF) and anything above U+10FFFF.
            const auto c1 = static_cast<unsigned char>(s[i + 1]);
            if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) ||
                (c == 0xF4 && c1 > 0x8F) || c > 0xF4)
                valid = false;
        }
        std::string_view piece = valid ? s.substr(i, len) : std::string_view(replacement, 3);
        if (max != std::string::npos && out.size() + piece.size() > max)
            break;
        out.append(piece);
        i += valid ? len : 1;
    }
    return out;
}

}  // namespace vigil::platform
