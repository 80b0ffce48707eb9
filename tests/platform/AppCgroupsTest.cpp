#include "platform/AppCgroups.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace vigil::platform {
namespace {

namespace fs = std::filesystem;

// A machine's root in a temporary folder: its mount table, this process's cgroup and the cgroup
// folders, laid out as systemd does for a desktop session of user 1000.
struct SessionRoot {
    SessionRoot() {
        char pattern[] = "/tmp/vigil-appcgroups-XXXXXX";
        root = ::mkdtemp(pattern);
        fs::create_directories(root / "proc/self");
    }
    ~SessionRoot() { fs::remove_all(root); }
    void write(const std::string& path, const std::string& text) {
        std::ofstream(root / path) << text;
    }
    fs::path folder(const std::string& path) {
        fs::create_directories(root / path);
        return root / path;
    }
    fs::path root;
};

const std::string kMountinfo =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "31 22 0:26 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 cgroup2 "
    "rw,nsdelegate,memory_recursiveprot\n";
const std::string kSession = "/sys/fs/cgroup/user.slice/user-1000.slice/user@1000.service";

TEST(AppCgroupsTest, FindsTheSessionTreeAndItsAppUnits) {
    EXPECT_EQ(parseCgroup2Mount("bad line\n"), std::nullopt);
    EXPECT_EQ(parseCpuStatUsage("user_usec 5\nusage_usec 1234567\n"), 1234567u);
    EXPECT_EQ(parseCpuStatUsage("usage_usec x\n"), std::nullopt);

    SessionRoot machine;
    EXPECT_EQ(AppCgroups::locate(machine.root, 1000), std::nullopt) << "no mount table";
    machine.write("proc/self/mountinfo", kMountinfo);
    machine.write("proc/self/cgroup", "0::/system.slice/cron.service\n");
    EXPECT_EQ(AppCgroups::locate(machine.root, 1000), std::nullopt) << "no session folder";
    const fs::path usual = machine.folder(kSession.substr(1) + "/app.slice");
    EXPECT_EQ(AppCgroups::locate(machine.root, 1000), usual.string());
    EXPECT_EQ(AppCgroups::locate(machine.root, 1001), std::nullopt);

    // A mount that shows only part of the hierarchy, and a session below another slice: the
    // manager this process runs under is found from its own cgroup.
    machine.write("proc/self/mountinfo",
                  "31 22 0:26 /machine /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n");
    machine.write("proc/self/cgroup",
                  "0::/machine/seat.slice/user@1000.service/app.slice/app-vigil-7.scope\n");
    const fs::path moved = machine.folder("sys/fs/cgroup/seat.slice/user@1000.service/app.slice");
    EXPECT_EQ(AppCgroups::locate(machine.root, 1000), moved.string());

    // Units directly in app.slice and in slices below it; a unit's own children are not units.
    machine.folder(kSession.substr(1) + "/app.slice/app-gnome-org.gnome.Terminal-4242.scope");
    machine.folder(kSession.substr(1) +
                   "/app.slice/app-graphical.slice/app-org.kde.konsole@0a1b.service/"
                   "app-inner-1.scope");
    machine.folder(kSession.substr(1) + "/app.slice/dbus.service");
    machine.folder(kSession.substr(1) + "/app.slice/session.slice/pipewire.service");
    std::vector<std::string> units;
    for (const AppGroup& group : AppCgroups(usual.string()).groups()) {
        units.push_back(group.unit);
        EXPECT_EQ(fs::path(group.path).filename(), group.unit);
        EXPECT_TRUE(fs::is_directory(group.path));
    }
    std::sort(units.begin(), units.end());
    EXPECT_EQ(units, (std::vector<std::string>{"app-gnome-org.gnome.Terminal-4242.scope",
                                               "app-org.kde.konsole@0a1b.service"}));
    EXPECT_TRUE(AppCgroups(machine.root / "nowhere").groups().empty());
}

}  // namespace
}  // namespace vigil::platform
