// Real ext4 file systems on loop devices. Needs root and a free loop device; skips otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "platform/MountWatch.h"
#include "support/PrivateMounts.h"
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
    ASSERT_EQ(volumes.count(loop.mountPoint), 1u) << loop.mountPoint;
    const auto& volume = volumes.at(loop.mountPoint);
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
    ASSERT_EQ(disk.volumes().count(loop.mountPoint), 1u);
    int64_t before = disk.volumes().at(loop.mountPoint).wbytes;
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
    auto volume = disk.volumes().at(loop.mountPoint);
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
    ASSERT_EQ(disk.volumes().at(loop.mountPoint).name, "before");

    int status = 0;
    run("e2label " + loop.node() + " after", &status);
    ASSERT_EQ(status, 0);
    // Another test's mount may make the resource reload (and read the new label) before the
    // watch's label check reports the rename: wait for both.
    EXPECT_TRUE(test::waitUntil(
        [&] { return disk.volumes().at(loop.mountPoint).name == "after" && renames.load() == 1; }));
    EXPECT_EQ(disk.volumes().at(loop.mountPoint).path, loop.mountPoint);

    ASSERT_EQ(::umount2(loop.mountPoint.c_str(), 0), 0);
    EXPECT_TRUE(test::waitUntil([&] { return disk.volumes().count(loop.mountPoint) == 0; }));
    EXPECT_GE(watch->changes(), 1u);
    watch->removeListener(listener);
    watch->stop();
}

TEST(DiskLoop, EjectUnmountsThroughUmount2WithoutUDisks) {
    LoopVolume loop("eject");
    VIGIL_REQUIRE_LOOP(loop);
    DiskCollector collector(DiskCollector::Options{});  // UDisks2 first, when it runs
    auto outcome = collector.eject(loop.mountPoint);
    if (outcome.viaUDisks)
        GTEST_SKIP() << "UDisks2 runs on this machine's system bus";
    EXPECT_TRUE(outcome.unmounted) << outcome.error;
    EXPECT_EQ(outcome.error, "");
    EXPECT_FALSE(isMounted(loop.mountPoint));

    // The asynchronous request, as the volume's eject() issues it.
    LoopVolume second("eject2");
    ASSERT_TRUE(second.ready()) << second.skipReason;
    Disk disk(nullptr, &collector);
    auto volume = disk.volumes().at(second.mountPoint);
    // The collector must outlive the eject running on its helper thread: wait for the outcome.
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto unmounted = std::make_shared<std::atomic<bool>>(false);
    ASSERT_TRUE(volume.eject([done, unmounted](const DiskCollector::EjectOutcome& outcome) {
        *unmounted = outcome.unmounted;
        *done = true;
    }));
    ASSERT_TRUE(test::waitUntil([&] { return done->load(); }));
    EXPECT_TRUE(unmounted->load());
    EXPECT_FALSE(isMounted(second.mountPoint));
}

