#include "system/Disk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/MountWatch.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

// A writable copy of the desktop fixture, removed when the test ends.
class FixtureCopy {
  public:
    FixtureCopy() {
        static int counter = 0;
        root_ = fs::temp_directory_path() /
                ("vigil-disk-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(root_);
        fs::copy(test::fixturePath("disk-desktop"), root_, fs::copy_options::recursive);
    }
    ~FixtureCopy() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::string root() const { return root_.string(); }
    void write(const std::string& relative, const std::string& text) {
        std::ofstream(root_ / relative) << text;
    }
    std::string read(const std::string& relative) {
        std::ifstream in(root_ / relative);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Drops the mountinfo lines that contain `needle`.
    void unmount(const std::string& needle) {
        std::stringstream in(read("proc/self/mountinfo"));
        std::string line, kept;
        while (std::getline(in, line)) {
            if (line.find(needle) == std::string::npos)
                kept += line + "\n";
        }
        write("proc/self/mountinfo", kept);
    }
    void setSectors(const std::string& disk, long long read, long long written) {
        write("sys/block/" + disk + "/stat", "1 0 " + std::to_string(read) + " 0 1 0 " +
                                                 std::to_string(written) +
                                                 " 0 0 0 0 0 0 0 0 0 0\n");
    }

  private:
    fs::path root_;
};

DiskCollector::Options optionsFor(const FixtureCopy& fixture) {
    DiskCollector::Options options;
    options.root = fixture.root();
    options.useUDisks = false;
    return options;
}

// Lets the monotonic clock move on by a few milliseconds, so two samples are apart.
void letTimePass() {
    auto start = DiskCollector::monotonicMs();
    test::waitUntil([&] { return DiskCollector::monotonicMs() - start >= 3; },
                    std::chrono::seconds(1));
}

TEST(Disk, ListsVolumesWithTheRootAsHD) {
    FixtureCopy fixture;
    DiskCollector collector(optionsFor(fixture));
    Disk disk(nullptr, &collector);
    EXPECT_EQ(disk.type(), SystemResourceType::disk);
    auto volumes = disk.volumes();
    EXPECT_EQ(volumes.size(), 7u);
    auto hd = disk.HD();
    ASSERT_TRUE(hd);
    EXPECT_EQ(hd->device, "sda2");
    EXPECT_EQ(hd->path, "/");
    EXPECT_TRUE(hd->isRootFS);
    EXPECT_EQ(hd->model, "Samsung SSD 860");
    EXPECT_EQ(hd->icon, "drive-harddisk");
    // Never offered for eject: the root, and /boot/efi on the same disk.
    EXPECT_FALSE(volumes.at("sda2").canEject());
    EXPECT_FALSE(volumes.at("sda1").canEject());
    EXPECT_TRUE(volumes.at("sdb1").canEject());
    EXPECT_TRUE(volumes.at("media").canEject());
    // Fresh volumes have no rates yet.
    EXPECT_EQ(volumes.at("sdb1").wbytesps, 0);
    uint8_t usage = disk.usage();
    EXPECT_EQ(usage, disk.HD()->usagePercent());
    EXPECT_LE(usage, 100);
}

TEST(Disk, RatesFollowTheCountersAndSurviveResetsAndVanishing) {
    FixtureCopy fixture;
    DiskCollector collector(optionsFor(fixture));
    fixture.setSectors("sdb", 1000, 2000);
    Disk disk(nullptr, &collector);
    letTimePass();
    fixture.setSectors("sdb", 1000 + 2048, 2000 + 4096);
    disk.update();
    auto stick = disk.volumes().at("sdb1");
    EXPECT_EQ(stick.rbytes, (1000 + 2048) * 512LL);
    EXPECT_EQ(stick.wbytes, (2000 + 4096) * 512LL);
    EXPECT_GT(stick.rbytesps, 0);
    EXPECT_GT(stick.wbytesps, stick.rbytesps);
    EXPECT_GT(stick.timestamp, 0);

    // Counters that go down were reset: no negative rate.
    letTimePass();
    fixture.setSectors("sdb", 10, 20);
    disk.update();
    stick = disk.volumes().at("sdb1");
    EXPECT_EQ(stick.rbytesps, 0);
    EXPECT_EQ(stick.wbytesps, 0);
    EXPECT_EQ(stick.wbytes, 20 * 512);

    // The device vanishes mid-read: counters stay, rates read 0, nothing crashes.
    fs::remove(fs::path(fixture.root()) / "sys/block/sdb/stat");
    letTimePass();
    disk.update();
    stick = disk.volumes().at("sdb1");
    EXPECT_EQ(stick.wbytes, 20 * 512);
    EXPECT_EQ(stick.wbytesps, 0);
    // It comes back with large counters: the first sample after is a new baseline, not a jump.
    fixture.setSectors("sdb", 5000000, 9000000);
    letTimePass();
    disk.update();
    EXPECT_EQ(disk.volumes().at("sdb1").wbytesps, 0);
    fixture.setSectors("sdb", 5000000, 9000000 + 2);
    letTimePass();
    disk.update();
    EXPECT_GT(disk.volumes().at("sdb1").wbytesps, 0);
}

TEST(Disk, LoadDropsUnmountedVolumesAndKeepsTheOthers) {
    FixtureCopy fixture;
    DiskCollector collector(optionsFor(fixture));
    Disk disk(nullptr, &collector);
    letTimePass();
    fixture.setSectors("sda", 3000000, 4000000);
    disk.load();
    auto volumes = disk.volumes();
    // A volume that stays gets its rates from the previous sample.
    EXPECT_GT(volumes.at("sda2").wbytesps, 0);
    fixture.unmount("/dev/sdb1");
    disk.load();
    volumes = disk.volumes();
    EXPECT_EQ(volumes.count("sdb1"), 0u);
    EXPECT_EQ(volumes.size(), 6u);
    // No root listed: no HD and a usage of 0.
    fixture.unmount(" / / ");
    disk.load();
    EXPECT_FALSE(disk.HD());
    EXPECT_EQ(disk.usage(), 0);
    fixture.write("proc/self/mountinfo", "");
    disk.load();
    EXPECT_TRUE(disk.volumes().empty());
}

TEST(Disk, RenameKeepsTheKey) {
    FixtureCopy fixture;
    DiskCollector collector(optionsFor(fixture));
    Disk disk(nullptr, &collector);
    disk.handleRenameNotification({"sdb1", "sdb1", "Backup", "/media/user/Backup"});
    auto volumes = disk.volumes();
    EXPECT_EQ(volumes.at("sdb1").name, "Backup");
    EXPECT_EQ(volumes.at("sdb1").path, "/media/user/Backup");
    EXPECT_EQ(volumes.at("sdb1").device, "sdb1");
    // Another volume with the same old name is not touched: renames go by device.
    EXPECT_EQ(volumes.at("sda1").name, "sda1");
    disk.handleRenameNotification({"sdz1", "x", "y", "/z"});
    EXPECT_EQ(disk.volumes().size(), 7u);
}

TEST(DiskDeathTest, EjectingTheRootVolumeIsAContractViolation) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Disk::Volume root;
    root.device = "sda2";
    root.isRootFS = true;
    EXPECT_FALSE(root.canEject());
    EXPECT_DEATH(root.eject(), "Cannot unmount/eject the root filesystem");
}

TEST(Disk, EjectOfAnUnknownDeviceIsRefusedAtOnce) {
    FixtureCopy fixture;
    DiskCollector collector(optionsFor(fixture));
    EXPECT_FALSE(collector.ejectDisk("sdq7"));
    EXPECT_FALSE(collector.ejectDisk(""));
    EXPECT_FALSE(collector.ejectDisk(nullptr));
}

TEST(Disk, UsagePercentGuardsItsDenominator) {
    Disk::Volume volume;
    EXPECT_EQ(volume.usagePercent(), 0);
    volume.total = 1000;
    volume.used = 999;
    EXPECT_EQ(volume.usagePercent(), 99);  // truncated
    volume.used = 5000;
    EXPECT_EQ(volume.usagePercent(), 100);
    volume.total = -1;
    EXPECT_EQ(volume.usagePercent(), 0);
}

TEST(Disk, SmartRecordOnlyForCapableDrives) {
    FixtureCopy fixture;
    auto options = optionsFor(fixture);
    int opened = 0;
    options.smartTransport = [&](const std::string& disk) -> std::unique_ptr<SmartTransport> {
        ++opened;
        if (disk != "nvme0n1")
            return openSmartTransport("/", "loop0");  // not capable
        struct Nvme : SmartTransport {
            Kind kind() const override { return Kind::nvme; }
            bool ataNonData(const AtaRegisters&, AtaRegisters*) override { return false; }
            bool ataReadBlock(const AtaRegisters&, SmartBlock*) override { return false; }
            bool nvmeGetLogPage(uint8_t, SmartBlock* log) override {
                log->fill(0);
                (*log)[1] = 0x3A;  // 314 K
                (*log)[2] = 0x01;
                return true;
            }
        };
        return std::make_unique<Nvme>();
    };
    DiskCollector collector(options);
    Disk disk(nullptr, &collector);
    auto volumes = disk.volumes();
    ASSERT_TRUE(volumes.at("nvme0n1p2").smart);
    EXPECT_FALSE(volumes.at("sda2").smart);
    EXPECT_FALSE(volumes.at("media").smart);
    auto status = volumes.at("nvme0n1p2").smartStatus();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->status);
    EXPECT_DOUBLE_EQ(status->temp, 41);
    EXPECT_FALSE(volumes.at("sda2").smartStatus());
    // Asked once per new volume on a known disk; a reload does not ask again.
    int before = opened;
    disk.load();
    EXPECT_EQ(opened, before);
}

TEST(Disk, FollowsTheMountWatch) {
    FixtureCopy fixture;
    DiskCollector collector(optionsFor(fixture));
    MountWatch::Options watchOptions;
    watchOptions.root = fixture.root();
    watchOptions.labelInterval = std::chrono::milliseconds(50);
    auto watch = std::make_shared<MountWatch>(watchOptions);
    ASSERT_TRUE(watch->start());
    Disk disk(watch, &collector);
    ASSERT_EQ(disk.volumes().count("sdb1"), 1u);
    fixture.unmount("/dev/sdb1");
    EXPECT_TRUE(test::waitUntil([&] { return disk.volumes().count("sdb1") == 0; }));
    EXPECT_GE(watch->changes(), 1u);
    watch->stop();
}

TEST(Disk, MountWatchFailsCleanlyWithoutATable) {
    MountWatch watch("/nonexistent-vigil-root");
    EXPECT_FALSE(watch.start());
    EXPECT_FALSE(watch.running());
    watch.stop();
}

}  // namespace
}  // namespace vigil
