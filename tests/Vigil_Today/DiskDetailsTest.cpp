// The disk details over the desktop fixture machine: one view per volume, the root volume first,
// usage bar and texts, rates, SMART light, eject never offered for the root volume, rebuilt when
// the volumes change, the disk resource running only while the details are shown.

#include <sys/statvfs.h>

#include <QAccessible>
#include <QApplication>
#include <QMenu>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "Vigil_Today/DiskNetworkBatterySupport.h"
#include "details/DiskListViewController.h"
#include "details/DiskViewController.h"
#include "host/Workspace.h"
#include "platform/Smart.h"
#include "settings/Defaults.h"
#include "support/QtTestApp.h"
#include "support/TempFolder.h"
#include "support/TestSupport.h"
#include "system/Disk.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"
#include "views/CallbackStackView.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

// Records what the views ask of the desktop.
class RecordingWorkspace : public Workspace {
  public:
    std::vector<QString> calls;
    bool openSucceeds = true;

    bool openURL(const QString& url) override { return record("url " + url, true); }
    bool openFile(const QString& path) override { return record("open " + path, openSucceeds); }
    std::optional<QString> systemToolName(SystemTool tool) override {
        if (tool == SystemTool::disks)
            return QStringLiteral("Disks");
        return tool == SystemTool::diskUsage ? std::optional<QString>("Disk Usage Analyzer")
                                             : std::nullopt;
    }
    bool launchSystemTool(SystemTool tool) override {
        return record("launch " + systemToolDescription(tool), true);
    }
    bool selectFile(const QString& path, const QString&) override {
        return record("select " + path, true);
    }
    QIcon iconForFile(const QString&) override { return {}; }
    QIcon imageNamed(const QString& name) override {
        return DesktopWorkspace::bundledIcon(name.contains("removable") ? "drive" : "drive");
    }
    void copyToClipboard(const QString& text) override { calls.push_back("copy " + text); }

  private:
    bool record(const QString& call, bool result) {
        calls.push_back(call);
        return result;
    }
};

// What the NVMe drive of the fixture answers to its health query.
struct SmartScript {
    std::atomic<bool> answers{true};
    std::atomic<bool> refuses{false};  // as SG_IO does for a user without CAP_SYS_RAWIO
    std::atomic<uint8_t> criticalWarning{0};
    std::atomic<uint16_t> kelvin{314};  // 41 °C
};

class ScriptedSmart : public SmartTransport {
  public:
    explicit ScriptedSmart(SmartScript* script) : script_(script) {}
    Kind kind() const override { return script_ ? Kind::nvme : Kind::none; }
    bool ataNonData(const AtaRegisters&, AtaRegisters*) override { return false; }
    bool ataReadBlock(const AtaRegisters&, SmartBlock*) override { return false; }
    bool refused() const override { return script_ && script_->refuses; }
    bool nvmeGetLogPage(uint8_t, SmartBlock* log) override {
        if (!script_ || !script_->answers || script_->refuses)
            return false;
        log->fill(0);
        (*log)[0] = script_->criticalWarning;
        (*log)[1] = static_cast<uint8_t>(script_->kelvin & 0xFF);
        (*log)[2] = static_cast<uint8_t>(script_->kelvin >> 8);
        return true;
    }

  private:
    SmartScript* script_;
};

