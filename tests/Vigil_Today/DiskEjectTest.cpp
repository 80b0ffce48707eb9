// Ejecting a real volume from its view: an ext4 image on a loop device. Needs root and a free
// loop device; skips otherwise.

#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "Vigil_Today/DiskNetworkBatterySupport.h"
#include "details/DiskListViewController.h"
#include "platform/MountTable.h"
#include "settings/Defaults.h"
#include "settings/TempFolder.h"
#include "support/TestSupport.h"
#include "system/Disk.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "views/CallbackStackView.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

int shell(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[256];
    std::string text;
    while (std::fgets(buffer, sizeof buffer, pipe))
        text += buffer;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (output)
        *output = text;
    return ::pclose(pipe);
}

bool isMounted(const std::string& mountPoint) {
    for (const auto& entry : MountTable().read().value_or(std::vector<MountEntry>{})) {
        if (entry.mountPoint == mountPoint)
            return true;
    }
    return false;
}

// A small ext4 image, attached to a loop device and mounted in a temporary folder; undone in the
// destructor.
struct LoopMount {
    LoopMount() {
        folder = fs::temp_directory_path() / ("vigil-eject-view-" + std::to_string(::getpid()));
        fs::create_directories(folder / "mnt");
        mountPoint = (folder / "mnt").string();
        const std::string image = (folder / "image").string();
        if (shell("truncate -s 16M " + image + " && mkfs.ext4 -q -L 'Stick' " + image) != 0) {
            skipReason = "mkfs.ext4 failed (is e2fsprogs installed?)";
            return;
        }
        if (shell("losetup --find --show " + image, &node) != 0 || node.rfind("/dev/", 0) != 0) {
            skipReason = "no free loop device";
            node.clear();
            return;
        }
        if (shell("mount -t ext4 " + node + " " + mountPoint) != 0) {
            skipReason = "mounting " + node + " failed";
            return;
        }
        device = node.substr(5);
        ready = true;
    }
    ~LoopMount() {
        if (isMounted(mountPoint))
            ::umount2(mountPoint.c_str(), MNT_DETACH);
        if (!node.empty())
            shell("losetup -d " + node);
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    fs::path folder;
    std::string mountPoint, node, device, skipReason;
    bool ready = false;
};

TEST(DiskEjectTest, EjectedVolumeLeavesTheListAtOnceAndForGoodAtTheNextUpdate) {
    VIGIL_REQUIRE_ROOT();
    test::qtApp();
    LoopMount loop;
    if (!loop.ready)
        GTEST_SKIP() << loop.skipReason;
    // The eject finishes on the background queue through the collector: it outlives the test.
    DiskCollector::Options options;
    options.useUDisks = false;
    static auto* collector = new DiskCollector(options);
    auto disk = std::make_shared<Disk>(nullptr, collector);
    System::Resources resources;
    resources.disk = disk;
    System system(resources, {{disk, 60.0, System::Group::all, true}});
    test::TempFolder folder;
    Defaults defaults("disk-eject-test", folder.path());
    ThemeManager themes(defaults);
    DiskListViewController list(&system, nullptr, &defaults, &themes);
    list.view();
    list.viewWillAppear();

    DiskViewController* stick = nullptr;
    for (const auto& controller : list.contents()) {
        if (controller->volume.device == loop.device)
            stick = controller.get();
    }
    ASSERT_TRUE(stick) << loop.device << " not listed";
    ASSERT_TRUE(stick->volume.canEject());
    ASSERT_TRUE(stick->itemEject->isVisible());
    const size_t count = list.contents().size();
    ASSERT_EQ(list.stackView->views().size(), static_cast<qsizetype>(count));

    stick->eject();
    // Out of the stack at once; the list's contents stay until the resource drops the volume.
    EXPECT_EQ(list.stackView->views().size(), static_cast<qsizetype>(count - 1));
    EXPECT_FALSE(list.stackView->views().contains(stick->view()));
    EXPECT_EQ(list.contents().size(), count);

    ASSERT_TRUE(test::waitUntil([&] { return !isMounted(loop.mountPoint); }));
    disk->load();
    list.update();
    EXPECT_EQ(list.contents().size(), count - 1);
    for (const auto& controller : list.contents())
        EXPECT_NE(controller->volume.device, loop.device);
    list.viewWillDisappear();
    EXPECT_TRUE(test::waitUntil([] { return DiskViewController::smartQueriesInFlight() == 0; }));
}

}  // namespace
}  // namespace vigil
