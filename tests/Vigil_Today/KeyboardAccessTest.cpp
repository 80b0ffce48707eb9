#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMenu>

#include "TodayViewController.h"
#include "TodayViewControllerSupport.h"
#include "Vigil_Today/CPUMemoryTestSupport.h"
#include "details/CPUViewController.h"
#include "host/PanelMenu.h"
#include "host/PanelWindow.h"
#include "rows/FirstRowViewController.h"
#include "rows/SecondRowViewController.h"
#include "themes/Theme.h"
#include "ui/FocusRing.h"

namespace vigil {
namespace {

void pressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr) << "no widget has the keyboard focus";
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

QString nameOf(QWidget* view) {
    return QAccessible::queryAccessibleInterface(view)->text(QAccessible::Name);
}

class KeyboardAccessTest : public test::QtTest {};

// The whole panel from the keyboard alone, and what a screen reader hears at each stop.
TEST_F(KeyboardAccessTest, PanelIsUsableWithKeysAndEveryStopIsNamed) {
    test::WidgetMainQueue mainQueue;
    test::WidgetMachine machine("power-no-battery", test::WidgetMachine::Connection::local);
    TodayViewController today(machine.context());
    today.view();
    MemoryPanelPlaceStore places;
    PanelWindow panel(today, places);
    panel.setPanelVisible(true);
    panel.activateWindow();
    FirstRowViewController& first = today.firstRow();
    first.cpuChart()->setPercent(23.4);
    today.secondRow().update();

    // Tab walks the stops in reading order: the header's buttons, the gauges left to right, the
    // network row.
    panel.hideButton()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(test::qtWaitUntil([&] { return panel.hideButton()->hasFocus(); }));
    EXPECT_EQ(nameOf(panel.hideButton()), QStringLiteral("Hide Vigil"));
    QList<QWidget*> stops;
    for (int i = 0; i < 4; ++i) {
        pressKey(Qt::Key_Tab);
        stops.append(QApplication::focusWidget());
    }
    const QList<QWidget*> expected{first.cpuStackView(), first.memoryStackView(),
                                   first.diskStackView(), today.secondRow().netStackView()};
    EXPECT_EQ(stops, expected);
    EXPECT_TRUE(FocusRing::of(*first.diskStackView()) &&
                !FocusRing::of(*first.diskStackView())->isShown());
    ASSERT_NE(FocusRing::of(*today.secondRow().netStackView()), nullptr);
    EXPECT_TRUE(FocusRing::of(*today.secondRow().netStackView())->isShown());

    // The ring shows in both themes, in the theme's text colour, around the focused row.
    QWidget* row = today.secondRow().netStackView();
    for (const Themes* theme : {&Themes::dark(), &Themes::light()}) {
        machine.themes->setActiveTheme(*theme);
        test::settleAnimations(panel);
        const QImage image = test::render(panel);
        image.save(QDir(test::galleryDir("keyboard"))
                       .filePath(theme->isDark ? "focus-dark.png" : "focus-light.png"));
        const QPoint top = row->mapTo(&panel, QPoint(row->width() / 2, 0));
        EXPECT_LT(test::colorDistance(image.pixelColor(top), theme->labelColor), 80)
            << (theme->isDark ? "dark" : "light");
    }

    // A column reads as its gauge: the name, then the figure the ring shows.
    EXPECT_EQ(first.cpuChart()->myLabel->text(), QStringLiteral("23%"));
    EXPECT_EQ(nameOf(first.cpuStackView()), QStringLiteral("Processor, 23 percent"));
    EXPECT_TRUE(nameOf(first.memoryStackView()).startsWith(QStringLiteral("Memory, ")));
    EXPECT_TRUE(nameOf(today.secondRow().netStackView())
                    .startsWith(QStringLiteral("Upload, 0.0 kilobytes per second, Connected to "
                                               "the local network only, Download, ")));

    // Arrow keys go back along the same order; Enter opens the gauge's details, Escape closes them.
    pressKey(Qt::Key_Left);
    pressKey(Qt::Key_Left);
    pressKey(Qt::Key_Left);
    ASSERT_EQ(QApplication::focusWidget(), first.cpuStackView());
    pressKey(Qt::Key_Return);
    EXPECT_TRUE(machine.navigator->isVisible(&first.cpuViewController()));
    pressKey(Qt::Key_Space);  // the same key again closes them, as a second click does
    EXPECT_TRUE(machine.navigator->isCollapsed());
    pressKey(Qt::Key_Enter);
    EXPECT_FALSE(machine.navigator->isCollapsed());
    pressKey(Qt::Key_Escape);
    EXPECT_TRUE(machine.navigator->isCollapsed());

    // Shift+F10 (or the Menu key) opens the header's menu.
    pressKey(Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(test::qtWaitUntil([&] { return panel.panelMenu().menu()->isVisible(); }));
    panel.panelMenu().menu()->hide();
    pressKey(Qt::Key_Menu);
    EXPECT_TRUE(test::qtWaitUntil([&] { return panel.panelMenu().menu()->isVisible(); }));
    panel.panelMenu().menu()->hide();
    panel.hide();
}

}  // namespace
}  // namespace vigil
