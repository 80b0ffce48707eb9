#include "system/Disk.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cerrno>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/MountWatch.h"
#include "platform/Read.h"
#include "runtime/Queue.h"
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
    EXPECT_FALSE(volumes.at("/").canEject());
    EXPECT_FALSE(volumes.at("/boot/efi").canEject());
    EXPECT_TRUE(volumes.at("/media/user/My Disk").canEject());
    EXPECT_TRUE(volumes.at("/mnt/nas").canEject());
    // Fresh volumes have no rates yet.
    EXPECT_EQ(volumes.at("/media/user/My Disk").wbytesps, 0);
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
    auto stick = disk.volumes().at("/media/user/My Disk");
    EXPECT_EQ(stick.rbytes, (1000 + 2048) * 512LL);
    EXPECT_EQ(stick.wbytes, (2000 + 4096) * 512LL);
    EXPECT_GT(stick.rbytesps, 0);
    EXPECT_GT(stick.wbytesps, stick.rbytesps);
    EXPECT_GT(stick.timestamp, 0);

    // Counters that go down were reset: no negative rate.
    letTimePass();
    fixture.setSectors("sdb", 10, 20);
    disk.update();
    stick = disk.volumes().at("/media/user/My Disk");
    EXPECT_EQ(stick.rbytesps, 0);
    EXPECT_EQ(stick.wbytesps, 0);
    EXPECT_EQ(stick.wbytes, 20 * 512);

    // The device vanishes mid-read: counters stay, rates read 0, nothing crashes.
    fs::remove(fs::path(fixture.root()) / "sys/block/sdb/stat");
    letTimePass();
    disk.update();
    stick = disk.volumes().at("/media/user/My Disk");
    EXPECT_EQ(stick.wbytes, 20 * 512);
    EXPECT_EQ(stick.wbytesps, 0);
    // It comes back with large counters: the first sample after is a new baseline, not a jump.
    fixture.setSectors("sdb", 5000000, 9000000);
    letTimePass();
    disk.update();
    EXPECT_EQ(disk.volumes().at("/media/user/My Disk").wbytesps, 0);
    fixture.setSectors("sdb", 5000000, 9000000 + 2);
    letTimePass();
    disk.update();
    EXPECT_GT(disk.volumes().at("/media/user/My Disk").wbytesps, 0);
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
    EXPECT_GT(volumes.at("/").wbytesps, 0);
    fixture.unmount("/dev/sdb1");
    disk.load();
    volumes = disk.volumes();
    EXPECT_EQ(volumes.count("/media/user/My Disk"), 0u);
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
    disk.handleRenameNotification({"sdb1", "sdb1", "Backup", "/media/user/My Disk"});
    auto volumes = disk.volumes();
    EXPECT_EQ(volumes.at("/media/user/My Disk").name, "Backup");
    EXPECT_EQ(volumes.at("/media/user/My Disk").device, "sdb1");
    // Another volume with the same old name is not touched.
    EXPECT_EQ(volumes.at("/boot/efi").name, "sda1");
    disk.handleRenameNotification({"sdz1", "x", "y", "/z"});
    EXPECT_EQ(disk.volumes().size(), 7u);
}

