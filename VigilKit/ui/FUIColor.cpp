#include "ui/FUIColor.h"

#include <algorithm>
#include <cmath>

namespace vigil {

namespace {

double clampAlpha(double alpha) {
    if (std::isnan(alpha))
        return 1.0;
    return std::clamp(alpha, 0.0, 1.0);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

QColor FUIColor::rgba(int r, int g, int b, double a) {
    return colorRGBA(r, g, b, a);
}

QColor colorRGBA(int r, int g, int b, double alpha) {
    QColor color;
    color.setRgbF(std::clamp(r, 0, 255) / 255.0f, std::clamp(g, 0, 255) / 255.0f,
                  std::clamp(b, 0, 255) / 255.0f, static_cast<float>(clampAlpha(alpha)));
    return color;
}

std::optional<QColor> colorFromHex(int64_t hex, float alpha) {
    if (hex < 0 || hex > 0xFFFFFF)
        return std::nullopt;
    return colorRGBA(static_cast<int>((hex >> 16) & 0xFF), static_cast<int>((hex >> 8) & 0xFF),
                     static_cast<int>(hex & 0xFF), alpha);
}

std::optional<QColor> colorFromHexString(std::string_view text, double alpha) {
    if (!text.empty() && text.front() == '#')
        text.remove_prefix(1);
    if (text.size() != 3 && text.size() != 6)
        return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    if (text.size() == 3) {
        return colorRGBA(static_cast<int>((value >> 8) & 0xF) * 17,
                         static_cast<int>((value >> 4) & 0xF) * 17,
                         static_cast<int>(value & 0xF) * 17, alpha);
    }
    return colorRGBA(static_cast<int>((value >> 16) & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                     static_cast<int>(value & 0xFF), alpha);
}

QColor blendedColor(const QColor& color, double fraction, const QColor& towards) {
    const double f = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    const auto mix = [f](float a, float b) { return static_cast<float>(a + (b - a) * f); };
    QColor result;
    result.setRgbF(mix(color.redF(), towards.redF()), mix(color.greenF(), towards.greenF()),
                   mix(color.blueF(), towards.blueF()), mix(color.alphaF(), towards.alphaF()));
    return result;
}

}  // namespace vigil
