#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QScreen>

#include <memory>

#include "Vigil_Today/HostTestSupport.h"
#include "host/PanelMenu.h"
#include "host/PanelTray.h"
#include "host/PanelWindow.h"
#include "support/QtTestApp.h"

namespace vigil {
namespace {

using test::TestRow;
using test::TestWidget;

class HostTest : public test::QtTest {};

QStringList rowNames(WidgetListViewController& list) {
    QStringList names;
    for (ViewController* row : list.contents())
        names.append(row->view()->objectName());
    return names;
}

// The rows' views in the order the list's layout shows them.
QStringList shownOrder(WidgetListViewController& list) {
    QStringList names;
    QLayout* layout = list.view()->layout();
    for (int i = 0; i < layout->count(); ++i) {
        QWidget* widget = layout->itemAt(i)->widget();
        if (widget)
            names.append(widget->objectName());
    }
    return names;
}

TEST_F(HostTest, ReplacingContentsAddsAndRemovesRows) {
    WidgetListViewController list;
    TestRow first(QStringLiteral("first")), second(QStringLiteral("second")),
        detail(QStringLiteral("detail"));
    list.setContents({&first, &second});
    EXPECT_EQ(rowNames(list), QStringList({"first", "second"}));
    EXPECT_EQ(first.didAppear, 1);
    EXPECT_EQ(first.view()->parentWidget(), list.view());

    // A detail view slides in under the first row; the rows that stay are not re-announced.
    list.setContents({&first, &detail, &second});
    EXPECT_EQ(shownOrder(list),
              QStringList({"first", "dividerLine", "detail", "dividerLine", "second"}));
    EXPECT_EQ(first.willAppear, 1);
    EXPECT_EQ(detail.willAppear, 1);
    EXPECT_EQ(detail.didAppear, 1);

    list.setContents({&first, &second});
    EXPECT_EQ(detail.willDisappear, 1);
    EXPECT_EQ(detail.view()->parentWidget(), nullptr);
    EXPECT_TRUE(detail.view()->isHidden());
    EXPECT_EQ(first.willDisappear, 0);

    // Duplicates and the list itself are left out.
    list.setContents({&second, &second, &list, &first});
    EXPECT_EQ(rowNames(list), QStringList({"second", "first"}));

    list.setContents({});
    EXPECT_TRUE(list.contents().isEmpty());
    EXPECT_EQ(first.willDisappear, 1);
    EXPECT_TRUE(list.dividers().isEmpty());
}

TEST_F(HostTest, DividerLinesAndMinimumRows) {
    WidgetListViewController list;
    TestRow a(QStringLiteral("a"), 30), b(QStringLiteral("b"), 50), c(QStringLiteral("c"), 70);
    list.setContents({&a, &b, &c});
    EXPECT_EQ(list.dividers().size(), 2);
    list.setHasDividerLines(false);
    EXPECT_TRUE(list.dividers().isEmpty());
    EXPECT_EQ(shownOrder(list), QStringList({"a", "b", "c"}));
    list.setHasDividerLines(true);
    EXPECT_EQ(list.dividers().size(), 2);
    EXPECT_EQ(list.dividers()[0]->height(), 1);

    list.setHasDividerLines(false);
    list.setMargins(QMargins(0, 4, 0, 6));
    list.setMinimumVisibleRowCount(2);
    EXPECT_EQ(list.view()->minimumHeight(), 4 + 30 + 50 + 6);
    list.setMinimumVisibleRowCount(4);  // more than there are: all of them
    EXPECT_EQ(list.view()->minimumHeight(), 4 + 30 + 50 + 70 + 6);
}

TEST_F(HostTest, RowsOutliveTheListAndGoneRowsLeaveIt) {
    auto row = std::make_unique<TestRow>(QStringLiteral("kept"));
    QPointer<QWidget> rowView = row->view();
    {
        WidgetListViewController list;
        auto gone = std::make_unique<TestRow>(QStringLiteral("gone"));
        list.setContents({row.get(), gone.get()});
        gone.reset();
        EXPECT_EQ(rowNames(list), QStringList({"kept"}));
        list.setContents({row.get()});
    }
    ASSERT_FALSE(rowView.isNull());  // the list handed the view back instead of deleting it
    EXPECT_EQ(rowView->parentWidget(), nullptr);
}

TEST_F(HostTest, EditModeCallsTheController) {
    TestWidget widget;
    MemoryPanelPlaceStore places;
    PanelWindow panel(widget, places);
    EXPECT_FALSE(panel.editButton()->isHidden());
    EXPECT_EQ(panel.editButton()->text(), QStringLiteral("Edit"));
    panel.editButton()->click();
    EXPECT_EQ(widget.began, 1);
    EXPECT_TRUE(panel.isEditing());
    EXPECT_EQ(panel.editButton()->text(), QStringLiteral("Done"));
    panel.beginEditing();  // already editing: nothing more
    EXPECT_EQ(widget.began, 1);
    panel.editButton()->click();
    EXPECT_EQ(widget.ended, 1);
    EXPECT_FALSE(panel.isEditing());
    panel.endEditing();
    EXPECT_EQ(widget.ended, 1);

    TestWidget fixed;
    fixed.allowsEditing = false;
    PanelWindow plain(fixed, places);
    EXPECT_TRUE(plain.editButton()->isHidden());
    plain.beginEditing();
    EXPECT_EQ(fixed.began, 0);
}

TEST_F(HostTest, PanelShapeMarginsAndHeight) {
    TestWidget widget;
    widget.margins = QMargins(0, 0, 0, 0);
    MemoryPanelPlaceStore places;
    PanelWindow panel(widget, places);
    ASSERT_TRUE(widget.proposed.has_value());
    EXPECT_EQ(*widget.proposed, PanelWindow::kProposedMargins);
    EXPECT_EQ(widget.list.margins(), QMargins(0, 0, 0, 0));
    EXPECT_EQ(panel.width(), PanelWindow::kWidth);
    EXPECT_TRUE(panel.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowStaysOnTopHint);

    const int empty = panel.height();
    TestRow a(QStringLiteral("a"), 60), b(QStringLiteral("b"), 80);
    widget.list.setContents({&a, &b});
    EXPECT_GE(panel.height(), empty + 140);
    widget.list.setContents({&a});
    EXPECT_LT(panel.height(), empty + 140);
}

TEST_F(HostTest, PanelOpensAtItsPlaceAndRemembersMoves) {
    if (PanelWindow::compositorPlacesWindows())
        GTEST_SKIP() << "the compositor places windows";
    TestWidget widget;
    MemoryPanelPlaceStore places;
    PanelWindow panel(widget, places);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(panel.startPlace(),
              QPoint(area.right() + 1 - PanelWindow::kWidth - PanelWindow::kScreenMargin,
                     area.top() + PanelWindow::kScreenMargin));
    panel.setPanelVisible(true);
    EXPECT_EQ(panel.pos(), panel.startPlace());
    EXPECT_EQ(places.saveCount(), 0);  // opening is not a move by the user
    EXPECT_EQ(widget.updates, 1);

    panel.move(area.left() + 40, area.top() + 30);
    ASSERT_TRUE(test::qtWaitUntil([&] { return places.saveCount() == 1; }));
    EXPECT_EQ(places.loadPlace(), QPoint(area.left() + 40, area.top() + 30));

    // A remembered place that no screen shows any more is not used.
    MemoryPanelPlaceStore stale;
    stale.savePlace(QPoint(area.right() + 5000, area.bottom() + 5000));
    TestWidget otherWidget;
    PanelWindow other(otherWidget, stale);
    EXPECT_NE(other.startPlace(), QPoint(area.right() + 5000, area.bottom() + 5000));

    MemoryPanelPlaceStore kept;
    kept.savePlace(QPoint(area.left() + 10, area.top() + 20));
    TestWidget againWidget;
    PanelWindow again(againWidget, kept);
    EXPECT_EQ(again.startPlace(), QPoint(area.left() + 10, area.top() + 20));
    panel.hide();
}

TEST_F(HostTest, HeaderMenuAndHideButtonWorkWithoutATray) {
    TestWidget widget;
    MemoryPanelPlaceStore places;
    PanelWindow panel(widget, places);
    testing::internal::CaptureStderr();
    PanelTray tray(panel, QIcon());
    // No tray is an ordinary desktop, not a problem to report.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    PanelMenu& menu = panel.panelMenu();

    // A right click on the header's title opens the panel's menu.
    QLabel* title = panel.header()->findChild<QLabel*>();
    ASSERT_NE(title, nullptr);
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(4, 4),
                            title->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(title, &click);
    EXPECT_TRUE(menu.menu()->isVisible());
    EXPECT_EQ(menu.showAction()->text(), QStringLiteral("&Show Vigil"));
    EXPECT_EQ(menu.quitAction()->text(), QStringLiteral("&Quit Vigil"));
    menu.menu()->hide();

    menu.showAction()->trigger();
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(menu.showAction()->text(), QStringLiteral("&Hide Vigil"));
    menu.editAction()->trigger();
    EXPECT_EQ(widget.began, 1);
    EXPECT_EQ(menu.editAction()->text(), QStringLiteral("&Done"));
    menu.editAction()->trigger();
    EXPECT_EQ(widget.ended, 1);

    // The header's own control hides the panel; the menu says so next time it opens.
    panel.hideButton()->click();
    EXPECT_FALSE(panel.isVisible());
    panel.openMenuAt(QPoint(4, 4));
    EXPECT_EQ(menu.showAction()->text(), QStringLiteral("&Show Vigil"));
    menu.menu()->hide();
}

}  // namespace
}  // namespace vigil
