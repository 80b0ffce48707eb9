#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

#include "TodayViewController.h"
#include "TodayViewControllerSupport.h"
#include "Vigil_Today/CPUMemoryTestSupport.h"
#include "host/PanelMenu.h"
#include "host/PanelWindow.h"
#include "settings/WidgetDefaults.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"

namespace vigil {
namespace {

class ThemeTest : public test::QtTest {};

TEST_F(ThemeTest, PaletteOfBothThemes) {
    const Themes& light = Themes::light();
    const Themes& dark = Themes::dark();
    EXPECT_FALSE(light.isDark);
    EXPECT_FALSE(light.backgroundColor.has_value());
    EXPECT_EQ(light.labelColor, QColor(0, 0, 0));
    EXPECT_EQ(light.titleLabelColor, QColor(52, 73, 94));
    EXPECT_EQ(light.warningColor, QColor(160, 92, 0));
    EXPECT_EQ(light.dangerColor, QColor(192, 57, 43));
    EXPECT_TRUE(dark.isDark);
    EXPECT_EQ(dark.backgroundColor, QColor(44, 62, 80));
    EXPECT_EQ(dark.controllerColor, QColor(236, 240, 241));
    EXPECT_EQ(dark.titleLabelColor, QColor(189, 195, 199));
    EXPECT_EQ(dark.successColor, QColor(46, 204, 113));
    EXPECT_EQ(dark.muteColor, light.muteColor);
    EXPECT_EQ(&Themes::light(), &light);  // made once
}

// WCAG 2 relative luminance and contrast ratio, worked out here from the colours' components.
double relativeLuminance(const QColor& c) {
    const auto channel = [](int value) {
        const double v = value / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour a fraction of `over` shows on `under`: a gauge's track is its arc at 20 %.
QColor blended(const QColor& over, double alpha, const QColor& under) {
    const auto mix = [alpha](int a, int b) {
        return int(std::lround(a * alpha + b * (1 - alpha)));
    };
    return QColor(mix(over.red(), under.red()), mix(over.green(), under.green()),
                  mix(over.blue(), under.blue()));
}

TEST_F(ThemeTest, TextAndGaugesMeetWcagAAInBothThemes) {
    // The light theme draws on the panel's own background.
    EXPECT_NEAR(contrast(QColor(0, 0, 0), QColor(255, 255, 255)), 21.0, 0.01);
    EXPECT_NEAR(contrast(QColor(52, 73, 94), QColor(245, 246, 247)), 8.59, 0.01);
    for (const Themes* theme : {&Themes::light(), &Themes::dark()}) {
        SCOPED_TRACE(theme->isDark ? "dark" : "light");
        const QColor background = theme->backgroundColor.value_or(PanelColors{}.background);
        const std::pair<const char*, QColor> texts[] = {
            {"label", theme->labelColor},      {"title", theme->titleLabelColor},
            {"link (info)", theme->infoColor}, {"good (success)", theme->successColor},
            {"warning", theme->warningColor},  {"error (danger)", theme->dangerColor}};
        for (const auto& [what, color] : texts)
            EXPECT_GE(contrast(color, background), 4.5)
                << what << " text " << color.name().toStdString();
        const std::pair<const char*, QColor> arcs[] = {{"success", theme->successColor},
                                                       {"warning", theme->warningColor},
                                                       {"danger", theme->dangerColor},
                                                       {"info (charging)", theme->infoColor},
                                                       {"controller", theme->controllerColor}};
        for (const auto& [what, color] : arcs) {
            const QColor track = blended(color, 0.2, background);
            EXPECT_GE(contrast(color, track), 3.0) << what << " arc " << color.name().toStdString();
        }
    }
}

TEST_F(ThemeTest, ManagerStartsFromTheSettingAndFiresOncePerAssignment) {
    test::TempDefaults store;
    {
        ThemeManager manager(store.defaults);
        EXPECT_EQ(manager.activeTheme(), Themes::light());  // absent reads 0
        ASSERT_EQ(manager.themes.size(), 2u);
        EXPECT_EQ(manager.onThemeChange.fireCount(), 0);
    }
    store.defaults.set(WidgetDefaultsKeys::theme(), int64_t{1});
    ThemeManager manager(store.defaults);
    EXPECT_EQ(manager.activeTheme(), Themes::dark());
    EXPECT_EQ(manager.onThemeChange.fireCount(), 0);  // nothing fires at creation

    std::vector<bool> heard;
    Trackable owner;
    manager.onThemeChange.listen(owner, [&](const Theme& theme) { heard.push_back(theme.isDark); });
    manager.setActiveTheme(manager.themes[0]);
    manager.setActiveTheme(manager.themes[0]);  // the same theme again still fires
    manager.setActiveTheme(manager.themes[1]);
    EXPECT_EQ(heard, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(manager.activeTheme(), Themes::dark());

    // A stored index that names no theme gives the light one rather than reading past the list.
    store.defaults.set(WidgetDefaultsKeys::theme(), int64_t{7});
    EXPECT_EQ(ThemeManager(store.defaults).activeTheme(), Themes::light());
    store.defaults.set(WidgetDefaultsKeys::theme(), int64_t{-1});
    EXPECT_EQ(ThemeManager(store.defaults).activeTheme(), Themes::light());
}

TEST_F(ThemeTest, TextWalkReachesEveryDepthAndSparesUnthemedFields) {
    QWidget root;
    auto* outer = new QVBoxLayout(&root);
    auto* plain = new QLabel(QStringLiteral("plain"), &root);
    outer->addWidget(plain);
    auto* stack = new QWidget(&root);
    auto* inner = new QHBoxLayout(stack);
    auto* deep = new QWidget(stack);
    auto* title = new TitleField(QStringLiteral("title"), deep);
    auto* kept = new NoThemeField(QStringLiteral("kept"), deep);
    auto* edit = new QLineEdit(stack);
    inner->addWidget(deep);
    inner->addWidget(edit);
    outer->addWidget(stack);
    // A label inside a label is reached too.
    auto* nested = new QLabel(QStringLiteral("nested"), plain);
    QPalette palette = kept->palette();
    palette.setColor(QPalette::WindowText, FUIColor::amethyst());
    kept->setPalette(palette);

    for (const Themes* theme : {&Themes::dark(), &Themes::light()}) {
        theme->updateText(&root);
        EXPECT_EQ(textColorOf(plain), theme->labelColor);
        EXPECT_EQ(textColorOf(nested), theme->labelColor);
        EXPECT_EQ(textColorOf(title), theme->titleLabelColor);
        EXPECT_EQ(textColorOf(edit), theme->labelColor);
        EXPECT_EQ(textColorOf(kept), FUIColor::amethyst());
    }
    Themes::dark().updateText(nullptr);  // nothing happens
}

TEST_F(ThemeTest, BackgroundFadesToTheThemeAndBackToNone) {
    QWidget list;
    list.resize(100, 40);
    list.show();
    Themes::light().updateBackgroundColor(&list);
    EXPECT_FALSE(backgroundColorOf(&list).has_value());
    test::settleAnimations(list);
    EXPECT_FALSE(list.autoFillBackground());

    Themes::dark().updateBackgroundColor(&list);
    // The final colour is the view's at once; the drawing fades there in 0.35 s.
    EXPECT_EQ(backgroundColorOf(&list), QColor(44, 62, 80));
    auto animations = list.findChildren<QVariantAnimation*>(QStringLiteral("backgroundColor"));
    ASSERT_EQ(animations.size(), 1);
    EXPECT_EQ(animations.front()->duration(), 350);
    test::settleAnimations(list);
    EXPECT_TRUE(list.autoFillBackground());
    EXPECT_EQ(list.palette().color(QPalette::Window), QColor(44, 62, 80));
    EXPECT_EQ(test::render(list).pixelColor(50, 20), QColor(44, 62, 80));

    // Two quick switches: the second fade replaces the first, and the last one wins.
    Themes::light().updateBackgroundColor(&list);
    Themes::dark().updateBackgroundColor(&list);
    Themes::light().updateBackgroundColor(&list);
    EXPECT_FALSE(backgroundColorOf(&list).has_value());
    int running = 0;
    for (auto* fade : list.findChildren<QVariantAnimation*>(QStringLiteral("backgroundColor")))
        running += fade->state() == QAbstractAnimation::Running ? 1 : 0;
    EXPECT_EQ(running, 1);
    test::settleAnimations(list);
    EXPECT_FALSE(list.autoFillBackground());
    Themes::dark().updateBackgroundColor(nullptr);
}

// The panel around the rows (its background and header) follows the theme, and its colours never
// come from the desktop's palette: here the desktop is dark, and the light panel stays light.
TEST_F(ThemeTest, WholePanelFollowsTheThemeOnADarkDesktop) {
    const QPalette desktop = QApplication::palette();
    QPalette dark = desktop;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    QApplication::setPalette(dark);

    test::WidgetMainQueue mainQueue;
    test::WidgetMachine machine;
    TodayViewController today(machine.context());
    today.view();
    MemoryPanelPlaceStore places;
    PanelWindow panel(today, places);
    panel.setPanelVisible(true);
    QLabel* title = panel.header()->findChild<QLabel*>();
    ASSERT_NE(title, nullptr);
    const QString dir = test::galleryDir("theme");

    struct Expected {
        const Themes* theme;
        QColor background, text;
        const char* name;
    };
    for (const Expected& expected :
         {Expected{&Themes::dark(), QColor(44, 62, 80), QColor(236, 240, 241), "dark"},
          Expected{&Themes::light(), QColor(245, 246, 247), QColor(0, 0, 0), "light"}}) {
        machine.themes->setActiveTheme(*expected.theme);
        test::settleAnimations(*today.view());
        const QImage image = test::render(panel);
        image.save(QDir(dir).filePath(QStringLiteral("panel-%1.png").arg(expected.name)));
        // Between the title and the Edit button, inside the header.
        EXPECT_EQ(image.pixelColor(PanelWindow::kWidth / 2, 3), expected.background)
            << expected.name;
        EXPECT_EQ(title->palette().color(QPalette::WindowText), expected.text) << expected.name;
        EXPECT_EQ(panel.editButton()->palette().color(QPalette::ButtonText), expected.text)
            << expected.name;
        EXPECT_EQ(panel.hideButton()->palette().color(QPalette::ButtonText), expected.text)
            << expected.name;
        const QPalette menu = panel.panelMenu().menu()->palette();
        EXPECT_EQ(menu.color(QPalette::Window), expected.background) << expected.name;
        EXPECT_EQ(menu.color(QPalette::WindowText), expected.text) << expected.name;
    }
    panel.hide();
    QApplication::setPalette(desktop);
}

}  // namespace
}  // namespace vigil
