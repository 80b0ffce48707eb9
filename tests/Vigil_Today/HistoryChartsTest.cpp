// The processor and memory views' history charts over a day recorded into a real store (written
// here with literal values, a two-hour sleep in the middle), rendered in both themes into PNG
// files (VIGIL_GALLERY_DIR, else $TMPDIR/vigil-gallery/Vigil_Today).

#include <QKeyEvent>

#include <atomic>
#include <cstdio>

#include "Vigil_Today/CPUMemoryTestSupport.h"
#include "details/BatteryViewController.h"
#include "details/CPUViewController.h"
#include "details/DiskViewController.h"
#include "details/HistorySection.h"
#include "details/MemoryViewController.h"
#include "details/NetworkViewController.h"
#include "history/History.h"
#include "settings/WidgetDefaults.h"
#include "support/QtTestApp.h"
#include "support/TempFolder.h"
#include "system/HistoryRecorder.h"

namespace vigil {
namespace {

constexpr std::int64_t kNow = 1'700'006'400'000;  // 2023-11-15T00:00:00Z
constexpr std::int64_t kMinute = 60'000, kHour = 60 * kMinute;
const std::string kLinkUp = HistoryRecorder::linkSeries("eth0", "52:54:00:12:34:56", "up");
const std::string kLinkDown = HistoryRecorder::linkSeries("eth0", "52:54:00:12:34:56", "down");
const std::string kVolumeRead = HistoryRecorder::volumeSeries("/home", "read");
const std::string kVolumeWrite = HistoryRecorder::volumeSeries("/home", "write");

// A day of samples every 30 s (every 2 s in the last hour), none from 10 to 8 hours ago.
void recordADay(History& history) {
    for (std::int64_t at = kNow - 24 * kHour, i = 0; at < kNow; ++i) {
        const bool asleep = at >= kNow - 10 * kHour && at < kNow - 8 * kHour;
        if (!asleep) {
            history.record("cpu.busy", at, 10 + double(i % 120) / 2);
            history.record("mem.usage", at, 40 + double(i % 240) / 12);
            history.record(kLinkUp, at, double(i % 90) * 20'000);
            history.record(kLinkDown, at, double(i % 45) * 100'000);
            history.record(kVolumeRead, at, double(i % 60) * 500'000);
            history.record(kVolumeWrite, at, double(i % 30) * 200'000);
            history.record("battery.charge", at, 100 - double(i % 2880) / 40);
            if (at % kMinute == 0) {
                history.recordTop(at, "cpu", {{"Firefox", 30}, {"Terminal", 3}});
                history.recordTop(at, "mem", {{"Firefox", 1.2e9}});
            }
        }
        at += at < kNow - kHour ? 30'000 : 2'000;
    }
    history.writeNow();
}

class HistoryChartsTest : public test::QtTest {
  protected:
    HistoryChartsTest() {
        History::Options options;
        options.path = folder / "history.sqlite";
        options.clock = [] { return kNow; };
        history = std::make_unique<History>(options);
        recordADay(*history);
        HistorySection::shown() = history.get();
        HistorySection::rangeSettings() = &store.defaults;
    }
    ~HistoryChartsTest() override {
        HistorySection::shown() = nullptr;
        HistorySection::rangeSettings() = nullptr;
    }

    // Renders the view on the theme's panel background.
    void save(QWidget& widget, const QString& name) {
        widget.setAutoFillBackground(true);
        QPalette palette = widget.palette();
        palette.setColor(QPalette::Window,
                         themes.activeTheme().backgroundColor.value_or(QColor(236, 240, 241)));
        widget.setPalette(palette);
        QCoreApplication::processEvents();
        const QString path =
            test::galleryDir("Vigil_Today") + QStringLiteral("/") + name + QStringLiteral(".png");
        ASSERT_TRUE(test::render(widget).save(path)) << qPrintable(path);
        std::printf("gallery: %s\n", qPrintable(path));
    }

    test::TempDefaults store;
    test::TempFolder folder;
    std::unique_ptr<History> history;
    test::FixtureMachine machine;
    test::RecordingWorkspace workspace;
    ThemeManager themes{store.defaults};
};

TEST_F(HistoryChartsTest, ADayOfProcessorHistoryWithItsSleepAndTheApplicationsOfAMinute) {
    CPUViewController details{*machine.system, workspace, themes, store.defaults};
    details.view()->resize(320, details.view()->sizeHint().height());
    HistoryPanel& panel = *details.historyPanel;
    panel.clock = [] { return kNow; };
    panel.rangeButton(2)->click();                                         // 24 h
    EXPECT_EQ(store.defaults.get(WidgetDefaultsKeys::historyRange()), 2);  // remembered

    HistoryChart& chart = *panel.chart();
    ASSERT_EQ(chart.series().size(), 1u);
    // The minutes of 22 awake hours, in two runs either side of the sleep.
    EXPECT_EQ(chart.series()[0].points.size(), 22u * 60);
    EXPECT_EQ(chart.runs(chart.series()[0]).size(), 2u);

    // Three hours ago: a minute with its recorded applications.
    const QRectF area = chart.plotArea();
    test::click(chart, QPointF(area.left() + area.width() * 21 / 24, area.center().y()));
    EXPECT_TRUE(panel.topApplications()->isVisible() || !details.view()->isVisible());
    EXPECT_TRUE(panel.topApplications()->text().contains(QStringLiteral("Firefox  30.0%")))
        << qPrintable(panel.topApplications()->text());
    // The keyboard moves the marked point and tells its time and value.
    const auto marked = chart.markedPoint();
    ASSERT_TRUE(marked.has_value());
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QCoreApplication::sendEvent(&chart, &left);
    EXPECT_EQ(chart.markedPoint(), *marked - 1);
    EXPECT_TRUE(chart.tipText(*chart.markedPoint()).contains(QStringLiteral("Busy ")));

    for (int theme : {0, 1}) {
        themes.setActiveTheme(themes.themeAt(theme));
        const QString suffix = theme ? QStringLiteral("-dark") : QStringLiteral("-light");
        save(*details.view(), QStringLiteral("history-cpu-24h") + suffix);
        panel.rangeButton(1)->click();  // the last hour, every sample
        save(*details.view(), QStringLiteral("history-cpu-1h") + suffix);
        panel.rangeButton(3)->click();  // 7 days: the one recorded day in quarters
        save(*details.view(), QStringLiteral("history-cpu-7d") + suffix);
        panel.rangeButton(2)->click();
    }
}

TEST_F(HistoryChartsTest, MemoryHistoryInBothThemes) {
    store.defaults.set(WidgetDefaultsKeys::historyRange(), std::int64_t{2});
    MemoryViewController details{*machine.system, workspace, themes, store.defaults};
    details.view()->resize(320, details.view()->sizeHint().height());
    HistoryPanel& panel = *details.historyPanel;
    panel.clock = [] { return kNow; };
    EXPECT_EQ(panel.range(), 2);  // the range chosen in another view
    panel.reload();
    EXPECT_EQ(panel.chart()->series()[0].points.size(), 22u * 60);
    for (int theme : {0, 1}) {
        themes.setActiveTheme(themes.themeAt(theme));
        save(*details.view(), QStringLiteral("history-memory-24h") +
                                  (theme ? QStringLiteral("-dark") : QStringLiteral("-light")));
    }
}

TEST_F(HistoryChartsTest, LinkVolumeAndBatteryHistoryInBothThemes) {
    store.defaults.set(WidgetDefaultsKeys::historyRange(), std::int64_t{2});
    NetworkViewController link(*machine.system, &workspace, &themes);
    link.ifname = QStringLiteral("eth0");
    link.interface.name = "eth0";
    link.interface.mac = "52:54:00:12:34:56";
    DiskViewController volume(*machine.system, &workspace, &store.defaults, &themes);
    volume.volume.name = "Home";
    volume.volume.path = "/home";
    volume.volume.device = "sda2";
    volume.volume.total = 500'000'000'000;
    volume.volume.used = 200'000'000'000;
    volume.volume.free = 300'000'000'000;
    BatteryViewController battery(machine.system.get(), &store.defaults, &themes);
    for (ViewController* details :
         {static_cast<ViewController*>(&link), static_cast<ViewController*>(&volume),
          static_cast<ViewController*>(&battery)}) {
        details->view()->resize(320, details->view()->sizeHint().height());
    }
    for (HistoryPanel* panel :
         {link.historyPanel.data(), volume.historyPanel.data(), battery.historyPanel.data()}) {
        panel->clock = [] { return kNow; };
        panel->reload();
    }
    // Two lines each, the sleep a gap in both.
    for (HistoryPanel* panel : {link.historyPanel.data(), volume.historyPanel.data()}) {
        ASSERT_EQ(panel->chart()->series().size(), 2u);
        for (const auto& series : panel->chart()->series()) {
            EXPECT_EQ(series.points.size(), 22u * 60);
            EXPECT_EQ(panel->chart()->runs(series).size(), 2u);
        }
    }
    EXPECT_EQ(battery.historyPanel->chart()->series()[0].points.size(), 22u * 60);
    for (int theme : {0, 1}) {
        themes.setActiveTheme(themes.themeAt(theme));
        const QString suffix = theme ? QStringLiteral("-dark") : QStringLiteral("-light");
        // The fixture machine has no network or disk resource to show the rest of these views.
        save(*link.historyPanel, QStringLiteral("history-link-24h") + suffix);
        save(*volume.historyPanel, QStringLiteral("history-volume-24h") + suffix);
        save(*battery.view(), QStringLiteral("history-battery-24h") + suffix);
    }
}

TEST_F(HistoryChartsTest, FiveMinutesFollowTheSamplesInMemoryAndADayIsReadAgainForANewMinutePoint) {
    std::atomic<std::int64_t> now{kNow};
    History::Options options;
    options.path = folder / "following.sqlite";
    options.writeInterval = std::chrono::minutes(10);
    options.clock = [&now] { return now.load(); };
    History following(options);
    for (std::int64_t at = kNow - 5 * kMinute; at < kNow; at += 2'000)
        following.record("cpu.busy", at, 20);
    for (std::int64_t at = kNow - 2 * kHour; at < kNow; at += 30'000)
        following.record("mem.usage", at, 40);
    following.writeNow();
    HistoryPanel busy(following, {{"cpu.busy", QStringLiteral("Busy"), Qt::blue}});
    HistoryPanel memory(following, {{"mem.usage", QStringLiteral("Used"), Qt::red}});
    for (HistoryPanel* panel : {&busy, &memory})
        panel->clock = [&now] { return now.load(); };
    memory.setRange(2);  // 24 h
    busy.reload();
    ASSERT_EQ(busy.chart()->series()[0].points.size(), 150u);
    ASSERT_EQ(memory.chart()->series()[0].points.size(), 120u);  // two hours of minutes

    // Another copy of the program clears the file: a panel that read it again would come up empty.
    {
        History other(options);
        other.clear();
    }
    for (int second = 1; second <= 30; ++second) {
        now = kNow + second * 1'000;
        following.record("cpu.busy", now, 50 + second);
        busy.refresh();
        memory.refresh();
    }
    // Half a minute later: the oldest 15 samples left the range, the 30 new ones came from memory.
    const auto& followed = busy.chart()->series()[0].points;
    ASSERT_EQ(followed.size(), 165u);
    EXPECT_EQ(followed.front().ms, kNow - 270'000);
    EXPECT_EQ(followed.back().ms, kNow + 30'000);
    EXPECT_DOUBLE_EQ(followed.back().value, 80);
    EXPECT_EQ(memory.chart()->series()[0].points.size(), 120u);  // no new minute, not read

    // A new minute has begun, but only the write that merges the last one brings a new point.
    now = kNow + kMinute + 1'000;
    memory.refresh();
    EXPECT_EQ(memory.chart()->series()[0].points.size(), 120u);
    following.writeNow();
    memory.refresh();
    EXPECT_TRUE(memory.chart()->series()[0].points.empty());  // read again: the cleared file
}

}  // namespace
}  // namespace vigil
