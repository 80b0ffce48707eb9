#include "platform/BlockDevices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/TestSupport.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

TEST(BlockDevices, ParsesStatSectorsAsBytes) {
    auto stat =
        parseBlockStat("   18234  0  2104890  10234  52811  41234  3921000  221234 0 1 2\n");
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->readBytes, 2104890LL * 512);
    EXPECT_EQ(stat->writtenBytes, 3921000LL * 512);
    EXPECT_FALSE(parseBlockStat(""));
    EXPECT_FALSE(parseBlockStat("1 2 3 4 5 6"));
    EXPECT_FALSE(parseBlockStat("1 2 x 4 5 6 7"));
    EXPECT_FALSE(parseBlockStat("1 2 -3 4 5 6 7"));
    // A count whose bytes do not fit in 64 bits is a bad read, not an overflow.
    EXPECT_FALSE(parseBlockStat("1 2 18014398509481984 4 5 6 7"));
}

TEST(BlockDevices, MapsPartitionsToTheirWholeDisk) {
    BlockDevices devices(test::fixturePath("disk-desktop"));
    EXPECT_EQ(devices.wholeDisk("sda1"), "sda");
    EXPECT_EQ(devices.wholeDisk("sda2"), "sda");
    EXPECT_EQ(devices.wholeDisk("sda"), "sda");
    EXPECT_EQ(devices.wholeDisk("nvme0n1p2"), "nvme0n1");
    EXPECT_EQ(devices.wholeDisk("sdb1"), "sdb");
    // Device-mapper names resolve through dm/name.
    EXPECT_EQ(devices.wholeDisk("vg-data"), "dm-0");
    EXPECT_FALSE(devices.wholeDisk("sdz9"));
    EXPECT_FALSE(devices.wholeDisk(".."));
    EXPECT_FALSE(devices.wholeDisk("../../etc"));
    EXPECT_FALSE(devices.wholeDisk(""));
}

TEST(BlockDevices, CountersAndModels) {
    BlockDevices devices(test::fixturePath("disk-desktop"));
    auto sda = devices.stat("sda");
    ASSERT_TRUE(sda);
    EXPECT_EQ(sda->readBytes, 2104890LL * 512);
    EXPECT_EQ(devices.model("sda"), "Samsung SSD 860");
    EXPECT_EQ(devices.model("nvme0n1"), "WDC WDS500G2B0C-00PXH0");
    EXPECT_FALSE(devices.model("vda"));  // virtio has none
    EXPECT_FALSE(devices.stat("sdz"));
    EXPECT_TRUE(BlockDevices::isVirtualDevice("loop0"));
    EXPECT_TRUE(BlockDevices::isVirtualDevice("vda"));
    EXPECT_TRUE(BlockDevices::isVirtualDevice("dm-0"));
    EXPECT_FALSE(BlockDevices::isVirtualDevice("sda"));
    EXPECT_FALSE(BlockDevices::isVirtualDevice("nvme0n1"));
    EXPECT_FALSE(BlockDevices::isVirtualDevice("mmcblk0"));
}

TEST(BlockDevices, VanishedDeviceIsAFailedRead) {
    fs::path root = fs::temp_directory_path() / ("vigil-blk-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "sys/block/sdx/sdx1");
    std::ofstream(root / "sys/block/sdx/sdx1/partition") << "1\n";
    std::ofstream(root / "sys/block/sdx/stat") << "1 0 8 0 1 0 16 0 0 0 0\n";
    BlockDevices devices(root.string());
    ASSERT_EQ(devices.wholeDisk("sdx1"), "sdx");
    ASSERT_TRUE(devices.stat("sdx"));
    fs::remove_all(root / "sys/block/sdx");
    EXPECT_FALSE(devices.stat("sdx"));
    EXPECT_FALSE(devices.wholeDisk("sdx1"));
    EXPECT_FALSE(devices.model("sdx"));
    fs::remove_all(root);
}

TEST(BlockDevices, CutsAtUtf8Boundaries) {
    EXPECT_EQ(cutUtf8("abc", 64), "abc");
    EXPECT_EQ(cutUtf8("abcdef", 3), "abc");
    // "é" is two bytes: a cut in its middle drops it whole.
    EXPECT_EQ(cutUtf8("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(cutUtf8("\xE2\x82\xAC\xE2\x82\xAC", 4), "\xE2\x82\xAC");
}

// libblkid reads the label off a real file-system image (no root needed: the image is a file).
TEST(BlockDevices, ReadsTheLabelWithBlkid) {
    if (std::system("command -v mkfs.ext4 >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "mkfs.ext4 is not installed (e2fsprogs)";
    }
    fs::path root = fs::temp_directory_path() / ("vigil-label-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "dev");
    std::string image = (root / "dev/img0").string();
    std::string nolabel = (root / "dev/img1").string();
    ASSERT_EQ(std::system(("truncate -s 8M " + image + " " + nolabel + " && mkfs.ext4 -q -F -L " +
                           "'Photos 2024' " + image + " && mkfs.ext4 -q -F " + nolabel +
                           " >/dev/null 2>&1")
                              .c_str()),
              0);
    BlockDevices devices(root.string());
    EXPECT_EQ(devices.label("img0"), "Photos 2024");
    EXPECT_FALSE(devices.label("img1"));
    EXPECT_FALSE(devices.label("img9"));
    fs::remove_all(root);
}

}  // namespace
}  // namespace vigil
