// Hex colour texts of the views. A text gives a colour only when it is "#rgb", "rgb", "#rrggbb" or
// "rrggbb" in hexadecimal digits, and then exactly the colour those digits spell, fully opaque.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "ui/FUIColor.h"

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int digitValue(char c) {
    if (c <= '9')
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

// The colour the text spells, worked out independently of the parser.
std::optional<QRgb> expectedColour(std::string_view text) {
    if (!text.empty() && text.front() == '#')
        text.remove_prefix(1);
    if (text.size() != 3 && text.size() != 6)
        return std::nullopt;
    for (char c : text)
        if (!isHexDigit(c))
            return std::nullopt;
    int r, g, b;
    if (text.size() == 3) {
        r = digitValue(text[0]) * 17;
        g = digitValue(text[1]) * 17;
        b = digitValue(text[2]) * 17;
    } else {
        r = digitValue(text[0]) * 16 + digitValue(text[1]);
        g = digitValue(text[2]) * 16 + digitValue(text[3]);
        b = digitValue(text[4]) * 16 + digitValue(text[5]);
    }
    return qRgba(r, g, b, 255);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto colour = vigil::colorFromHexString(text);
    const auto expected = expectedColour(text);
    if (colour.has_value() != expected.has_value())
        __builtin_trap();
    if (colour && (!colour->isValid() || colour->rgba() != *expected))
        __builtin_trap();
    // A colour from any text must also survive an odd alpha without leaving 0-1.
    if (const auto faint = vigil::colorFromHexString(text, -3.0); faint && faint->alphaF() != 0.0f)
        __builtin_trap();
    return 0;
}