TEST(DiskLoop, BusyVolumeReportsTheFailure) {
    LoopVolume loop("busy");
    VIGIL_REQUIRE_LOOP(loop);
    DiskCollector collector(localOptions());
    int fd = ::open((loop.mountPoint + "/open-file").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    auto outcome = collector.eject(loop.mountPoint);
    EXPECT_FALSE(outcome.unmounted);
    EXPECT_NE(outcome.error.find("umount2 " + loop.mountPoint), std::string::npos) << outcome.error;
    EXPECT_TRUE(isMounted(loop.mountPoint));
    ::close(fd);
    EXPECT_TRUE(collector.eject(loop.mountPoint).unmounted);
}

// Two file systems whose sources end alike, as two shares alpha:/export/data and beta:/srv/data
// do: real ext4 volumes mounted through device nodes named after the shares, so the mount table
// shows those names as sources.
TEST(DiskLoopPrivate, VolumesNamedAlikeAreTwoAndEjectTakesOnlyTheOneAsked) {
    const std::string why = test::whyNoLoopDevices();
    if (!why.empty())
        GTEST_SKIP() << why;
    VIGIL_IN_PRIVATE_MOUNTS([] {
        test::ScratchFolder scratch("vigil-alike");
        const fs::path& folder = scratch.path;
        fs::create_directories(folder / "alpha:/export");
        fs::create_directories(folder / "beta:/srv");
        test::LoopImage alpha(folder.string(), 16, "mkfs.ext4 -q -L data");
        test::LoopImage beta(folder.string(), 16, "mkfs.ext4 -q -L data");
        ASSERT_TRUE(alpha.ready() && beta.ready()) << alpha.reason << beta.reason;
        std::map<std::string, std::string> mountPoints;
        ASSERT_EQ(::chdir(folder.c_str()), 0);
        for (const auto& [source, node] : {std::pair{std::string("alpha:/export/data"), alpha.node},
                                           std::pair{std::string("beta:/srv/data"), beta.node}}) {
            struct stat st {};
            ASSERT_EQ(::stat(node.c_str(), &st), 0);
            ASSERT_EQ(::mknod(source.c_str(), S_IFBLK | 0600, st.st_rdev), 0) << source;
            const std::string where = (folder / source.substr(0, source.find(':'))).string();
            fs::create_directories(where);
            ASSERT_EQ(::mount(source.c_str(), where.c_str(), "ext4", 0, nullptr), 0)
                << source << ": " << std::strerror(errno);
            mountPoints[source] = where;
        }
        DiskCollector collector(localOptions());
        Disk disk(nullptr, &collector);
        auto volumes = disk.volumes();
        const std::string& first = mountPoints.at("alpha:/export/data");
        const std::string& second = mountPoints.at("beta:/srv/data");
        ASSERT_EQ(volumes.count(first), 1u);
        ASSERT_EQ(volumes.count(second), 1u);
        EXPECT_EQ(volumes.at(first).device, "data");
        EXPECT_EQ(volumes.at(second).device, "data");
        EXPECT_NE(volumes.at(first).deviceNumber, volumes.at(second).deviceNumber);

        auto outcome = collector.eject(first);
        EXPECT_TRUE(outcome.unmounted) << outcome.error;
        EXPECT_FALSE(isMounted(first));
        EXPECT_TRUE(isMounted(second));
        disk.load();
        volumes = disk.volumes();
        EXPECT_EQ(volumes.count(first), 0u);
        ASSERT_EQ(volumes.count(second), 1u);
        EXPECT_GT(volumes.at(second).total, 10LL << 20);
        ::umount2(second.c_str(), MNT_DETACH);
        ASSERT_EQ(::chdir("/"), 0);
    });
}

// ext4 keeps 5 % of its blocks for root: df leaves them out of both used and available, and so
// must the share in use.
TEST(DiskLoopPrivate, UsageOfAVolumeWithReservedBlocksIsDfs) {
    const std::string why = test::whyNoLoopDevices();
    if (!why.empty())
        GTEST_SKIP() << why;
    if (std::system("command -v df >/dev/null") != 0)
        GTEST_SKIP() << "needs df (coreutils)";
    VIGIL_IN_PRIVATE_MOUNTS([] {
        test::ScratchFolder scratch("vigil-reserved");
        const fs::path& folder = scratch.path;
        fs::create_directories(folder / "mnt");
        // 64 MiB in 1 KiB blocks, 5 % reserved, no journal to keep the counts plain.
        test::LoopImage image(folder.string(), 64, "mkfs.ext4 -q -F -m 5 -b 1024 -O ^has_journal");
        ASSERT_TRUE(image.ready()) << image.reason;
        const std::string mountPoint = (folder / "mnt").string();
        ASSERT_EQ(::mount(image.node.c_str(), mountPoint.c_str(), "ext4", 0, nullptr), 0);
        {
            std::ofstream filler(mountPoint + "/filler", std::ios::binary);
            const std::string block(1 << 20, 'x');
            for (int i = 0; i < 40; ++i)
                filler << block;
        }
        ::sync();
        DiskCollector collector(localOptions());
        Disk disk(nullptr, &collector);
        ASSERT_EQ(disk.volumes().count(mountPoint), 1u);
        const auto volume = disk.volumes().at(mountPoint);
        const std::string df =
            test::commandOutput("df -B1 --output=used,avail,pcent " + mountPoint + " | tail -1");
        long long dfUsed = 0, dfAvailable = 0;
        int dfPercent = 0;
        ASSERT_EQ(std::sscanf(df.c_str(), "%lld %lld %d%%", &dfUsed, &dfAvailable, &dfPercent), 3)
            << df;
        EXPECT_EQ(volume.used, dfUsed);
        EXPECT_EQ(volume.free, dfAvailable);
        EXPECT_EQ(volume.usagePercent(), dfPercent);
        // The reserve is real here, and used / total would have shown less than df.
        EXPECT_GT(volume.total, volume.used + volume.free);
        EXPECT_LT(volume.used * 100 / volume.total, dfPercent);
        ::umount2(mountPoint.c_str(), MNT_DETACH);
    });
}

}  // namespace
}  // namespace vigil
