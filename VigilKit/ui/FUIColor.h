#pragma once

#include <QColor>

#include <cstdint>
#include <optional>
#include <string_view>

namespace vigil {

// The flat palette. Every operation builds a fresh colour; named colours take an alpha (default
// 1.0), the brand colours are always opaque.
class FUIColor {
  public:
    static QColor brandPrimary() { return rgba(52, 73, 94, 1.0); }
    static QColor wetAsphalt(double alpha = 1.0) { return rgba(52, 73, 94, alpha); }
    static QColor brandSecondary() { return rgba(26, 188, 156, 1.0); }
    static QColor turquoise(double alpha = 1.0) { return rgba(26, 188, 156, alpha); }
    static QColor brandSuccess() { return rgba(46, 204, 113, 1.0); }
    static QColor emerald(double alpha = 1.0) { return rgba(46, 204, 113, alpha); }
    static QColor brandWarning() { return rgba(241, 196, 15, 1.0); }
    static QColor sunflower(double alpha = 1.0) { return rgba(241, 196, 15, alpha); }
    static QColor brandDanger() { return rgba(231, 76, 60, 1.0); }
    static QColor alizarin(double alpha = 1.0) { return rgba(231, 76, 60, alpha); }
    static QColor brandInfo() { return rgba(52, 152, 219, 1.0); }
    static QColor peterRiver(double alpha = 1.0) { return rgba(52, 152, 219, alpha); }
    static QColor white(double alpha = 1.0) { return rgba(255, 255, 255, alpha); }
    static QColor black(double alpha = 1.0) { return rgba(0, 0, 0, alpha); }
    static QColor transparent() { return rgba(255, 255, 255, 0.0); }
    static QColor greenSea(double alpha = 1.0) { return rgba(22, 160, 133, alpha); }
    static QColor nephritis(double alpha = 1.0) { return rgba(39, 174, 96, alpha); }
    static QColor belizeHole(double alpha = 1.0) { return rgba(41, 128, 185, alpha); }
    static QColor amethyst(double alpha = 1.0) { return rgba(155, 89, 182, alpha); }
    static QColor wisteria(double alpha = 1.0) { return rgba(142, 68, 173, alpha); }
    static QColor midnightBlue(double alpha = 1.0) { return rgba(44, 62, 80, alpha); }
    static QColor orange(double alpha = 1.0) { return rgba(243, 156, 18, alpha); }
    static QColor carrot(double alpha = 1.0) { return rgba(230, 126, 34, alpha); }
    static QColor pumpkin(double alpha = 1.0) { return rgba(211, 84, 0, alpha); }
    static QColor pomegranate(double alpha = 1.0) { return rgba(192, 57, 43, alpha); }
    static QColor clouds(double alpha = 1.0) { return rgba(236, 240, 241, alpha); }
    static QColor silver(double alpha = 1.0) { return rgba(189, 195, 199, alpha); }
    static QColor concrete(double alpha = 1.0) { return rgba(149, 165, 166, alpha); }
    static QColor asbestos(double alpha = 1.0) { return rgba(127, 140, 141, alpha); }

  private:
    static QColor rgba(int r, int g, int b, double a);
};

// Integer components 0-255 (clamped), alpha 0-1 (clamped; NaN counts as opaque).
QColor colorRGBA(int r, int g, int b, double alpha = 1.0);

// 0xRRGGBB; no colour when the value is negative or above 0xFFFFFF.
std::optional<QColor> colorFromHex(int64_t hex, float alpha = 1.0f);

// "#rgb", "rgb", "#rrggbb" or "rrggbb" (hexadecimal digits only, either case). Anything else gives
// no colour: other lengths, a lone "#", signs, spaces or non-hexadecimal characters.
std::optional<QColor> colorFromHexString(std::string_view text, double alpha = 1.0);

// `color` moved `fraction` (0-1) of the way towards `towards`, alpha included.
QColor blendedColor(const QColor& color, double fraction, const QColor& towards);

}  // namespace vigil
