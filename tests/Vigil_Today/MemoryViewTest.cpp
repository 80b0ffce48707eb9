#include <QApplication>
#include <QLocale>
#include <QPaintEvent>
#include <QTableWidgetItem>
#include <QWindow>

#include "Vigil_Today/CPUMemoryTestSupport.h"
#include "details/MemoryViewController.h"
#include "settings/WidgetDefaults.h"
#include "system/Formatting.h"
#include "ui/FUIColor.h"

namespace vigil {
namespace {

class MemoryViewTest : public test::QtTest {
  protected:
    void SetUp() override {
        test::QtTest::SetUp();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        details = std::make_unique<MemoryViewController>(*machine.system, workspace, themes,
                                                         store.defaults);
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    // 16 GiB of which 1 GiB wired and 4 GiB available.
    void writeMemory(const std::string& swapTotal, const std::string& swapFree) {
        machine.tree.write("proc/meminfo",
                           "MemTotal:       16777216 kB\n"
                           "MemFree:         1048576 kB\n"
                           "MemAvailable:    4194304 kB\n"
                           "Buffers:          262144 kB\n"
                           "Cached:          3145728 kB\n"
                           "Active:          8388608 kB\n"
                           "Inactive:        2097152 kB\n"
                           "Unevictable:           0 kB\n"
                           "SUnreclaim:       786432 kB\n"
                           "KernelStack:      131072 kB\n"
                           "PageTables:       131072 kB\n"
                           "Zswap:              1000 kB\n"
                           "SwapTotal:       " +
                               swapTotal +
                               " kB\n"
                               "SwapFree:        " +
                               swapFree + " kB\n");
        machine.tree.write("proc/vmstat", "pgpgin 4938268\npgpgout 12\npgfault 1\n");
        machine.mem->update();
    }

    test::FixtureMachine machine;
    test::TempDefaults store;
    test::RecordingWorkspace workspace;
    ThemeManager themes{store.defaults};
    std::unique_ptr<MemoryViewController> details;
};

TEST_F(MemoryViewTest, BreakdownTextsAndPie) {
    writeMemory("0", "0");
    details->viewWillAppear();
    // In use: 16 GiB less 4 GiB available. Wired: SUnreclaim + KernelStack + PageTables = 1 GiB.
    // Compressed: Zswap 1000 kB + the zram fixture's mem_used_total 549453824 B = 550477824 B.
    // Active: the rest in use, 11260682240 B. Cached files: Buffers + Cached = 3.25 GiB.
    EXPECT_EQ(details->wired->text(), "1024 MB");  // exactly the base stays below
    EXPECT_EQ(details->free->text(), "4 GB");
    EXPECT_EQ(details->active->text(), "10.49 GB");
    EXPECT_EQ(details->memoryUsed->text(), "11.49 GB");  // wired + active
    EXPECT_EQ(details->cachedFiles->text(), "3.25 GB");
    // Compressed memory rounds from megabytes: 524.98 MB shows as whole megabytes.
    EXPECT_EQ(details->compressed->text(), "525 MB");
    EXPECT_EQ(details->physicalMemory->text(), "15.62 GB");  // two-gpu's 16777216000 B
    EXPECT_EQ(details->swap->text(), "0 B");                 // no swap configured

    // The pie: wired, active, compressed, free in the four fixed colours.
    EXPECT_EQ(details->pieChart->dataPoints(),
              (std::vector<double>{1073741824.0, 11260682240.0, 550477824.0, 4294967296.0}));
    ASSERT_TRUE(details->pieChart->colorPoints());
    EXPECT_EQ(*details->pieChart->colorPoints(),
              (std::vector<QColor>{FUIColor::alizarin(), FUIColor::peterRiver(), FUIColor::silver(),
                                   FUIColor::emerald()}));

    // Page counts in KiB with the locale's grouping: pgpgin 4938268 and pgpgout 12 pages of
    // 4 KiB (this machine's page size).
    EXPECT_EQ(details->pageIns->text(), "1,234,567");
    EXPECT_EQ(details->pageOuts->text(), "3");
}

TEST_F(MemoryViewTest, SeparatorLineTuckedAwayWithOnlyTheFirstRow) {
    QWidget* view = details->view();
    view->resize(320, 300);
    const QColor line = themes.activeTheme().muteColor;
    store.defaults.set(WidgetDefaultsKeys::widgetRows(), int64_t{0});
    details->viewWillAppear();
    EXPECT_EQ(details->separatorLineConstraint, 0.0);
    EXPECT_EQ(test::render(*view).pixelColor(160, 0), line);
    store.defaults.set(WidgetDefaultsKeys::widgetRows(), int64_t{1});
    details->viewWillAppear();
    EXPECT_EQ(details->separatorLineConstraint, -1.0);
    EXPECT_NE(test::render(*view).pixelColor(160, 0), line);
}

TEST_F(MemoryViewTest, SwapShowsUsedFirst) {
    EXPECT_EQ(MemoryViewController::swapText(0, 0), "0 B");
    EXPECT_EQ(MemoryViewController::swapText(2ull << 30, 0), "0 B of 2 GB");
    EXPECT_EQ(MemoryViewController::swapText(2ull << 30, 1536ull << 20), "1.50 GB of 2 GB");
    // Below the megabyte no decimals show.
    EXPECT_EQ(MemoryViewController::swapText(2ull << 30, 1536), "2 KB of 2 GB");
    writeMemory("2097152", "1048576");
    details->update();
    EXPECT_EQ(details->swap->text(), "1024 MB of 2 GB");

    // Swap comes with the memory sample, like the other figures: a tick between two samples
    // shows the same instant, the next sample the new figures.
    const QString wired = details->wired->text();
    machine.tree.write("proc/meminfo",
                       "MemTotal: 16777216 kB\nMemFree: 8388608 kB\n"
                       "SwapTotal: 2097152 kB\nSwapFree: 0 kB\n");
    details->update();
    EXPECT_EQ(details->swap->text(), "1024 MB of 2 GB");
    EXPECT_EQ(details->wired->text(), wired);
    machine.mem->update();
    details->update();
    EXPECT_EQ(details->swap->text(), "2 GB of 2 GB");
    EXPECT_NE(details->wired->text(), wired);
}

TEST_F(MemoryViewTest, HeaviestApplicationsByMemory) {
    writeMemory("2097152", "2097152");
    const long page = ::sysconf(_SC_PAGESIZE);
    machine.setProcField(1200, "statm", 2, std::to_string((100ll << 20) / page));
    machine.setProcField(1300, "statm", 2, std::to_string((900ll << 20) / page));
    machine.setProcField(1400, "statm", 2, std::to_string((300ll << 20) / page));
    machine.apps->update();
    store.defaults.set(WidgetDefaultsKeys::widgetRows(), int64_t{1});
    details->viewWillAppear();
    EXPECT_EQ(details->separatorLineConstraint, -1.0);
    EXPECT_EQ(machine.task(*machine.apps)->status(), Timer::Status::started);
    ASSERT_EQ(details->numberOfRows(), 3);
    const int32_t order[] = {1300, 1400, 1200};
    const char* texts[] = {"900 MB", "300 MB", "100 MB"};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(details->apps[static_cast<size_t>(row)].pid, order[row]);
        EXPECT_EQ(details->tableView->item(row, 1)->text(), texts[row]);
        EXPECT_EQ(details->tableView->item(row, 0)->text().toStdString(),
                  details->apps[static_cast<size_t>(row)].name());
    }
    EXPECT_EQ(details->prevMemory, (std::vector<QString>{"900 MB", "300 MB", "100 MB"}));

