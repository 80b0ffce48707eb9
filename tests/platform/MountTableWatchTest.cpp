#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/MountWatch.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

// The watch on a fixture tree: the table is a plain file there, so changes are found by the
// periodic comparison; labels come from a real ext4 image standing at dev/sdb1.
class WatchedFixture {
  public:
    WatchedFixture() {
        root_ = fs::temp_directory_path() / ("vigil-watch-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::copy(test::fixturePath("disk-desktop"), root_, fs::copy_options::recursive);
        fs::create_directories(root_ / "dev");
    }
    ~WatchedFixture() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::string root() const { return root_.string(); }
    std::string path(const std::string& relative) const { return (root_ / relative).string(); }
    void dropMountsWith(const std::string& needle) {
        std::ifstream in(root_ / "proc/self/mountinfo");
        std::string line, kept;
        while (std::getline(in, line)) {
            if (line.find(needle) == std::string::npos)
                kept += line + "\n";
        }
        in.close();
        std::ofstream(root_ / "proc/self/mountinfo") << kept;
    }

  private:
    fs::path root_;
};

TEST(MountTableWatch, ReportsChangesOfTheListedVolumesOnly) {
    WatchedFixture fixture;
    MountWatch::Options options;
    options.root = fixture.root();
    options.labelInterval = std::chrono::milliseconds(30);
    MountWatch watch(options);
    std::atomic<int> heard{0};
    int id = watch.addListener({[&] { ++heard; }, nullptr});
    ASSERT_TRUE(watch.start());
    EXPECT_TRUE(watch.start());  // already running
    // A change to a mount that is not listed (tmpfs) is no change of the volumes.
    fixture.dropMountsWith(" - tmpfs ");
    fixture.dropMountsWith("/dev/sdb1");
    ASSERT_TRUE(test::waitUntil([&] { return heard.load() == 1; }));
    watch.removeListener(id);
    fixture.dropMountsWith("nas.local");
    ASSERT_TRUE(test::waitUntil([&] { return watch.changes() == 2; }));
    EXPECT_EQ(heard.load(), 1);
    watch.stop();
    watch.stop();
    EXPECT_FALSE(watch.running());
}

TEST(MountTableWatch, ReportsARelabelledVolumeAsARename) {
    if (std::system("command -v mkfs.ext4 >/dev/null 2>&1 && command -v e2label >/dev/null 2>&1")) {
        GTEST_SKIP() << "mkfs.ext4 and e2label are not installed (e2fsprogs)";
    }
    WatchedFixture fixture;
    std::string image = fixture.path("dev/sdb1");
    ASSERT_EQ(std::system(("truncate -s 8M " + image + " && mkfs.ext4 -q -F -L Stick " + image +
                           " >/dev/null 2>&1")
                              .c_str()),
              0);
    MountWatch::Options options;
    options.root = fixture.root();
    options.labelInterval = std::chrono::milliseconds(30);
    MountWatch watch(options);
    std::mutex mutex;
    std::vector<VolumeRename> renames;
    watch.addListener({nullptr, [&](const VolumeRename& rename) {
                           std::lock_guard lock(mutex);
                           renames.push_back(rename);
                       }});
    ASSERT_TRUE(watch.start());
    ASSERT_EQ(std::system(("e2label " + image + " 'Holiday Photos'").c_str()), 0);
    ASSERT_TRUE(test::waitUntil([&] {
        std::lock_guard lock(mutex);
        return !renames.empty();
    }));
    watch.stop();
    std::lock_guard lock(mutex);
    ASSERT_EQ(renames.size(), 1u);
    EXPECT_EQ(renames[0].device, "sdb1");
    EXPECT_EQ(renames[0].oldName, "Stick");
    EXPECT_EQ(renames[0].newName, "Holiday Photos");
    EXPECT_EQ(renames[0].path, "/media/user/My Disk");
}

}  // namespace
}  // namespace vigil
