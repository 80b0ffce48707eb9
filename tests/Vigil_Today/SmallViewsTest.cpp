#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>

#include "support/QtTestApp.h"
#include "views/CallbackStackView.h"
#include "views/MenuItemView.h"

namespace vigil {
namespace {

class SmallViewsTest : public test::QtTest {};

// Counts the presses that reach it.
class PressCounter : public QWidget {
  public:
    int presses = 0;

  protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

TEST_F(SmallViewsTest, CallbackStackViewRunsItsClosureAndKeepsThePress) {
    PressCounter parent;
    auto* stack = new CallbackStackView(Qt::Horizontal, &parent);
    stack->resize(60, 20);
    test::sendMouse(*stack, QEvent::MouseButtonPress, {5, 5});
    EXPECT_EQ(parent.presses, 0);  // no closure: swallowed silently

    int clicks = 0;
    stack->onclick = [&] { ++clicks; };
    test::sendMouse(*stack, QEvent::MouseButtonPress, {5, 5});
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(parent.presses, 0);

    auto* a = new QLabel(QStringLiteral("a"));
    auto* b = new QLabel(QStringLiteral("b"));
    stack->addView(a);
    stack->addView(b);
    EXPECT_EQ(stack->views(), QList<QWidget*>({a, b}));
    stack->setVisibilityPriority(0, a);
    EXPECT_TRUE(a->isHidden());
    stack->setVisibilityPriority(1000, a);
    EXPECT_FALSE(a->isHidden());
    stack->removeView(a);
    EXPECT_EQ(stack->views(), QList<QWidget*>({b}));
    delete a;
}

TEST_F(SmallViewsTest, MenuItemViewHighlightsAndClosesBeforeTheAction) {
    QMenu menu;
    menu.addAction(QStringLiteral("plain"));
    auto* item = new MenuItemView();
    auto* layout = new QHBoxLayout(item);
    auto* title = new QLabel(QStringLiteral("Eject"), item);
    layout->addWidget(title);
    QWidgetAction* action = item->addTo(&menu);
    EXPECT_EQ(item->menu(), &menu);

    bool menuOpenWhenTriggered = true;
    int triggered = 0;
    QObject::connect(action, &QAction::triggered, [&] {
        ++triggered;
        menuOpenWhenTriggered = menu.isVisible();
    });
    menu.popup(QPoint(10, 10));
    ASSERT_TRUE(test::qtWaitUntil([&] { return menu.isVisible() && item->isVisible(); }));

    test::sendEnter(*item);
    EXPECT_TRUE(item->isHighlighted());
    test::render(*item);
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(Qt::white));
    test::sendLeave(*item);
    menu.setActiveAction(menu.actions().first());
    EXPECT_FALSE(item->isHighlighted());
    test::render(*item);
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(Qt::black));

    test::sendMouse(*item, QEvent::MouseButtonRelease, {3, 3});
    EXPECT_EQ(triggered, 1);
    EXPECT_FALSE(menuOpenWhenTriggered);
    EXPECT_FALSE(menu.isVisible());

    // Without a menu item, or outside a menu, a click does nothing.
    MenuItemView loose;
    test::sendMouse(loose, QEvent::MouseButtonRelease, {1, 1});
    EXPECT_FALSE(loose.isHighlighted());
}

}  // namespace
}  // namespace vigil
