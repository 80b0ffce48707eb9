// Renders the panel with rows, the small views and a custom menu item offscreen into PNG files
// (VIGIL_GALLERY_DIR, else $TMPDIR/vigil-gallery/Vigil_Today).

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>

#include <cstdio>

#include "Vigil_Today/HostTestSupport.h"
#include "host/PanelWindow.h"
#include "support/QtTestApp.h"
#include "ui/CircleChart.h"
#include "ui/FUIFont.h"
#include "views/CallbackStackView.h"
#include "views/MenuItemView.h"

namespace vigil {
namespace {

class HostGalleryTest : public test::QtTest {
  protected:
    static void save(QWidget& widget, const char* name) {
        QCoreApplication::processEvents();  // pending layout requests, as the event loop would
        const QImage image = test::render(widget);
        const QString path =
            test::galleryDir("Vigil_Today") + QStringLiteral("/") + name + QStringLiteral(".png");
        ASSERT_TRUE(image.save(path)) << qPrintable(path);
        std::printf("gallery: %s\n", qPrintable(path));
    }
};

// A row of gauges in clickable stacks, like the widget's first row.
class GaugeRow : public ViewController {
  protected:
    QWidget* loadView() override {
        auto* row = new QWidget();
        auto* layout = new QHBoxLayout(row);
        const double values[] = {12, 64, 88};
        const char* names[] = {"CPU", "MEM", "DISK"};
        for (int i = 0; i < 3; ++i) {
            auto* stack = new CallbackStackView(Qt::Vertical, row);
            auto* chart = new GaugeCircleChart(stack);
            chart->setFixedSize(54, 54);
            auto* label = new QLabel(chart);
            label->setGeometry(0, 0, 54, 54);
            label->setAlignment(Qt::AlignCenter);
            label->setFont(FUIFont::normal(12).value_or(label->font()));
            chart->myLabel = label;
            chart->setPercent(values[i]);
            auto* name = new QLabel(QString::fromLatin1(names[i]), stack);
            name->setAlignment(Qt::AlignCenter);
            name->setFont(FUIFont::light(11).value_or(name->font()));
            stack->addView(chart);
            stack->addView(name);
            stack->stackLayout()->setAlignment(chart, Qt::AlignHCenter);
            layout->addWidget(stack);
        }
        return row;
    }
};

TEST_F(HostGalleryTest, PanelWithRows) {
    test::TestWidget widget;
    MemoryPanelPlaceStore places;
    PanelWindow panel(widget, places);
    GaugeRow first;
    test::TestRow second(QStringLiteral("  ↑ 12.4 KB/s   ↓ 1.2 MB/s"), 44);
    test::TestRow detail(QStringLiteral("  detail view"), 90);
    widget.list.setContents({&first, &second});
    panel.show();
    save(panel, "panel-rows");
    widget.list.setContents({&first, &detail, &second});
    save(panel, "panel-detail");
    panel.editButton()->click();
    widget.list.setContents({});
    save(panel, "panel-empty-editing");
    panel.hide();
}

TEST_F(HostGalleryTest, MenuItem) {
    QMenu menu;
    menu.addAction(QStringLiteral("Copy address"));
    auto* item = new MenuItemView();
    auto* layout = new QHBoxLayout(item);
    layout->setContentsMargins(20, 3, 20, 3);
    layout->addWidget(new QLabel(QStringLiteral("Eject volume"), item));
    item->addTo(&menu);
    menu.popup(QPoint(0, 0));
    ASSERT_TRUE(test::qtWaitUntil([&] { return item->isVisible(); }));
    test::sendEnter(*item);
    save(menu, "menu-item-highlighted");
    menu.close();
}

}  // namespace
}  // namespace vigil
