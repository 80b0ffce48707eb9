#include "platform/MountTable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "support/TestSupport.h"

namespace vigil {
namespace {

std::vector<std::string> mountPoints(const std::vector<MountEntry>& entries) {
    std::vector<std::string> points;
    for (const auto& entry : entries)
        points.push_back(entry.mountPoint);
    return points;
}

TEST(MountTable, ParsesOneLineWithOptionalFields) {
    auto entry = parseMountInfoLine(
        "31 28 259:2 /@home /home rw,relatime shared:30 master:2 - btrfs /dev/nvme0n1p2 "
        "rw,subvol=/@home");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->mountId, 31);
    EXPECT_EQ(entry->parentId, 28);
    EXPECT_EQ(entry->major, 259u);
    EXPECT_EQ(entry->minor, 2u);
    EXPECT_EQ(entry->root, "/@home");
    EXPECT_EQ(entry->mountPoint, "/home");
    EXPECT_EQ(entry->fstype, "btrfs");
    EXPECT_EQ(entry->source, "/dev/nvme0n1p2");
    EXPECT_EQ(entry->superOptions, "rw,subvol=/@home");
    EXPECT_EQ(entry->deviceBaseName(), "nvme0n1p2");
}

TEST(MountTable, RejectsMalformedLines) {
    for (const char* line :
         {"", "garbage", "1 2 3:4 / /x rw", "1 2 3:4 / /x rw - ext4",
          "a 2 3:4 / /x rw - ext4 /dev/a rw", "1 2 34 / /x rw - ext4 /dev/a rw",
          "1 2 3:4 / relative rw - ext4 /dev/a rw", "1 2 3:4 / /x rw shared:1 ext4 /dev/a rw"}) {
        EXPECT_FALSE(parseMountInfoLine(line)) << line;
    }
}

TEST(MountTable, DecodesOctalEscapes) {
    EXPECT_EQ(unescapeMountField("/media/user/My\\040Disk"), "/media/user/My Disk");
    EXPECT_EQ(unescapeMountField("a\\011b\\012c\\134d"), "a\tb\nc\\d");
    // Not an escape: kept as it is, never read past the end.
    EXPECT_EQ(unescapeMountField("trailing\\04"), "trailing\\04");
    EXPECT_EQ(unescapeMountField("x\\9999"), "x\\9999");
    EXPECT_EQ(unescapeMountField("\\"), "\\");
    // A NUL is never produced.
    EXPECT_EQ(unescapeMountField("a\\000b"), "a\\000b");
}

TEST(MountTable, DeviceBaseNames) {
    MountEntry entry;
    entry.source = "nas.local:/export/media";
    EXPECT_EQ(entry.deviceBaseName(), "media");
    entry.source = "//server/share";
    EXPECT_EQ(entry.deviceBaseName(), "share");
    entry.source = "//server/share/";
    EXPECT_EQ(entry.deviceBaseName(), "share");
    entry.source = "tank";
    EXPECT_EQ(entry.deviceBaseName(), "tank");
}

TEST(MountTable, ListsOnlyVolumesOfTheFixtureMachine) {
    MountTable table(test::fixturePath("disk-desktop"));
    auto all = table.read();
    ASSERT_TRUE(all);
    // 21 lines, one malformed.
    EXPECT_EQ(all->size(), 20u);
    auto listed = listedMounts(*all);
    // Not listed: pseudo file systems, tmpfs, the second btrfs subvolume and the bind mount (their
    // sources are listed already), squashfs of a snap, docker's overlay, autofs, sshfs.
    EXPECT_EQ(mountPoints(listed),
              (std::vector<std::string>{"/", "/boot/efi", "/home", "/media/user/My Disk",
                                        "/mnt/nas", "/mnt/share", "/srv/data"}));
    EXPECT_TRUE(listed[4].isNetwork());
    EXPECT_FALSE(listed[4].isBlockSource());
    EXPECT_EQ(listed[3].deviceBaseName(), "sdb1");
    EXPECT_EQ(listed[6].deviceBaseName(), "vg-data");
    EXPECT_EQ(table.volumes().size(), listed.size());
}

TEST(MountTable, FirstMountPointOfASourceWins) {
    auto listed =
        listedMounts(parseMountInfo("50 1 8:1 /data /srv/bind rw - ext4 /dev/sdc1 rw\n"
                                    "51 1 8:1 / /mnt/disk rw - ext4 /dev/sdc1 rw\n"
                                    "52 1 0:60 / /mnt/a rw - nfs srv:/x rw\n"
                                    "53 1 0:61 / /mnt/b rw - nfs srv:/x rw\n"));
    EXPECT_EQ(mountPoints(listed), (std::vector<std::string>{"/srv/bind", "/mnt/a"}));
}

TEST(MountTable, UnreadableTableIsAFailedReadNotACrash) {
    MountTable table("/nonexistent-root-for-vigil-tests");
    EXPECT_FALSE(table.read());
    EXPECT_TRUE(table.volumes().empty());
}

TEST(MountTable, FileSystemSizeGuardsItsFigures) {
    struct statvfs st {};
    st.f_frsize = 4096;
    st.f_blocks = 1000;
    st.f_bfree = 250;
    st.f_bavail = 200;  // 50 blocks reserved for root
    auto size = fileSystemSize(st);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->total, 4096000);
    EXPECT_EQ(size->free, 819200);
    EXPECT_EQ(size->used, 3072000);
    st.f_bfree = 2000;  // more free than there is
    EXPECT_FALSE(fileSystemSize(st));
    st.f_bfree = 250;
    st.f_bavail = 2000;
    EXPECT_FALSE(fileSystemSize(st));
    st.f_bfree = st.f_bavail = 0;
    st.f_blocks = ~0ull;  // would overflow 64 bits of bytes
    EXPECT_FALSE(fileSystemSize(st));
}

