// Real ext4 file systems on loop devices. Needs root and a free loop device; skips otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/MountWatch.h"
#include "support/TestSupport.h"
#include "system/Disk.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

std::string run(const std::string& command, int* status = nullptr) {
    std::string output;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        int rc = ::pclose(pipe);
        if (status)
            *status = rc;
    } else if (status) {
        *status = -1;
    }
    while (!output.empty() && (output.back() == '\n' || output.back() == ' '))
        output.pop_back();
    return output;
}

bool isMounted(const std::string& mountPoint) {
    auto table = MountTable().read();
    if (!table)
        return false;
    for (const auto& entry : *table) {
        if (entry.mountPoint == mountPoint)
            return true;
    }
    return false;
}

// An ext4 image on a loop device mounted in a temporary folder. Everything it set up is undone
// in its destructor, whether the test passed or not.
class LoopVolume {
  public:
    explicit LoopVolume(const std::string& label, int sizeMiB = 32) {
        static int counter = 0;
        folder_ = fs::temp_directory_path() /
                  ("vigil-loop-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(folder_ / "mnt");
        mountPoint = (folder_ / "mnt").string();
        std::string image = (folder_ / "image").string();
        int status = 0;
        run("truncate -s " + std::to_string(sizeMiB) + "M " + image + " && mkfs.ext4 -q -L '" +
                label + "' " + image,
            &status);
        if (status != 0) {
            skipReason = "mkfs.ext4 failed (is e2fsprogs installed?)";
            return;
        }
        std::string node = run("losetup --find --show " + image, &status);
        if (status != 0 || node.rfind("/dev/", 0) != 0) {
            skipReason = "no free loop device (losetup --find failed)";
            return;
        }
        node_ = node;
        device = node.substr(5);
        run("mount -t ext4 " + node_ + " " + mountPoint, &status);
        if (status != 0) {
            skipReason = "mounting " + node_ + " failed";
            return;
        }
        mounted_ = true;
    }
    ~LoopVolume() {
        if (isMounted(mountPoint))
            ::umount2(mountPoint.c_str(), MNT_DETACH);
        if (!node_.empty())
            run("losetup -d " + node_);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    bool ready() const { return mounted_; }
    const std::string& node() const { return node_; }

    std::string device;  // "loop3"
    std::string mountPoint;
    std::string skipReason;

  private:
    fs::path folder_;
    std::string node_;
    bool mounted_ = false;
};

#define VIGIL_REQUIRE_LOOP(volume)               \
    do {                                         \
        VIGIL_REQUIRE_ROOT();                    \
        if (!(volume).ready())                   \
            GTEST_SKIP() << (volume).skipReason; \
    } while (0)

DiskCollector::Options localOptions() {
    DiskCollector::Options options;
    options.useUDisks = false;
    return options;
}

void letTimePass() {
    auto start = DiskCollector::monotonicMs();
    test::waitUntil([&] { return DiskCollector::monotonicMs() - start >= 5; },
                    std::chrono::seconds(1));
}

TEST(DiskLoop, VolumeAppearsWithItsCapacityAndLabel) {
    LoopVolume loop("Vigil Test");
    VIGIL_REQUIRE_LOOP(loop);
    DiskCollector collector(localOptions());
    Disk disk(nullptr, &collector);
    auto volumes = disk.volumes();
    ASSERT_EQ(volumes.count(loop.device), 1u) << loop.device;
    const auto& volume = volumes.at(loop.device);
    EXPECT_EQ(volume.name, "Vigil Test");
    EXPECT_EQ(volume.path, loop.mountPoint);
    EXPECT_EQ(volume.fstype, "ext4");
    EXPECT_EQ(volume.model, "unknown");
    EXPECT_FALSE(volume.isRootFS);
    EXPECT_TRUE(volume.canEject());
    EXPECT_FALSE(volume.smart);  // loop devices speak no SMART
    struct statvfs st {};
    ASSERT_EQ(::statvfs(loop.mountPoint.c_str(), &st), 0);
    EXPECT_EQ(volume.total, static_cast<int64_t>(st.f_blocks * st.f_frsize));
    EXPECT_GT(volume.total, 20LL << 20);
    EXPECT_LE(volume.total, 32LL << 20);
    EXPECT_EQ(volume.used, static_cast<int64_t>((st.f_blocks - st.f_bfree) * st.f_frsize));
    EXPECT_EQ(volume.free, static_cast<int64_t>(st.f_bavail * st.f_frsize));
}

TEST(DiskLoop, WrittenBytesShowInTheActivity) {
    LoopVolume loop("activity");
    VIGIL_REQUIRE_LOOP(loop);
    DiskCollector collector(localOptions());
    Disk disk(nullptr, &collector);
    ASSERT_EQ(disk.volumes().count(loop.device), 1u);
    int64_t before = disk.volumes().at(loop.device).wbytes;
    {
        std::vector<char> block(1 << 20, 'v');
        int fd = ::open((loop.mountPoint + "/data").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        for (int i = 0; i < 4; ++i) {
            ASSERT_EQ(::write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
        }
        ASSERT_EQ(::fsync(fd), 0);
        ::close(fd);
        ::sync();
    }
    letTimePass();
    disk.update();
    auto volume = disk.volumes().at(loop.device);
    EXPECT_GE(volume.wbytes - before, 4LL << 20);
    EXPECT_GT(volume.wbytesps, 0);
    EXPECT_GT(volume.used, 4LL << 20);
}

TEST(DiskLoop, MountWatchSeesRenameAndUnmount) {
    LoopVolume loop("before");
    VIGIL_REQUIRE_LOOP(loop);
    if (run("command -v e2label").empty())
        GTEST_SKIP() << "e2label is not installed";
    DiskCollector collector(localOptions());
    MountWatch::Options options;
    options.labelInterval = std::chrono::milliseconds(100);
    auto watch = std::make_shared<MountWatch>(options);
    ASSERT_TRUE(watch->start());
    std::atomic<int> renames{0};
    int listener = watch->addListener({nullptr, [&](const VolumeRename& rename) {
                                           if (rename.device == loop.device)
                                               ++renames;
                                       }});
    Disk disk(watch, &collector);
    ASSERT_EQ(disk.volumes().at(loop.device).name, "before");

    int status = 0;
    run("e2label " + loop.node() + " after", &status);
    ASSERT_EQ(status, 0);
    // Another test's mount may make the resource reload (and read the new label) before the
    // watch's label check reports the rename: wait for both.
    EXPECT_TRUE(test::waitUntil(
        [&] { return disk.volumes().at(loop.device).name == "after" && renames.load() == 1; }));
    EXPECT_EQ(disk.volumes().at(loop.device).path, loop.mountPoint);

    ASSERT_EQ(::umount2(loop.mountPoint.c_str(), 0), 0);
    EXPECT_TRUE(test::waitUntil([&] { return disk.volumes().count(loop.device) == 0; }));
    EXPECT_GE(watch->changes(), 1u);
    watch->removeListener(listener);
    watch->stop();
}

TEST(DiskLoop, EjectUnmountsThroughUmount2WithoutUDisks) {
    LoopVolume loop("eject");
    VIGIL_REQUIRE_LOOP(loop);
    DiskCollector collector(DiskCollector::Options{});  // UDisks2 first, when it runs
    auto outcome = collector.eject(loop.device);
    if (outcome.viaUDisks)
        GTEST_SKIP() << "UDisks2 runs on this machine's system bus";
    EXPECT_TRUE(outcome.unmounted) << outcome.error;
    EXPECT_EQ(outcome.error, "");
    EXPECT_FALSE(isMounted(loop.mountPoint));

    // The asynchronous request, as the volume's eject() issues it.
    LoopVolume second("eject2");
    ASSERT_TRUE(second.ready()) << second.skipReason;
    Disk disk(nullptr, &collector);
    auto volume = disk.volumes().at(second.device);
    EXPECT_TRUE(volume.eject());
    EXPECT_TRUE(test::waitUntil([&] { return !isMounted(second.mountPoint); }));
}

TEST(DiskLoop, BusyVolumeReportsTheFailure) {
    LoopVolume loop("busy");
    VIGIL_REQUIRE_LOOP(loop);
    DiskCollector collector(localOptions());
    int fd = ::open((loop.mountPoint + "/open-file").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    auto outcome = collector.eject(loop.device);
    EXPECT_FALSE(outcome.unmounted);
    EXPECT_NE(outcome.error.find("umount2 " + loop.mountPoint), std::string::npos) << outcome.error;
    EXPECT_TRUE(isMounted(loop.mountPoint));
    ::close(fd);
    EXPECT_TRUE(collector.eject(loop.device).unmounted);
}

}  // namespace
}  // namespace vigil
