// The disk resource when a volume goes away in the middle of an update (unmounted and its loop
// device detached between the listing and the file-system call), and when a volume stops answering
// (a FUSE file system whose daemon is stopped). Needs root and a free loop device.

#include <fcntl.h>
#include <linux/fuse.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/Queue.h"
#include "support/PrivateMounts.h"
#include "support/TestSupport.h"
#include "system/Disk.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

// A small ext4 image on a loop device, mounted in a temporary folder; undone at the end.
struct Loop {
    Loop() {
        folder = fs::temp_directory_path() / ("vigil-fault-loop-" + std::to_string(::getpid()));
        fs::create_directories(folder / "mnt");
        mountPoint = (folder / "mnt").string();
        const std::string image = (folder / "image").string();
        int status = 0;
        test::commandOutput("truncate -s 32M " + image + " && mkfs.ext4 -q -L fault " + image,
                            &status);
        if (status != 0) {
            reason = "mkfs.ext4 failed (is e2fsprogs installed?)";
            return;
        }
        node = test::commandOutput("losetup --find --show " + image, &status);
        if (status != 0 || node.rfind("/dev/", 0) != 0) {
            reason = "no free loop device (losetup --find failed)";
            node.clear();
            return;
        }
        device = node.substr(5);
        test::commandOutput("mount -t ext4 " + node + " " + mountPoint, &status);
        if (status != 0) {
            reason = "mounting " + node + " failed";
            return;
        }
        ready = true;
    }
    ~Loop() {
        ::umount2(mountPoint.c_str(), MNT_DETACH);
        if (!node.empty())
            test::commandOutput("losetup -d " + node);
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
        if (loop.mountPoint == path && pullOut.exchange(false)) {
            ::umount2(loop.mountPoint.c_str(), MNT_DETACH);
            test::commandOutput("losetup -d " + loop.node);
        }
        return ::statvfs(path, out);
    };
    DiskCollector collector(options);
    // No mount watch: the volume stays listed until the next listing, so the figures this update
    // merged can be checked (a watch would race to drop it).
    Disk disk(nullptr, &collector);
    ASSERT_EQ(disk.volumes().count(loop.mountPoint), 1u);
    const Disk::Volume before = disk.volumes().at(loop.mountPoint);
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
    ASSERT_EQ(disk.volumes().count(loop.mountPoint), 1u);
    const auto after = disk.volumes().at(loop.mountPoint);
    EXPECT_EQ(after.total, before.total);
    EXPECT_EQ(after.used, before.used);
    EXPECT_EQ(after.free, before.free);
    disk.update();
    // The next listing (what a mount watch triggers) drops it; sampling goes on with the others.
    disk.load();
    EXPECT_EQ(disk.volumes().count(loop.mountPoint), 0u);
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

// A fuseblk file system served by a child process that speaks the kernel's FUSE protocol on
// /dev/fuse: an empty root folder whose statfs answers 1000 blocks of 4096 bytes, 600 free and 500
// available. A stopped daemon (SIGSTOP) leaves every call to the file system waiting, as a stuck
// one does.
class FuseDaemon {
  public:
    FuseDaemon(const std::string& blockDevice, const std::string& mountPoint)
        : mountPoint_(mountPoint) {
        const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            reason = std::string("cannot open /dev/fuse: ") + std::strerror(errno);
            return;
        }
        const std::string data =
            "fd=" + std::to_string(fd) + ",rootmode=40000,user_id=0,group_id=0,blksize=4096";
        if (::mount(blockDevice.c_str(), mountPoint.c_str(), "fuseblk", 0, data.c_str()) != 0) {
            reason = std::string("cannot mount fuseblk: ") + std::strerror(errno);
            ::close(fd);
            return;
        }
        mounted_ = true;
        // Served once mounted: the descriptor reads nothing before (EPERM). The kernel's first
        // request waits for it.
        pid_ = ::fork();
        if (pid_ == 0) {
            serve(fd);
            std::_Exit(0);
        }
        ::close(fd);
    }
    ~FuseDaemon() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);  // its calls fail from now on
            ::waitpid(pid_, nullptr, 0);
        }
        if (mounted_)
            ::umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    void stop() { ::kill(pid_, SIGSTOP); }
    void resume() { ::kill(pid_, SIGCONT); }
    std::string reason;

  private:
    static void reply(int fd, uint64_t unique, int error, const void* body, size_t size) {
        fuse_out_header header{};
        header.len = static_cast<uint32_t>(sizeof header + size);
        header.error = error;
        header.unique = unique;
        iovec parts[2] = {{&header, sizeof header}, {const_cast<void*>(body), size}};
        (void)!::writev(fd, parts, body ? 2 : 1);
    }
    static void serve(int fd) {
        std::vector<char> buffer(FUSE_MIN_READ_BUFFER + 65536);
        for (;;) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n < 0 && (errno == EINTR || errno == ENOENT))
                continue;
            if (n < static_cast<ssize_t>(sizeof(fuse_in_header)))
                return;  // unmounted
            const auto* in = reinterpret_cast<const fuse_in_header*>(buffer.data());
            switch (in->opcode) {
                case FUSE_INIT: {
                    const auto* init = reinterpret_cast<const fuse_init_in*>(in + 1);
                    fuse_init_out out{};
                    out.major = FUSE_KERNEL_VERSION;
                    out.minor = std::min<uint32_t>(init->minor, FUSE_KERNEL_MINOR_VERSION);
                    out.max_readahead = init->max_readahead;
                    out.max_write = 4096;
                    reply(fd, in->unique, 0, &out, sizeof out);
                    break;
                }
                case FUSE_GETATTR: {
                    fuse_attr_out out{};
                    out.attr.ino = 1;
                    out.attr.mode = S_IFDIR | 0755;
                    out.attr.nlink = 2;
                    out.attr.blksize = 4096;
                    reply(fd, in->unique, 0, &out, sizeof out);
                    break;
                }
                case FUSE_STATFS: {
                    fuse_statfs_out out{};
                    out.st.blocks = 1000;
                    out.st.bfree = 600;
                    out.st.bavail = 500;
                    out.st.bsize = out.st.frsize = 4096;
                    out.st.namelen = 255;
                    reply(fd, in->unique, 0, &out, sizeof out);
                    break;
                }
                case FUSE_FORGET:
                case FUSE_BATCH_FORGET:
                case FUSE_INTERRUPT:
                    break;
                default:
                    reply(fd, in->unique, -ENOSYS, nullptr, 0);
            }
        }
    }

    std::string mountPoint_;
    pid_t pid_ = -1;
    bool mounted_ = false;
};

