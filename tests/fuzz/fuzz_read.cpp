// The number and text helpers every platform parser is built on: parseU64/I64/Double/Hex, trim,
// nextWord and cleanUtf8. Results are checked against what the helpers promise.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Read.h"

using namespace vigil::platform;

namespace {

// A strict UTF-8 check (no overlongs, no surrogates, nothing above U+10FFFF).
bool validUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; k++) {
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto v = parseU64(text)) {
        if (std::to_string(*v).size() > size)
            __builtin_trap();
    }
    (void)parseI64(text);
    (void)parseDouble(text);
    (void)parseHex(text);
    std::string_view trimmed = trim(text);
    if (trimmed.size() > size)
        __builtin_trap();
    std::string_view rest = text;
    size_t words = 0;
    while (!nextWord(rest).empty()) {
        if (++words > size)
            __builtin_trap();
    }
    size_t max = size ? data[0] : 0;
    std::string clean = cleanUtf8(text, max);
    if (clean.size() > max || !validUtf8(clean))
        __builtin_trap();
    std::string full = cleanUtf8(text);
    if (!validUtf8(full))
        __builtin_trap();
    return 0;
}
