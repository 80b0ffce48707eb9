#include <QLabel>

#include <string>
#include <vector>

#include "support/QtTestApp.h"
#include "ui/Controls.h"
#include "ui/FUIColor.h"
#include "ui/Thermometer.h"

namespace vigil {
namespace {

using test::click;
using test::qtWaitUntil;
using test::render;
using test::sendEnter;
using test::sendLeave;
using test::sendMouse;

class ControlsTest : public test::QtTest, public Trackable {};

TEST_F(ControlsTest, ButtonHoverPressAndClick) {
    FUIButton button;
    button.resize(80, 30);
    int clicks = 0;
    button.onClicked.listen(*this, [&] { ++clicks; });
    const QColor resting = colorRGBA(26, 188, 156);
    EXPECT_EQ(button.currentColor(), resting);

    sendEnter(button);
    EXPECT_TRUE(button.mouseInside());
    EXPECT_EQ(button.targetColor(), button.hoverColor());
    ASSERT_TRUE(qtWaitUntil([&] { return button.currentColor() == button.hoverColor(); }));
    EXPECT_GT(button.hoverColor().lightness(), resting.lightness());

    sendMouse(button, QEvent::MouseButtonPress, {10, 10});
    EXPECT_EQ(button.targetColor(), button.pressedColor());
    EXPECT_LT(button.pressedColor().lightness(), resting.lightness());
    sendMouse(button, QEvent::MouseButtonRelease, {10, 10});
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button.targetColor(), resting);
    ASSERT_TRUE(qtWaitUntil([&] { return button.currentColor() == resting; }));
    EXPECT_TRUE(test::colorDistance(render(button).pixelColor(40, 15), resting) < 8);
}

TEST_F(ControlsTest, ButtonReleasedOutsideSendsNothing) {
    FUIButton button;
    button.resize(80, 30);
    int clicks = 0;
    button.onClicked.listen(*this, [&] { ++clicks; });
    sendEnter(button);
    sendMouse(button, QEvent::MouseButtonPress, {10, 10});
    sendLeave(button);
    sendMouse(button, QEvent::MouseButtonRelease, {200, 10});
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(button.targetColor(), button.backgroundColor());
    ASSERT_TRUE(qtWaitUntil([&] { return button.currentColor() == button.backgroundColor(); }));
}

TEST_F(ControlsTest, DisabledButtonAndIndicatorStayQuiet) {
    FUIButton button;
    button.resize(80, 30);
    FUIIndicator indicator;
    indicator.resize(10, 10);
    int clicks = 0;
    button.onClicked.listen(*this, [&] { ++clicks; });
    indicator.onClicked.listen(*this, [&] { ++clicks; });
    button.setEnabled(false);
    indicator.setEnabled(false);
    sendEnter(button);
    click(button, {10, 10});
    click(indicator, {5, 5});
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(button.currentColor(), button.backgroundColor());
    EXPECT_FALSE(button.mouseInside());
}

TEST_F(ControlsTest, ButtonBackgroundChangesAtOnceWhileHovered) {
    FUIButton button;
    button.resize(80, 30);
    sendEnter(button);
    button.setBackgroundColor(FUIColor::alizarin());
    EXPECT_EQ(button.currentColor(), FUIColor::alizarin());
    sendLeave(button);
    sendEnter(button);
    EXPECT_EQ(button.targetColor(), blendedColor(FUIColor::alizarin(), 0.15, FUIColor::white()));
}

TEST_F(ControlsTest, LinkColoursAndOpening) {
    FUILink link;
    link.setText(QStringLiteral("vigil"));
    link.resize(60, 20);
    std::vector<QString> opened;
    link.setOpener([&](const QString& url) { opened.push_back(url); });
    link.setTextColor(FUIColor::black());
    link.hoverColor = FUIColor::peterRiver();
    link.activeColor = FUIColor::belizeHole();

    sendEnter(link);
    EXPECT_EQ(link.textColor(), FUIColor::peterRiver());
    sendMouse(link, QEvent::MouseButtonPress, {5, 5});
    EXPECT_EQ(link.textColor(), FUIColor::belizeHole());
    sendMouse(link, QEvent::MouseButtonRelease, {5, 5});
    EXPECT_EQ(link.textColor(), FUIColor::peterRiver());
    EXPECT_TRUE(opened.empty());  // no address: colours only
    sendLeave(link);
    EXPECT_EQ(link.textColor(), FUIColor::black());

    link.url = QStringLiteral("https://example.org/vigil");
    sendEnter(link);
    click(link, {5, 5});
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QStringLiteral("https://example.org/vigil"));
}