// A stat function that blocks until the test lets it go: stands in for a share whose server
// stopped answering.
struct HangingStat {
    std::mutex mutex;
    std::condition_variable released;
    bool hang = true;
    std::atomic<int> calls{0};

    int operator()(const char*, struct statvfs* out) {
        ++calls;
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return !hang; });
        out->f_frsize = 512;
        out->f_blocks = 10;
        out->f_bfree = 5;
        out->f_bavail = 5;
        return 0;
    }
    void release() {
        std::lock_guard lock(mutex);
        hang = false;
        released.notify_all();
    }
};

TEST(MountTable, HungShareIsSkippedUntilItAnswers) {
    auto hanging = std::make_shared<HangingStat>();
    StatfsRunner runner(
        std::chrono::milliseconds(100),
        [hanging](const char* path, struct statvfs* st) { return (*hanging)(path, st); });
    struct statvfs st {};
    int error = 0;
    EXPECT_EQ(runner.run("/mnt/nas", true, &st, &error), StatfsRunner::Outcome::timedOut);
    EXPECT_TRUE(runner.isHung("/mnt/nas"));
    // While the first call hangs, no second call is made.
    EXPECT_EQ(runner.run("/mnt/nas", true, &st, &error), StatfsRunner::Outcome::skipped);
    EXPECT_EQ(hanging->calls.load(), 1);
    hanging->release();
    ASSERT_TRUE(test::waitUntil([&] { return !runner.isHung("/mnt/nas"); }));
    EXPECT_EQ(runner.run("/mnt/nas", true, &st, &error), StatfsRunner::Outcome::ok);
    EXPECT_EQ(st.f_blocks, 10u);
}

TEST(MountTable, FailedStatfsCarriesErrno) {
    StatfsRunner runner(std::chrono::milliseconds(500));
    struct statvfs st {};
    int error = 0;
    EXPECT_EQ(runner.run("/nonexistent-vigil-path", false, &st, &error),
              StatfsRunner::Outcome::failed);
    EXPECT_EQ(error, ENOENT);
    error = 0;
    EXPECT_EQ(runner.run("/nonexistent-vigil-path", true, &st, &error),
              StatfsRunner::Outcome::failed);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(runner.run("/", true, &st, &error), StatfsRunner::Outcome::ok);
}

}  // namespace
}  // namespace vigil