// A writable copy of the desktop fixture whose file-system sizes and SMART answers the test
// chooses.
class DiskMachine {
  public:
    DiskMachine() {
        static int counter = 0;
        root_ = fs::temp_directory_path() /
                ("vigil-diskview-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(root_);
        fs::copy(test::fixturePath("disk-desktop"), root_, fs::copy_options::recursive);
        DiskCollector::Options options;
        options.root = root_.string();
        options.useUDisks = false;
        options.statFunction = [this](const char* path, struct statvfs* out) {
            std::string mountPoint = fs::path(path).lexically_relative(root_).generic_string();
            if (mountPoint == ".")
                mountPoint = "";
            mountPoint = "/" + mountPoint;
            std::lock_guard lock(mutex_);
            auto found = sizes_.find(mountPoint);
            const auto [total, free] = found == sizes_.end()
                                           ? std::pair<int64_t, int64_t>{1'000'000, 400'000}
                                           : found->second;
            *out = {};
            out->f_bsize = out->f_frsize = 1000;
            out->f_blocks = static_cast<fsblkcnt_t>(total / 1000);
            out->f_bfree = out->f_bavail = static_cast<fsblkcnt_t>(free / 1000);
            return 0;
        };
        options.smartTransport = [this](const std::string& disk) {
            return std::make_unique<ScriptedSmart>(disk == "nvme0n1" ? &smart : nullptr);
        };
        collector_ = std::make_unique<DiskCollector>(options);
    }
    ~DiskMachine() {
        // SMART queries of the views read through the collector: let them finish first.
        EXPECT_TRUE(
            test::waitUntil([] { return DiskViewController::smartQueriesInFlight() == 0; }));
        system.reset();
        disk.reset();
        collector_.reset();
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // Bytes: total and free of the file system mounted at `mountPoint`.
    void setSize(const std::string& mountPoint, int64_t total, int64_t free) {
        std::lock_guard lock(mutex_);
        sizes_[mountPoint] = {total, free};
    }
    // Drops the mount-table lines that contain `needle`.
    void unmount(const std::string& needle) {
        const fs::path table = root_ / "proc/self/mountinfo";
        std::ifstream in(table);
        std::string line, kept;
        while (std::getline(in, line)) {
            if (line.find(needle) == std::string::npos)
                kept += line + "\n";
        }
        in.close();
        std::ofstream(table) << kept;
    }
    void start() {
        disk = std::make_shared<Disk>(nullptr, collector_.get());
        System::Resources resources;
        resources.disk = disk;
        system = std::make_unique<System>(
            resources, std::vector<System::TaskSpec>{{disk, 60.0, System::Group::all, true}});
        // The drives are asked for SMART on helper threads once listed; the NVMe one answers.
        EXPECT_TRUE(test::waitUntil([&] { return disk->volumes().at("/home").smart.has_value(); }));
    }
    Timer::Status diskTask() const { return system->tasks().front()->status(); }

    std::shared_ptr<Disk> disk;
    std::unique_ptr<System> system;
    SmartScript smart;

  private:
    fs::path root_;
    std::mutex mutex_;
    std::map<std::string, std::pair<int64_t, int64_t>> sizes_;
    std::unique_ptr<DiskCollector> collector_;
};

class DiskDetailsTest : public test::QtTest {
  protected:
    void SetUp() override {
        test::QtTest::SetUp();
        defaults = std::make_unique<Defaults>("disk-details-test", folder.path());
        themes = std::make_unique<ThemeManager>(*defaults);
    }

    test::TempFolder folder;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<ThemeManager> themes;
    RecordingWorkspace workspace;
};

TEST_F(DiskDetailsTest, OneViewPerVolumeRootFirstWithUsageTexts) {
    DiskMachine machine;
    machine.setSize("/", 500'000'000'000, 400'000'000'000);  // 100 GB used of 500 GB
    machine.start();
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    const auto& contents = list.contents();
    ASSERT_EQ(contents.size(), machine.disk->volumes().size());
    ASSERT_GE(contents.size(), 2u);
    auto& root = *contents.front();
    EXPECT_TRUE(root.volume.isRootFS);
    EXPECT_EQ(root.volume.device, "sda2");
    for (size_t i = 1; i < contents.size(); ++i)
        EXPECT_FALSE(contents[i]->volume.isRootFS);
    // The stack shows the views in the same order.
    const auto views = list.stackView->views();
    ASSERT_EQ(views.size(), static_cast<qsizetype>(contents.size()));
    for (size_t i = 0; i < contents.size(); ++i)
        EXPECT_EQ(views[static_cast<qsizetype>(i)], contents[i]->view());

    EXPECT_DOUBLE_EQ(root.used->percent(), 20.0);
    EXPECT_EQ(root.usage->text(), "100 GB Used | 400 GB Available");
    // What a screen reader says of the row.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(root.diskRowCallback)->text(QAccessible::Name),
              "Volume " + QString::fromStdString(root.volume.name) +
                  ", 20 percent used, 400 gigabytes available");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(root.diskRowCallback)->role(),
              QAccessible::Button);
    EXPECT_EQ(root.diskName->text(), QString::fromStdString(root.volume.name) + " \u203A");
    EXPECT_EQ(root.itemCapacity->text(), "500 GB");
    EXPECT_EQ(root.itemMountPoint->text(), "/");
    EXPECT_EQ(root.itemDevice->text(), "sda2");
    EXPECT_EQ(root.itemFstype->text(), "ext4");
    EXPECT_EQ(root.itemModel->text(), "Samsung SSD 860");
    // No SMART on this drive: grey lights, no temperature.
    EXPECT_TRUE(test::waitUntil([&] { return !root.isCheckingSmart(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(root.itemSmartStatus->text(), "Not supported by this drive");
    EXPECT_EQ(root.smartLed->color(), FUIColor::concrete());
    EXPECT_TRUE(root.temperatureFrame->isHidden());
    // No rates on the first sample: both rate lines hidden.
    EXPECT_TRUE(root.readIOView->isHidden());
    EXPECT_TRUE(root.writeIOView->isHidden());
    list.viewWillDisappear();
}

TEST_F(DiskDetailsTest, EjectIsNeverOfferedForTheRootVolume) {
    DiskMachine machine;
    machine.start();
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    int ejectable = 0;
    for (const auto& controller : list.contents()) {
        ASSERT_TRUE(controller->itemEject);
        EXPECT_EQ(controller->itemEject->isVisible(), controller->volume.canEject())
            << controller->volume.device;
        if (controller->volume.isRootFS) {
            EXPECT_FALSE(controller->itemEject->isVisible());
        }
        if (controller->volume.canEject()) {
            ++ejectable;
            EXPECT_EQ(controller->itemEject->text(),
                      "\u23CF Eject " + QString::fromStdString(controller->volume.name));
        }
    }
    EXPECT_GT(ejectable, 0);
    // Even when asked directly, the root volume is left alone (it would stop the process).
    const auto before = list.stackView->views().size();
    list.contents().front()->eject();
    EXPECT_EQ(list.stackView->views().size(), before);
    list.viewWillDisappear();
}

TEST_F(DiskDetailsTest, UsageColoursAtTheirThresholdsAndDarkBar) {
    DiskMachine machine;
    machine.setSize("/", 1'000'000'000, 400'000'000);  // the capacity is read when listed
    machine.start();
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    auto& root = *list.contents().front();
    GaugeBar& bar = *root.used;
    ASSERT_TRUE(bar.colorize());
    struct Row {
        int64_t freeBytes;  // of 1 000 000 000
        double percent;
        QColor color;
    };
    // The bar's bands: below 91 success, below 99 warning, from 99 danger.
    for (const Row& row :
         {Row{100'000'000, 90.0, bar.successColor()}, Row{90'000'000, 91.0, bar.warningColor()},
          Row{20'000'000, 98.0, bar.warningColor()}, Row{10'000'000, 99.0, bar.dangerColor()}}) {
        machine.setSize("/", 1'000'000'000, row.freeBytes);
        machine.disk->update();
        list.update();
        EXPECT_DOUBLE_EQ(bar.percent(), row.percent);
        EXPECT_EQ(bar.color(), row.color) << row.percent;
    }
    list.viewWillDisappear();
}

TEST_F(DiskDetailsTest, RatesShowOnlyWhenPositive) {
    DiskMachine machine;
    machine.start();
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    auto& root = *list.contents().front();
    Disk::Volume volume = root.volume;
    volume.rbytesps = 0;
    volume.wbytesps = 0;
    root.update(volume);
    const int heightWithoutRates = root.view()->sizeHint().height();
    volume.wbytesps = 1;
    root.update(volume);
    EXPECT_TRUE(root.readIOView->isHidden());
    EXPECT_FALSE(root.writeIOView->isHidden());
    EXPECT_EQ(root.writeIO->text(), "0.0 KB/s");
    volume.rbytesps = 123'456;
    volume.rbytes = 1536;
    root.update(volume);
    EXPECT_FALSE(root.readIOView->isHidden());
    EXPECT_EQ(root.readIO->text(), "120.6 KB/s");
    EXPECT_EQ(root.itemTotalRead->text(), "1.50 KB");
    // The panel keeps its height as the disk starts and stops working.
    EXPECT_EQ(root.view()->sizeHint().height(), heightWithoutRates);
    list.viewWillDisappear();
}

TEST_F(DiskDetailsTest, RebuildsWhenTheVolumesChange) {
    DiskMachine machine;
    machine.start();
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    const size_t before = list.contents().size();
    DiskViewController* firstRoot = list.contents().front().get();
    list.update();
    EXPECT_EQ(list.contents().front().get(), firstRoot) << "same volumes: the views stay";

    machine.unmount("/dev/sdb1");
    machine.disk->load();
    list.update();
    ASSERT_EQ(list.contents().size(), before - 1);
    EXPECT_EQ(list.stackView->views().size(), static_cast<qsizetype>(before - 1));
    EXPECT_TRUE(list.contents().front()->volume.isRootFS);
    for (const auto& controller : list.contents())
        EXPECT_NE(controller->volume.device, "sdb1");
    // New views were set up as shown views.
    EXPECT_FALSE(list.contents().back()->diskName->text().isEmpty());
    list.viewWillDisappear();
}

TEST_F(DiskDetailsTest, SeparatorFollowsTheRowsSetting) {
    DiskMachine machine;
    machine.start();
    defaults->set("widgetRows", int64_t{1});
    DiskListViewController onlyFirst(machine.system.get(), &workspace, defaults.get(),
                                     themes.get());
    onlyFirst.view();
    EXPECT_EQ(onlyFirst.contents().back()->separatorLineConstraint, -1.0);
    EXPECT_EQ(onlyFirst.contents().front()->separatorLineConstraint, 0.0);
    defaults->set("widgetRows", int64_t{0});
    DiskListViewController both(machine.system.get(), &workspace, defaults.get(), themes.get());
    both.view();
    EXPECT_EQ(both.contents().back()->separatorLineConstraint, 0.0);
}

TEST_F(DiskDetailsTest, RunsTheDiskResourceOnlyWhileShown) {
    DiskMachine machine;
    machine.start();
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    EXPECT_NE(machine.diskTask(), Timer::Status::started);
    list.viewWillAppear();
    EXPECT_EQ(machine.diskTask(), Timer::Status::started);
    list.viewWillDisappear();
    EXPECT_EQ(machine.diskTask(), Timer::Status::suspended);
}

TEST_F(DiskDetailsTest, MenuActionsReachTheWorkspace) {
    DiskMachine machine;
    machine.start();
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    auto& root = *list.contents().front();
    root.openDisksTool();
    root.openDiskUsageTool();
    workspace.openSucceeds = false;
    root.showInFileManager();
    ASSERT_EQ(workspace.calls.size(), 4u);
    EXPECT_EQ(workspace.calls[0], "launch disks");
    EXPECT_EQ(workspace.calls[1], "launch disk usage");
    EXPECT_EQ(workspace.calls[2], "open /");
    EXPECT_EQ(workspace.calls[3], "select /");
    // The desktop's tools by the names they give themselves.
    QStringList texts;
    for (const QAction* action : root.contextMenu->actions())
        texts << action->text();
    EXPECT_TRUE(texts.contains("Open Disks…")) << texts.join(", ").toStdString();
    EXPECT_TRUE(texts.contains("Open Disk Usage Analyzer…")) << texts.join(", ").toStdString();

    // A click on the row opens the menu under the icon.
    root.view()->resize(320, 80);
    root.view()->show();
    test::click(*root.diskRowCallback, {5, 5});
    EXPECT_TRUE(test::qtWaitUntil([&] { return root.contextMenu->isVisible(); }));
    root.contextMenu->hide();
    root.view()->hide();
    list.viewWillDisappear();
}

TEST_F(DiskDetailsTest, SmartLightsAndTemperature) {
    DiskMachine machine;
    machine.start();  // the drive answers once when listed: it speaks SMART
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    auto find = [&]() -> DiskViewController& {
        for (const auto& controller : list.contents()) {
            if (controller->volume.device == "nvme0n1p2")
                return *controller;
        }
        ADD_FAILURE() << "no view for the NVMe volume";
        return *list.contents().front();
    };
    auto appear = [&]() -> DiskViewController& {
        list.viewWillAppear();
        auto& nvme = find();
        EXPECT_EQ(nvme.itemSmartStatus->text(), "Checking\u2026");
        EXPECT_EQ(nvme.smartLed->color(), FUIColor::concrete());
        EXPECT_TRUE(test::waitUntil([&] { return !nvme.isCheckingSmart(); }));
        QCoreApplication::processEvents();
        return nvme;
    };

    auto& passed = appear();
    EXPECT_EQ(passed.itemSmartStatus->text(), "Verified");
    EXPECT_EQ(passed.smartLed->color(), FUIColor::brandSuccess());
    EXPECT_EQ(passed.itemSmartLed->color(), FUIColor::brandSuccess());
    EXPECT_FALSE(passed.temperatureFrame->isHidden());
    EXPECT_EQ(passed.temperature->text(), "41°");
    list.viewWillDisappear();

    // Fahrenheit, and a drive that warns and reports no temperature.
    defaults->set("temperature", int64_t{1});
    machine.smart.criticalWarning = 0x04;
    machine.smart.kelvin = 0;
    auto& failing = appear();
    EXPECT_EQ(failing.itemSmartStatus->text(), "Failing");
    EXPECT_EQ(failing.smartLed->color(), FUIColor::brandDanger());
    EXPECT_EQ(failing.itemSmartLed->color(), FUIColor::brandDanger());
    EXPECT_TRUE(failing.temperatureFrame->isHidden());
    list.viewWillDisappear();

    machine.smart.criticalWarning = 0;
    machine.smart.kelvin = 323;  // 50 °C = 122 °F
    auto& warm = appear();
    EXPECT_EQ(warm.temperature->text(), "122°");
    list.viewWillDisappear();

    // No answer, and no permission to ask: grey lights, and the text says which.
    machine.smart.answers = false;
    auto& silent = appear();
    EXPECT_EQ(silent.itemSmartStatus->text(), "No answer from the drive");
    EXPECT_EQ(silent.smartLed->color(), FUIColor::concrete());
    list.viewWillDisappear();
    machine.smart.refuses = true;
    auto& refused = appear();
    EXPECT_EQ(refused.itemSmartStatus->text(), "Unavailable: needs UDisks2 or root");
    EXPECT_EQ(refused.itemSmartLed->color(), FUIColor::concrete());
    EXPECT_TRUE(refused.temperatureFrame->isHidden());

    // Volumes without SMART say so and have no temperature frame.
    auto& plain = *list.contents().front();
    EXPECT_TRUE(test::waitUntil([&] { return !plain.isCheckingSmart(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(plain.itemSmartStatus->text(), "Not supported by this drive");
    EXPECT_TRUE(plain.temperatureFrame->isHidden());
    list.viewWillDisappear();
}

TEST_F(DiskDetailsTest, RefusedEjectChangesNothing) {
    DiskMachine machine;
    machine.start();
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    DiskViewController* stick = nullptr;
    for (const auto& controller : list.contents()) {
        if (controller->volume.device == "sdb1")
            stick = controller.get();
    }
    ASSERT_TRUE(stick);
    ASSERT_TRUE(stick->volume.canEject());
    // The volume is gone by the time the user clicks: the request is refused.
    stick->volume.path = "/media/user/gone";
    const auto views = list.stackView->views();
    stick->eject();
    EXPECT_EQ(list.stackView->views(), views);
    list.viewWillDisappear();
}

TEST_F(DiskDetailsTest, ThemesColourTheBarAndTexts) {
    DiskMachine machine;
    machine.setSize("/", 1'000'000'000, 50'000'000);  // 95 %: the warning band
    machine.start();
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    auto& root = *list.contents().front();
    const Theme& light = themes->themes[0];
    const Theme& dark = themes->themes[1];
    EXPECT_EQ(root.used->color(), light.warningColor);
    EXPECT_EQ(textColorOf(root.diskName), light.labelColor);

    themes->setActiveTheme(dark);
    EXPECT_FALSE(root.used->colorize());
    EXPECT_EQ(root.used->color(), dark.controllerColor);
    list.update();
    EXPECT_EQ(root.used->color(), dark.controllerColor) << "no threshold colours in the dark";
    EXPECT_EQ(textColorOf(root.diskName), dark.labelColor);
    EXPECT_EQ(textColorOf(root.usage), dark.labelColor);

    themes->setActiveTheme(light);
    EXPECT_TRUE(root.used->colorize());
    list.update();
    EXPECT_EQ(root.used->color(), light.warningColor);
    list.viewWillDisappear();
}

TEST_F(DiskDetailsTest, Gallery) {
    DiskMachine machine;
    machine.setSize("/", 500'107'862'016, 120'000'000'000);
    machine.setSize("/home", 1'000'204'886'016, 40'000'000'000);
    machine.setSize("/media/user/My Disk", 64'000'000'000, 63'000'000'000);
    machine.start();
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    EXPECT_TRUE(test::waitUntil([&] {
        return std::none_of(list.contents().begin(), list.contents().end(),
                            [](const auto& volume) { return volume->isCheckingSmart(); });
    }));
    // Some traffic on the root volume, and a SMART answer on it.
    Disk::Volume root = list.contents().front()->volume;
    root.rbytesps = 1'843'200;
    root.wbytesps = 20'480;
    list.contents().front()->update(root);
    // A share that stopped answering, and a stick whose eject was refused.
    for (const auto& controller : list.contents()) {
        if (controller->volume.path == "/mnt/nas") {
            Disk::Volume share = controller->volume;
            share.stale = true;
            controller->update(share);
        }
        if (controller->volume.path == "/media/user/My Disk")
            controller->ejectFinished(false, "it is in use by sleep (4242) and bash (4243)");
    }
    for (int index : {0, 1}) {
        themes->setActiveTheme(themes->themes[static_cast<size_t>(index)]);
        test::saveDetailPicture(*list.view(), themes->activeTheme(), "disk-details");
    }
    themes->setActiveTheme(themes->themes[0]);
    list.viewWillDisappear();
}

// The volume menu with each SMART state, in both themes.
TEST_F(DiskDetailsTest, GalleryOfSmartStates) {
    DiskMachine machine;
    machine.start();
    DiskListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    struct State {
        const char* name;
        bool answers, refuses;
        uint8_t warning;
        size_t volume;  // 0: the root volume, whose drive has no SMART; else the NVMe one
    };
    for (const State& state :
         {State{"verified", true, false, 0, 1}, State{"failing", true, false, 4, 1},
          State{"no-answer", false, false, 0, 1}, State{"needs-root", true, true, 0, 1},
          State{"not-supported", true, false, 0, 0}}) {
        machine.smart.answers = state.answers;
        machine.smart.refuses = state.refuses;
        machine.smart.criticalWarning = state.warning;
        list.viewWillAppear();
        DiskViewController* shown = list.contents().front().get();
        for (const auto& controller : list.contents()) {
            if (state.volume == 1 && controller->volume.device == "nvme0n1p2")
                shown = controller.get();
        }
        ASSERT_TRUE(test::waitUntil([&] { return !shown->isCheckingSmart(); }));
        for (int index : {0, 1}) {
            themes->setActiveTheme(themes->themes[static_cast<size_t>(index)]);
            QCoreApplication::processEvents();  // the rows' new sizes, as the event loop would
            shown->contextMenu->popup(QPoint(0, 0));
            ASSERT_TRUE(test::qtWaitUntil([&] { return shown->contextMenu->isVisible(); }));
            // The menu grew with the text: nothing clipped.
            EXPECT_GE(shown->itemSmartStatus->width(), shown->itemSmartStatus->sizeHint().width())
                << state.name;
            const QImage image = test::render(*shown->contextMenu);
            const QString path = test::galleryDir("Vigil_Today") +
                                 QStringLiteral("/disk-smart-%1-%2.png")
                                     .arg(QString::fromUtf8(state.name),
                                          themes->activeTheme().isDark ? "dark" : "light");
            EXPECT_TRUE(image.save(path)) << path.toStdString();
            std::printf("gallery: %s\n", qPrintable(path));
            shown->contextMenu->close();
        }
        themes->setActiveTheme(themes->themes[0]);
        list.viewWillDisappear();
    }
}

// This machine's own volumes, with the desktop's icons.
TEST_F(DiskDetailsTest, GalleryOfThisMachine) {
    DiskCollector::Options options;
    options.useUDisks = false;
    static auto* collector = new DiskCollector(options);  // SMART queries may outlive the test
    auto disk = std::make_shared<Disk>(nullptr, collector);
    if (!disk->HD())
        GTEST_SKIP() << "this machine lists no root volume";
    System::Resources resources;
    resources.disk = disk;
    System system(resources, {{disk, 60.0, System::Group::all, true}});
    DesktopWorkspace desktop;
    DiskListViewController list(&system, &desktop, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    ASSERT_FALSE(list.contents().empty());
    EXPECT_TRUE(list.contents().front()->volume.isRootFS);
    test::waitUntil([] { return DiskViewController::smartQueriesInFlight() == 0; });
    test::saveDetailPicture(*list.view(), themes->activeTheme(), "disk-details-this-machine");
    list.viewWillDisappear();
}

}  // namespace
}  // namespace vigil
