#include <QFontInfo>
#include <QPainter>
#include <QRawFont>
#include <QTemporaryDir>

#include <cmath>
#include <set>
#include <string>

#include "support/QtTestApp.h"
#include "ui/FUIColor.h"
#include "ui/FUIFont.h"
#include "ui/Glyph.h"

namespace vigil {
namespace {

void expectRGBA(const std::optional<QColor>& color, int r, int g, int b, double a) {
    ASSERT_TRUE(color.has_value());
    EXPECT_EQ(color->red(), r);
    EXPECT_EQ(color->green(), g);
    EXPECT_EQ(color->blue(), b);
    EXPECT_NEAR(color->alphaF(), a, 1e-3);
}

TEST(FUIColorTest, PaletteEntriesAndAlpha) {
    expectRGBA(FUIColor::brandPrimary(), 52, 73, 94, 1.0);
    expectRGBA(FUIColor::wetAsphalt(0.5), 52, 73, 94, 0.5);
    expectRGBA(FUIColor::turquoise(), 26, 188, 156, 1.0);
    expectRGBA(FUIColor::emerald(), 46, 204, 113, 1.0);
    expectRGBA(FUIColor::asbestos(0.25), 127, 140, 141, 0.25);
    expectRGBA(FUIColor::pumpkin(), 211, 84, 0, 1.0);
    // Transparent is white with no alpha, not black.
    expectRGBA(FUIColor::transparent(), 255, 255, 255, 0.0);
    // Out-of-range alpha never yields an invalid colour.
    expectRGBA(FUIColor::white(7.0), 255, 255, 255, 1.0);
    expectRGBA(FUIColor::black(std::nan("")), 0, 0, 0, 1.0);
    expectRGBA(colorRGBA(300, -4, 128, -1), 255, 0, 128, 0.0);
}

TEST(FUIColorTest, HexStrings) {
    expectRGBA(colorFromHexString("#fff"), 255, 255, 255, 1.0);
    expectRGBA(colorFromHexString("fff"), 255, 255, 255, 1.0);
    expectRGBA(colorFromHexString("#ffffff"), 255, 255, 255, 1.0);
    expectRGBA(colorFromHexString("abc", 0.5), 0xAA, 0xBB, 0xCC, 0.5);
    expectRGBA(colorFromHexString("#3498DB"), 52, 152, 219, 1.0);
    for (const char* bad : {"#ffff", "#", "", "#gg0000", "-ff", "+ff", " fff", "#ff ", "##fff",
                            "0x123", "fffffff", "#12345", "f\xc3\xa9"}) {
        EXPECT_FALSE(colorFromHexString(bad).has_value()) << "accepted '" << bad << "'";
    }
    // Text that is not NUL-terminated where the view ends is read only up to the view's end.
    const std::string longer = "#00ff00zz";
    expectRGBA(colorFromHexString(std::string_view(longer).substr(0, 7)), 0, 255, 0, 1.0);
}

TEST(FUIColorTest, HexIntegers) {
    expectRGBA(colorFromHex(0xFF0000), 255, 0, 0, 1.0);
    expectRGBA(colorFromHex(0), 0, 0, 0, 1.0);
    expectRGBA(colorFromHex(0xFFFFFF, 0.5f), 255, 255, 255, 0.5);
    EXPECT_FALSE(colorFromHex(0xFFFFFF + 1).has_value());
    EXPECT_FALSE(colorFromHex(-1).has_value());
}

TEST(FUIColorTest, Blending) {
    const QColor hover = blendedColor(colorRGBA(26, 188, 156), 0.15, FUIColor::white());
    EXPECT_NEAR(hover.redF(), (26 + (255 - 26) * 0.15) / 255.0, 1e-3);
    EXPECT_NEAR(hover.greenF(), (188 + (255 - 188) * 0.15) / 255.0, 1e-3);
    const QColor pressed = blendedColor(colorRGBA(26, 188, 156), 0.15, FUIColor::black());
    EXPECT_NEAR(pressed.blueF(), 156 * 0.85 / 255.0, 1e-3);
    EXPECT_EQ(blendedColor(FUIColor::alizarin(), std::nan(""), FUIColor::white()),
              FUIColor::alizarin());
}

class FontTest : public test::QtTest {};

TEST_F(FontTest, LatoFacesResolveToTheirStyles) {
    const auto regular = FUIFont::normal(12);
    ASSERT_TRUE(regular.has_value()) << "fonts-lato missing?";
    EXPECT_EQ(QFontInfo(*regular).family(), QStringLiteral("Lato"));
    EXPECT_DOUBLE_EQ(regular->pointSizeF(), 12.0);
    const auto bold = FUIFont::bold(14);
    ASSERT_TRUE(bold.has_value());
    EXPECT_EQ(QFontInfo(*bold).styleName(), QStringLiteral("Bold"));
    const auto light = FUIFont::light(14);
    ASSERT_TRUE(light.has_value());
    EXPECT_EQ(QFontInfo(*light).styleName(), QStringLiteral("Light"));
    EXPECT_EQ(QFontInfo(*FUIFont::italic(10)).styleName(), QStringLiteral("Italic"));
    EXPECT_EQ(QFontInfo(*FUIFont::black(10)).styleName(), QStringLiteral("Black"));
}

TEST_F(FontTest, MissingFacesGiveNoFont) {
    EXPECT_FALSE(FUIFont::font(QStringLiteral("Lato-Nonexistent"), 12).has_value());
    EXPECT_FALSE(FUIFont::normal(0).has_value());
    EXPECT_FALSE(FUIFont::normal(std::nan("")).has_value());
}

TEST_F(FontTest, RegisteringFromAMissingFolderSaysSoAndKeepsGoing) {
    QTemporaryDir empty;
    // Faces already registered stay usable; nothing new is found in an empty folder.
    testing::internal::CaptureStderr();
    const int usable = FUIFont::registerFonts(empty.path(), empty.filePath("none.ttf"));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(usable, 6);  // all six were registered at start-up
    EXPECT_TRUE(errors.empty()) << errors;
    EXPECT_TRUE(FUIFont::normal(12).has_value());
}

TEST_F(FontTest, EveryGlyphIsInTheGlyphFont) {
    ASSERT_EQ(Glyph::count(), 114u);
    const QRawFont raw(QString::fromLatin1(FUIFont::kGlyphFontFile), 16);
    ASSERT_TRUE(raw.isValid()) << "fonts-fork-awesome missing?";
    std::set<std::string> names;
    std::set<char16_t> codes;
    for (size_t i = 0; i < Glyph::count(); ++i) {
        const Glyph::Entry& entry = Glyph::table()[i];
        EXPECT_TRUE(raw.supportsCharacter(QChar(entry.codePoint))) << entry.name;
        names.insert(entry.name);
        codes.insert(entry.codePoint);
    }
    EXPECT_EQ(names.size(), Glyph::count());
    EXPECT_EQ(codes.size(), Glyph::count());
    EXPECT_EQ(Glyph::cloud(), QString(QChar(0xF0C2)));
    EXPECT_EQ(*Glyph::byName("new"), Glyph::new_());
    EXPECT_EQ(*Glyph::byName("phone"), Glyph::phone());
    EXPECT_FALSE(Glyph::byName("nope").has_value());
}

TEST_F(FontTest, GlyphsDrawOffscreen) {
    const auto face = FUIFont::glyph(24);
    ASSERT_TRUE(face.has_value());
    QImage image(40, 40, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setFont(*face);
        painter.setPen(Qt::black);
        painter.drawText(image.rect(), Qt::AlignCenter, Glyph::gear());
    }
    int inked = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            inked += qAlpha(image.pixel(x, y)) > 128;
    }
    EXPECT_GT(inked, 100) << "the gear glyph drew nothing: no glyph font offscreen?";
}

}  // namespace
}  // namespace vigil
