#pragma once

#include <QFont>
#include <QString>

#include <optional>

namespace vigil {

// The text faces (Lato) and the glyph face (Fork Awesome), registered from the installed font
// files. A face that was not registered gives no font; the caller falls back to its own.
class FUIFont {
  public:
    static constexpr const char* kLatoDirectory = "/usr/share/fonts/truetype/lato";
    static constexpr const char* kGlyphFontFile =
        "/usr/share/fonts/truetype/fork-awesome/forkawesome-webfont.ttf";
    // The face name that glyph(size) asks for.
    static constexpr const char* kGlyphFace = "Flat-UI-Pro-Icons";

    // Registers the five Lato faces from `latoDirectory` and the glyph face from `glyphFile`.
    // Returns how many faces are usable afterwards; each missing file gives one error line.
    // Safe to call again (already registered faces are kept). Needs a QGuiApplication.
    static int registerFonts(const QString& latoDirectory = kLatoDirectory,
                             const QString& glyphFile = kGlyphFontFile);

    static std::optional<QFont> normal(double size) { return font("Lato-Regular", size); }
    static std::optional<QFont> light(double size) { return font("Lato-Light", size); }
    static std::optional<QFont> bold(double size) { return font("Lato-Bold", size); }
    static std::optional<QFont> italic(double size) { return font("Lato-Italic", size); }
    static std::optional<QFont> black(double size) { return font("Lato-Black", size); }
    static std::optional<QFont> glyph(double size) { return font(kGlyphFace, size); }

    // The registered face of that name at `size` points; none when it is not registered or the
    // size is not a positive finite number.
    static std::optional<QFont> font(const QString& faceName, double size);
};

}  // namespace vigil
