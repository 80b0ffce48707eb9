// One refresh tick on the main thread with both rows and every detail view in the list: the
// budget is 2 ms. The System's tasks run as in the program; the tick reads their last values.
//
// AllOpen: both rows, the processor, memory, disk (and battery, where there is one) details under
// the first row and the network details under the second, each redrawn once per iteration.
// AllOpenRepainted: the same, and the whole panel painted again each time (as when every figure
// changed): the upper bound of a tick.
// RowsOnly: the two rows alone, as the panel is most of the time.
//
// Release build on the 2-core development VM, offscreen, shared with other builds (CPU time of
// the main thread per tick; wall time in brackets):
//   AllOpen             99 us  (301 us)
//   AllOpenRepainted  1247 us  (3.3 ms)
//   RowsOnly           6.3 us  (19 us)

#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include "OffscreenApp.h"
#include "TodayViewController.h"
#include "details/BatteryViewController.h"
#include "details/CPUViewController.h"
#include "details/DiskListViewController.h"
#include "details/MemoryViewController.h"
#include "details/NetworkListViewController.h"
#include "host/PanelPlaceStore.h"
#include "host/PanelWindow.h"
#include "host/WidgetListViewController.h"
#include "rows/FirstRowViewController.h"
#include "rows/FirstRowViewControllerWithBattery.h"
#include "rows/SecondRowViewController.h"
#include "system/System.h"

namespace {

// Runs the tick in a shown panel; with `details`, every detail view stands in the list; with
// `repaint`, the whole panel is painted after each tick.
void tick(benchmark::State& state, bool details, bool repaint = false) {
    vigil::bench::offscreenApp();
    vigil::System::shared();
    vigil::TodayViewController today;
    today.view();
    vigil::MemoryPanelPlaceStore places;
    vigil::PanelWindow panel(today, places);
    panel.setPanelVisible(true);
    vigil::WidgetListViewController& list = *today.listViewController();
    if (details) {
        vigil::FirstRowViewController& first = today.firstRow();
        QList<vigil::ViewController*> contents{&first, &first.cpuViewController(),
                                               &first.memoryViewController(),
                                               &first.diskListViewController()};
        if (auto* battery = dynamic_cast<vigil::FirstRowViewControllerWithBattery*>(&first))
            contents << &battery->batteryViewController();
        contents << &today.secondRow() << &today.secondRow().networkListViewController();
        list.setContents(contents);
        panel.fitToContents();
    }
    QApplication::processEvents();
    for (auto _ : state) {
        today.refresh();
        if (repaint)
            panel.repaint();
        // Layout and painting of what the tick changed, as the event loop would do next.
        QApplication::processEvents();
    }
    state.counters["views"] = double(list.contents().size());
    panel.hide();
}

void AllOpen(benchmark::State& state) {
    tick(state, true);
}
BENCHMARK(AllOpen)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

void AllOpenRepainted(benchmark::State& state) {
    tick(state, true, true);
}
BENCHMARK(AllOpenRepainted)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

void RowsOnly(benchmark::State& state) {
    tick(state, false);
}
BENCHMARK(RowsOnly)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

}  // namespace