    // A few pages more changes no shown text: no reload.
    const int reloads = details->tableView->reloadCount();
    machine.setProcField(1300, "statm", 2, std::to_string((900ll << 20) / page + 3));
    machine.apps->update();
    details->update();
    EXPECT_EQ(details->tableView->reloadCount(), reloads);
    EXPECT_EQ(details->apps[0].mem, 900ull << 20);  // the rows keep the previous objects
    // A shown change reloads.
    machine.setProcField(1200, "statm", 2, std::to_string((1000ll << 20) / page));
    machine.apps->update();
    details->update();
    EXPECT_EQ(details->tableView->reloadCount(), reloads + 1);
    EXPECT_EQ(details->apps[0].pid, 1200);
    EXPECT_EQ(details->tableView->item(0, 1)->text(), "1000 MB");

    std::vector<int32_t> activated;
    details->activate = [&](const Applications::Process& p) { activated.push_back(p.pid); };
    details->tableView->selectRow(2);
    EXPECT_EQ(activated, (std::vector<int32_t>{details->apps[2].pid}));
    EXPECT_TRUE(details->tableView->selectionModel()->selectedRows().isEmpty());
    details->systemMonitorButton->click();
    EXPECT_EQ(workspace.launched, (std::vector<SystemTool>{SystemTool::systemMonitor}));

    test::renderOnTheme(details->view(), Themes::light(), "memory-details-light");
    themes.setActiveTheme(Themes::dark());
    EXPECT_EQ(textColorOf(details->wired), Themes::dark().labelColor);
    EXPECT_EQ(details->tableView->item(0, 1)->foreground().color(), Themes::dark().labelColor);
    test::renderOnTheme(details->view(), Themes::dark(), "memory-details-dark");
}

// Records the area painted in a widget.
class PaintedArea : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
    QRegion painted;
};

TEST_F(MemoryViewTest, AChangedValueRepaintsItsCellAlone) {
    writeMemory("2097152", "2097152");
    const long page = ::sysconf(_SC_PAGESIZE);
    machine.setProcField(1200, "statm", 2, std::to_string((100ll << 20) / page));
    machine.setProcField(1300, "statm", 2, std::to_string((900ll << 20) / page));
    machine.apps->update();
    details->viewWillAppear();
    details->view()->show();
    ASSERT_TRUE(test::waitUntil([&] {
        QApplication::processEvents();
        return details->view()->windowHandle() && details->view()->windowHandle()->isExposed();
    }));
    QApplication::processEvents();
    QTableWidgetItem* name = details->tableView->item(0, 0);
    ASSERT_NE(name, nullptr);
    ASSERT_EQ(details->tableView->item(0, 1)->text(), "900 MB");

    PaintedArea area;
    details->tableView->viewport()->installEventFilter(&area);
    machine.setProcField(1300, "statm", 2, std::to_string((950ll << 20) / page));
    machine.apps->update();
    details->update();
    QApplication::processEvents();
    details->tableView->viewport()->removeEventFilter(&area);

    QTableWidgetItem* value = details->tableView->item(0, 1);
    EXPECT_EQ(value->text(), "950 MB");
    EXPECT_EQ(details->tableView->item(0, 0), name);  // the name cell was kept, not made again
    EXPECT_FALSE(area.painted.isEmpty());
    EXPECT_EQ(area.painted - details->tableView->visualItemRect(value), QRegion())
        << "painted beyond the changed cell";
    details->view()->hide();
}

TEST_F(MemoryViewTest, WithoutASystemMonitorItsButtonIsNotOffered) {
    workspace.tools.clear();
    details->view();
    EXPECT_TRUE(details->systemMonitorButton->isHidden());
}

}  // namespace
}  // namespace vigil
