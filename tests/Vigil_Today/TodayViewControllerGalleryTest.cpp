#include <QDir>
#include <QImage>
#include <QLabel>

#include "HostTestSupport.h"
#include "TodayViewController.h"
#include "TodayViewControllerSupport.h"
#include "host/PanelWindow.h"
#include "rows/FirstRowViewControllerWithBattery.h"
#include "rows/SecondRowViewController.h"
#include "support/QtTestApp.h"
#include "system/Network.h"

namespace vigil {
namespace {

// The whole panel in each state, light and dark, saved as pictures to look at; each must show
// the rows it claims to.
class TodayViewControllerGalleryTest : public test::QtTest {
  protected:
    test::WidgetMainQueue mainQueue;
};

int distinctColours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    }
    return int(colours.size());
}

TEST_F(TodayViewControllerGalleryTest, PanelInEveryState) {
    const QString dir = test::galleryDir("today");
    for (const bool dark : {false, true}) {
        test::WidgetMachine machine("power-discharging", test::WidgetMachine::Connection::local);
        machine.setTraffic(183'000, 24'500);
        machine.system->net().update();
        machine.system->net().update();
        if (dark)
            machine.themes->setActiveTheme(Themes::dark());
        TodayViewController today(machine.context());
        today.view();
        MemoryPanelPlaceStore places;
        PanelWindow panel(today, places);
        panel.setPanelVisible(true);
        auto* row = dynamic_cast<FirstRowViewControllerWithBattery*>(&today.firstRow());
        ASSERT_NE(row, nullptr);

        const QString theme = dark ? QStringLiteral("dark") : QStringLiteral("light");
        const auto shoot = [&](const QString& name, int rows) {
            today.refresh();
            test::qtWaitUntil([] { return false; }, std::chrono::milliseconds(450));
            panel.fitToContents();
            EXPECT_EQ(today.listViewController()->contents().size(), rows) << name.toStdString();
            const QImage image = test::render(panel);
            EXPECT_GT(distinctColours(image), 20) << name.toStdString();
            const QString path = QDir(dir).filePath(theme + "-" + name + ".png");
            EXPECT_TRUE(image.save(path)) << path.toStdString();
            // Every view follows the panel's theme manager: no text keeps the light theme's black.
            for (const QLabel* label : panel.findChildren<QLabel*>()) {
                if (dark && label->isVisible() && !label->text().isEmpty()) {
                    EXPECT_NE(label->palette().color(QPalette::WindowText), QColor(Qt::black))
                        << name.toStdString() << ": " << label->text().toStdString();
                }
            }
        };
        shoot(QStringLiteral("rows"), 2);
        row->toggleCPUView();
        shoot(QStringLiteral("cpu"), 3);
        row->toggleMEMView();
        shoot(QStringLiteral("memory"), 3);
        row->toggleDiskView();
        shoot(QStringLiteral("disk"), 3);
        row->toggleBatteryView();
        shoot(QStringLiteral("battery"), 3);
        today.secondRow().toggleNetworkView();
        shoot(QStringLiteral("network"), 3);
        panel.beginEditing();
        shoot(QStringLiteral("editing"), 1);
        panel.endEditing();
        shoot(QStringLiteral("after-editing"), 2);
        panel.hide();
    }
}

}  // namespace
}  // namespace vigil