TEST(DiskFaultPrivate, AStoppedFuseDaemonLeavesItsVolumeStaleAndTheSamplingGoingOn) {
    const std::string why = test::whyNoLoopDevices();
    if (!why.empty())
        GTEST_SKIP() << why;
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no /dev/fuse here";
    VIGIL_IN_PRIVATE_MOUNTS([] {
        test::ScratchFolder scratch("vigil-fuse-hang");
        const fs::path& folder = scratch.path;
        fs::create_directories(folder / "mnt");
        const std::string mountPoint = (folder / "mnt").string();
        test::LoopImage image(folder.string(), 4);
        ASSERT_TRUE(image.ready()) << image.reason;
        FuseDaemon daemon(image.node, mountPoint);
        ASSERT_TRUE(daemon.mounted()) << daemon.reason;

        DiskCollector::Options options;
        options.useUDisks = false;
        options.answerTimeout = std::chrono::milliseconds(300);
        DiskCollector collector(options);
        Disk disk(nullptr, &collector);
        ASSERT_EQ(disk.volumes().count(mountPoint), 1u);
        const auto before = disk.volumes().at(mountPoint);
        EXPECT_EQ(before.fstype, "fuseblk");
        EXPECT_EQ(before.total, 4'096'000);
        EXPECT_EQ(before.used, 1'638'400);
        EXPECT_EQ(before.free, 2'048'000);
        EXPECT_FALSE(before.stale);

        daemon.stop();
        // Twice as many updates as the pool has workers, while the volume does not answer: every
        // one of them returns, so none holds a worker that the other resources sample on.
        const int updates = 2 * static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
        auto finished = std::make_shared<std::atomic<int>>(0);
        for (int i = 0; i < updates; ++i) {
            Queue::background().async([&disk, finished] {
                disk.update();
                ++*finished;
            });
        }
        EXPECT_TRUE(
            test::waitUntil([&] { return finished->load() == updates; }, std::chrono::seconds(60)))
            << finished->load() << " of " << updates << " updates returned";
        // Listed again while it still hangs: kept, with its last figures, marked stale.
        disk.load();
        ASSERT_EQ(disk.volumes().count(mountPoint), 1u);
        auto hung = disk.volumes().at(mountPoint);
        EXPECT_TRUE(hung.stale);
        EXPECT_EQ(hung.total, 4'096'000);
        EXPECT_EQ(hung.used, 1'638'400);
        EXPECT_EQ(hung.free, 2'048'000);

        daemon.resume();
        EXPECT_TRUE(test::waitUntil(
            [&] {
                disk.update();
                return !disk.volumes().at(mountPoint).stale;
            },
            std::chrono::seconds(30)));
    });
}

}  // namespace
}  // namespace vigil
