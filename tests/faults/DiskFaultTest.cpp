// The disk resource when a volume is unmounted and its loop device detached in the middle of an
// update, between the listing and the file-system call. Needs root and a free loop device.

#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "system/Disk.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

std::string run(const std::string& command, int* status = nullptr) {
    std::string output;
    int rc = -1;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        rc = ::pclose(pipe);
    }
    if (status)
        *status = rc;
    while (!output.empty() && (output.back() == '\n' || output.back() == ' '))
        output.pop_back();
    return output;
}

// A small ext4 image on a loop device, mounted in a temporary folder; undone at the end.
struct Loop {
    Loop() {
        folder = fs::temp_directory_path() / ("vigil-fault-loop-" + std::to_string(::getpid()));
        fs::create_directories(folder / "mnt");
        mountPoint = (folder / "mnt").string();
        const std::string image = (folder / "image").string();
        int status = 0;
        run("truncate -s 32M " + image + " && mkfs.ext4 -q -L fault " + image, &status);
        if (status != 0) {
            reason = "mkfs.ext4 failed (is e2fsprogs installed?)";
            return;
        }
        node = run("losetup --find --show " + image, &status);
        if (status != 0 || node.rfind("/dev/", 0) != 0) {
            reason = "no free loop device (losetup --find failed)";
            node.clear();
            return;
        }
        device = node.substr(5);
        run("mount -t ext4 " + node + " " + mountPoint, &status);
        if (status != 0) {
            reason = "mounting " + node + " failed";
            return;
        }
        ready = true;
    }
    ~Loop() {
        ::umount2(mountPoint.c_str(), MNT_DETACH);
        if (!node.empty())
            run("losetup -d " + node);
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    fs::path folder;
    std::string mountPoint, node, device, reason;
    bool ready = false;
};

TEST(DiskFaultTest, AVolumeUnmountedAndDetachedInTheMiddleOfAnUpdate) {
    VIGIL_REQUIRE_ROOT();
    Loop loop;
    if (!loop.ready)
        GTEST_SKIP() << loop.reason;

    // The file-system call of the update is where the volume goes away.
    std::atomic<bool> pullOut{false};
    DiskCollector::Options options;
    options.useUDisks = false;
    options.statFunction = [&](const char* path, struct statvfs* out) {
        if (pullOut.exchange(false) && loop.mountPoint == path) {
            ::umount2(loop.mountPoint.c_str(), MNT_DETACH);
            run("losetup -d " + loop.node);
        }
        return ::statvfs(path, out);
    };
    DiskCollector collector(options);
    // No mount watch: the volume stays listed until the next listing, so the figures this update
    // merged can be checked (a watch would race to drop it).
    Disk disk(nullptr, &collector);
    ASSERT_EQ(disk.volumes().count(loop.device), 1u);
    const Disk::Volume before = disk.volumes().at(loop.device);
    const size_t others = disk.volumes().size() - 1;

    testing::internal::CaptureStderr();
    disk.update();
    pullOut = true;
    disk.update();
    EXPECT_FALSE(pullOut.load()) << "the update did not reach the volume";
    // Whatever is still listed keeps figures of its own file system, not of the folder that
    // lies under the old mount point.
    for (const auto& [device, volume] : disk.volumes()) {
        EXPECT_GE(volume.used, 0) << device;
        EXPECT_GE(volume.free, 0) << device;
        EXPECT_LE(volume.used, volume.total) << device;
        EXPECT_LE(volume.free, volume.total) << device;
        EXPECT_GE(volume.wbytesps, 0) << device;
        EXPECT_GE(volume.rbytesps, 0) << device;
    }
    ASSERT_EQ(disk.volumes().count(loop.device), 1u);
    const auto after = disk.volumes().at(loop.device);
    EXPECT_EQ(after.total, before.total);
    EXPECT_EQ(after.used, before.used);
    EXPECT_EQ(after.free, before.free);
    disk.update();
    // The next listing (what a mount watch triggers) drops it; sampling goes on with the others.
    disk.load();
    EXPECT_EQ(disk.volumes().count(loop.device), 0u);
    disk.update();
    disk.update();
    EXPECT_EQ(disk.volumes().size(), others);
    const std::string err = testing::internal::GetCapturedStderr();
    std::istringstream lines(err);
    std::set<std::string> seen;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Error: ", 0) == 0) {
            EXPECT_TRUE(seen.insert(line).second) << "repeated: " << line;
        }
    }
}

}  // namespace
}  // namespace vigil
