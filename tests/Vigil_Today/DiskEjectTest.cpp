// Ejecting a real volume from its view: an ext4 image on a loop device, first held busy by a
// process working in it, then free; the refusal also reaches a notification server on a private
// session bus. Needs root and a free loop device; skips otherwise.

#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "Vigil_Today/DiskNetworkBatterySupport.h"
#include "details/DiskListViewController.h"
#include "platform/MountTable.h"
#include "platform/Notification.h"
#include "settings/Defaults.h"
#include "support/PrivateMounts.h"
#include "support/SessionBus.h"
#include "support/TempFolder.h"
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

// The pid of a `sleep` started with its working folder in `folder`, once it runs there.
pid_t startHolder(const std::string& folder) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(folder.c_str()) == 0)
            ::execlp("sleep", "sleep", "600", static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    test::waitUntil([&] {
        std::string comm;
        shell("cat /proc/" + std::to_string(pid) + "/comm", &comm);
        return comm == "sleep";
    });
    return pid;
}

TEST(DiskEjectTest, ABusyVolumeStaysListedAndSaysWhoUsesItThenEjectsWhenFreed) {
    const std::string why = test::whyNoLoopDevices();
    if (!why.empty())
        GTEST_SKIP() << why;
    VIGIL_IN_PRIVATE_MOUNTS([] {
        test::qtApp();
        // A notification server of the test's own: the refusal must not reach the user's.
        test::PrivateBus bus;
        ASSERT_TRUE(bus.started()) << "dbus-daemon did not start";
        test::NotificationServer notifications(bus.address());
        ASSERT_TRUE(notifications.ready());
        Notification::useBusAddress(bus.address());
        test::ScratchFolder scratch("vigil-eject-view");
        fs::create_directories(scratch.path / "mnt");
        const std::string mountPoint = (scratch.path / "mnt").string();
        test::LoopImage image(scratch.path.string(), 16, "mkfs.ext4 -q -L Stick");
        ASSERT_TRUE(image.ready()) << image.reason;
        ASSERT_EQ(::mount(image.node.c_str(), mountPoint.c_str(), "ext4", 0, nullptr), 0);
        const pid_t holder = startHolder(mountPoint);

        DiskCollector::Options options;
        options.useUDisks = false;
        DiskCollector collector(options);
        auto disk = std::make_shared<Disk>(nullptr, &collector);
        System::Resources resources;
        resources.disk = disk;
        System system(resources, {{disk, 60.0, System::Group::all, true}});
        test::TempFolder folder;
        Defaults defaults("disk-eject-test", folder.path());
        ThemeManager themes(defaults);
        DiskListViewController list(&system, nullptr, &defaults, &themes);
        list.view();
        list.viewWillAppear();
        // Only the volume made here is looked at: other tests mount and unmount their own.
        auto listed = [&]() -> DiskViewController* {
            for (const auto& controller : list.contents()) {
                if (controller->volume.path == mountPoint)
                    return controller.get();
            }
            return nullptr;
        };
        DiskViewController* stick = listed();
        ASSERT_TRUE(stick) << mountPoint << " not listed";
        ASSERT_TRUE(stick->volume.canEject());

        stick->eject();
        ASSERT_TRUE(test::waitUntil([&] { return !stick->note->isHidden(); }));
        EXPECT_EQ(stick->note->toolTip().toStdString(),
                  "Not ejected: it is in use by sleep (" + std::to_string(holder) + ")");
        EXPECT_TRUE(isMounted(mountPoint));
        ASSERT_TRUE(test::waitUntil([&] { return !notifications.received().empty(); }));
        EXPECT_EQ(
            notifications.received().front().summary,
            "Vigil could not eject Stick: it is in use by sleep (" + std::to_string(holder) + ")");
        disk->load();
        list.update();
        EXPECT_EQ(listed(), stick);
        EXPECT_TRUE(list.stackView->views().contains(stick->view()));

        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
        stick->eject();
        EXPECT_TRUE(test::waitUntil([&] { return !isMounted(mountPoint); }));
        EXPECT_TRUE(
            test::waitUntil([&] { return !list.stackView->views().contains(stick->view()); }));
        disk->load();
        list.update();
        EXPECT_EQ(listed(), nullptr);
        list.viewWillDisappear();
        EXPECT_EQ(notifications.received().size(), 1u) << "the eject that worked is not news";
        Notification::useBusAddress("unix:path=/nonexistent/vigil-test-bus");
    });
}

}  // namespace
}  // namespace vigil