TEST(Disk, AFailingVolumeKeepsItsFiguresMarkedStaleAndWritesOneLine) {
    FixtureCopy fixture;
    auto options = optionsFor(fixture);
    auto failing = std::make_shared<std::atomic<bool>>(false);
    options.statFunction = [failing](const char* path, struct statvfs* st) {
        if (*failing && std::string(path).find("/srv/data") != std::string::npos) {
            errno = EIO;
            return -1;
        }
        return ::statvfs(path, st);
    };
    DiskCollector collector(options);
    Disk disk(nullptr, &collector);
    const auto before = disk.volumes().at("/srv/data");
    ASSERT_GT(before.total, 0);
    *failing = true;
    platform::resetReportedErrors();
    testing::internal::CaptureStderr();
    for (int tick = 0; tick < 5; ++tick) {
        disk.update();
        disk.load();
    }
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string line = "Error: statfs /srv/data -- Input/output error\n";
    EXPECT_NE(err.find(line), std::string::npos) << err;
    EXPECT_EQ(err.find(line), err.rfind(line)) << "written more than once:\n" << err;
    auto failed = disk.volumes().at("/srv/data");
    EXPECT_TRUE(failed.stale);
    EXPECT_EQ(failed.total, before.total);
    EXPECT_EQ(failed.used, before.used);
    EXPECT_FALSE(disk.volumes().at("/").stale);
    *failing = false;
    disk.update();
    EXPECT_FALSE(disk.volumes().at("/srv/data").stale);
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

TEST(Disk, UsagePercentIsDfsShareAndGuardsItsDenominator) {
    Disk::Volume volume;
    EXPECT_EQ(volume.usagePercent(), 0);
    // 1000 blocks, 50 reserved for root: df calls 170 used of 170 + 780 available 18 %.
    volume.total = 1000;
    volume.used = 170;
    volume.free = 780;
    EXPECT_EQ(volume.usagePercent(), 18);  // rounded up, as df does
    volume.free = 0;
    EXPECT_EQ(volume.usagePercent(), 100);  // full to the reserve
    volume.free = -1;
    EXPECT_EQ(volume.usagePercent(), 0);
}

TEST(Disk, SmartRecordOnlyForCapableDrives) {
    FixtureCopy fixture;
    auto options = optionsFor(fixture);
    std::atomic<int> opened{0};
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
    // The drives are asked on helper threads once the volumes are listed.
    ASSERT_TRUE(test::waitUntil([&] { return disk.volumes().at("/home").smart.has_value(); }));
    int disks = 0;
    for (const auto& [path, volume] : disk.volumes())
        disks += volume.wholeDisk.empty() ? 0 : 1;
    ASSERT_TRUE(test::waitUntil([&] { return opened.load() == disks; })) << opened.load();
    auto volumes = disk.volumes();
    EXPECT_FALSE(volumes.at("/").smart);
    EXPECT_FALSE(volumes.at("/mnt/nas").smart);
    auto status = volumes.at("/home").smartStatus();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->status);
    EXPECT_DOUBLE_EQ(status->temp, 41);
    EXPECT_FALSE(volumes.at("/").smartStatus());
    // Asked once per new volume on a known disk; a reload does not ask again.
    int before = opened.load();
    disk.load();
    EXPECT_EQ(opened.load(), before);
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
    ASSERT_EQ(disk.volumes().count("/media/user/My Disk"), 1u);
    fixture.unmount("/dev/sdb1");
    EXPECT_TRUE(test::waitUntil([&] { return disk.volumes().count("/media/user/My Disk") == 0; }));
    EXPECT_GE(watch->changes(), 1u);
    watch->stop();
}

// Mount changes that come while a listing waits on a slow file system are merged into one more
// listing, not one each: one hundred would hold the sampling pool's workers one after the other.
TEST(Disk, MountChangesThatPileUpAreMergedIntoOneListing) {
    FixtureCopy fixture;
    auto options = optionsFor(fixture);
    options.answerTimeout = std::chrono::seconds(60);
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    std::string watched;  // the first volume asked: every listing asks it once
    int listings = 0;
    options.statFunction = [&](const char* path, struct statvfs* out) {
        std::unique_lock lock(mutex);
        if (watched.empty())
            watched = path;
        if (watched == path) {
            ++listings;
            changed.notify_all();
            changed.wait(lock, [&] { return !held; });
        }
        return ::statvfs(path, out);
    };
    DiskCollector collector(options);
    Disk disk(nullptr, &collector);
    const auto listed = [&](int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60), [&] { return listings >= count; });
    };
    ASSERT_TRUE(listed(1));

    {
        std::lock_guard lock(mutex);
        held = true;
    }
    disk.handleMountNotifications();
    ASSERT_TRUE(listed(2));  // that listing now waits on the volume
    for (int i = 0; i < 100; ++i)
        disk.handleMountNotifications();
    {
        std::lock_guard lock(mutex);
        held = false;
    }
    changed.notify_all();
    // The pool starts its tasks in order: by the time this one runs, every listing queued before
    // it has run, or holds a worker.
    std::atomic<bool> drained{false};
    Queue::background().async([&] { drained = true; });
    ASSERT_TRUE(test::waitUntil([&] { return drained.load(); }, std::chrono::seconds(60)));
    disk.load();
    std::lock_guard lock(mutex);
    EXPECT_EQ(listings, 4) << "the first listing, the one held, one for the hundred, this one";
}

TEST(Disk, MountWatchFailsCleanlyWithoutATable) {
    MountWatch watch("/nonexistent-vigil-root");
    EXPECT_FALSE(watch.start());
    EXPECT_FALSE(watch.running());
    watch.stop();
}

}  // namespace
}  // namespace vigil
