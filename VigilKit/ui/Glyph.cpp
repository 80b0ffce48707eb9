#include "ui/Glyph.h"

namespace vigil {

namespace {

#define VIGIL_GLYPH_ENTRY(member, name, codePoint) Glyph::Entry{name, codePoint},
constexpr Glyph::Entry kGlyphs[] = {VIGIL_GLYPHS(VIGIL_GLYPH_ENTRY)};
#undef VIGIL_GLYPH_ENTRY

}  // namespace

const Glyph::Entry* Glyph::table() {
    return kGlyphs;
}

size_t Glyph::count() {
    return std::size(kGlyphs);
}

std::optional<QString> Glyph::byName(std::string_view name) {
    for (const Entry& entry : kGlyphs) {
        if (name == entry.name)
            return QString(QChar(entry.codePoint));
    }
    return std::nullopt;
}

}  // namespace vigil