TEST_F(ControlsTest, BadLinkAddressesAreRefusedWithOneLine) {
    for (const char* bad : {"", "not a url", "/relative/path", "-x"}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(checkedAddress(QString::fromUtf8(bad), "open link").has_value()) << bad;
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_NE(errors.find("Error: open link -- "), std::string::npos) << errors;
    }
    EXPECT_EQ(*checkedAddress(QStringLiteral(" https://example.org/a?b=c "), "x"),
              QStringLiteral("https://example.org/a?b=c"));
}

TEST_F(ControlsTest, IndicatorClicksAndRedraws) {
    FUIIndicator indicator;
    indicator.resize(12, 12);
    int clicks = 0;
    indicator.onClicked.listen(*this, [&] { ++clicks; });
    click(indicator, {6, 6});
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(indicator.isActive());  // the listener decides
    sendMouse(indicator, QEvent::MouseButtonPress, {6, 6});
    sendMouse(indicator, QEvent::MouseButtonRelease, {40, 6});
    EXPECT_EQ(clicks, 1);
    sendMouse(indicator, QEvent::MouseButtonRelease, {6, 6});  // release without a press
    EXPECT_EQ(clicks, 1);

    indicator.setInactiveColor(FUIColor::black());
    indicator.setActiveColor(FUIColor::alizarin());
    EXPECT_TRUE(test::colorDistance(render(indicator).pixelColor(6, 6), FUIColor::black()) < 8);
    indicator.setIsActive(true);
    EXPECT_TRUE(test::colorDistance(render(indicator).pixelColor(6, 6), FUIColor::alizarin()) < 8);
}

TEST_F(ControlsTest, ThermometerSwingsOncePerChange) {
    Thermometer thermometer;
    thermometer.resize(60, 30);
    thermometer.setValue(ThermalState::nominal);
    EXPECT_EQ(thermometer.rotationCount(), 1);
    ASSERT_NE(thermometer.animation(), nullptr);
    EXPECT_DOUBLE_EQ(thermometer.animation()->startValue().toDouble(), 0.2);
    EXPECT_DOUBLE_EQ(thermometer.animation()->endValue().toDouble(), 0.2);
    thermometer.setValue(ThermalState::nominal);
    EXPECT_EQ(thermometer.rotationCount(), 1);

    thermometer.setValue(ThermalState::critical);
    ASSERT_TRUE(qtWaitUntil([&] { return thermometer.animation() == nullptr; }));
    EXPECT_DOUBLE_EQ(thermometer.needleAngle(), 3.1);

    thermometer.setValue(ThermalState::nominal);
    QVariantAnimation* swing = thermometer.animation();
    ASSERT_NE(swing, nullptr);
    EXPECT_DOUBLE_EQ(swing->startValue().toDouble(), 3.1);
    EXPECT_DOUBLE_EQ(swing->endValue().toDouble(), 0.2);
    EXPECT_EQ(swing->duration(), 400);
    // Ease-in: a quarter of the way in time is well under a quarter of the angle.
    EXPECT_LT(swing->easingCurve().valueForProgress(0.25), 0.12);
    EXPECT_NEAR(swing->easingCurve().valueForProgress(0.5), 0.315, 0.02);
    EXPECT_NEAR(swing->easingCurve().valueForProgress(1.0), 1.0, 1e-9);
    ASSERT_TRUE(qtWaitUntil([&] { return thermometer.animation() == nullptr; }));
    EXPECT_DOUBLE_EQ(thermometer.needleAngle(), 0.2);

    thermometer.setValue(std::nullopt);  // absent leaves the needle alone
    EXPECT_EQ(thermometer.rotationCount(), 3);
    EXPECT_DOUBLE_EQ(thermometer.needleAngle(), 0.2);
}

}  // namespace
}  // namespace vigil
