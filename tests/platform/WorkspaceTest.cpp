#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/Workspace.h"
#include "platform/WorkspaceTestChild.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;
using Ids = std::vector<std::string>;

TEST(WorkspaceTest, ApplicationIdsOfUnits) {
    EXPECT_EQ(applicationIdsOfUnit("app-gnome-org.gnome.Terminal-4242.scope"),
              (Ids{"gnome-org.gnome.Terminal", "org.gnome.Terminal"}));
    EXPECT_EQ(applicationIdsOfUnit("app-org.kde.konsole@0a1b2c.service"), (Ids{"org.kde.konsole"}));
    EXPECT_EQ(applicationIdsOfUnit("app-syncthing\\x2dgtk@autostart.service"),
              (Ids{"syncthing-gtk"}));
    EXPECT_TRUE(applicationIdsOfUnit("dbus.service").empty());
    EXPECT_TRUE(applicationIdsOfUnit("app-.scope").empty());
    EXPECT_TRUE(applicationIdsOfUnit("session-2.scope").empty());
}

const RunningApplication* findPid(const std::vector<RunningApplicationPtr>& list, pid_t pid) {
    for (const auto& app : list) {
        if (app->pid == pid)
            return app.get();
    }
    return nullptr;
}

TEST(WorkspaceTest, CgroupLeadersAndDesktopEntriesOfAFixtureSession) {
    const std::string root = test::fixturePath("apps-cgroup");
    struct stat info {};
    ASSERT_EQ(::stat((root + "/proc/1200").c_str(), &info), 0);
    platform::Workspace::Options options;
    options.root = root;
    options.applicationDirectories = std::vector<std::string>{"/usr/share/applications"};
    options.uid = info.st_uid;
    platform::Workspace workspace(options);
    const auto list = workspace.runningApplications();

    std::vector<pid_t> pids;
    for (const auto& app : list)
        pids.push_back(app->pid);
    EXPECT_EQ(pids, (std::vector<pid_t>{1200, 1300, 1400}));
    const auto* terminal = findPid(list, 1200);
    ASSERT_NE(terminal, nullptr);
    EXPECT_EQ(terminal->localizedName, "Terminal");  // the scope's application ID
    EXPECT_EQ(terminal->icon, "org.gnome.Terminal");
    const auto* sync = findPid(list, 1300);
    ASSERT_NE(sync, nullptr);
    EXPECT_EQ(sync->bundleIdentifier, "syncthing-gtk");
    EXPECT_EQ(sync->localizedName, "syncthing");  // no entry: the process name
    EXPECT_EQ(findPid(list, 1400)->localizedName, "Calculator");
    // The user's service manager stands for the launcher, like pid 1.
    EXPECT_TRUE(workspace.isLauncher(900));
    EXPECT_TRUE(workspace.isLauncher(1));
    EXPECT_FALSE(workspace.isLauncher(1201));

    // Another user sees none of them.
    options.uid = info.st_uid + 4242;
    EXPECT_TRUE(platform::Workspace(options).runningApplications().empty());
}

using test::Child;

TEST(WorkspaceTest, RealProcessesComeAndGoAsInsertionsAndRemovals) {
    char pattern[] = "/tmp/vigil-workspace-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    std::ofstream(dir + "/sleeper.desktop")
        << "[Desktop Entry]\nType=Application\nName=Sleeper\nIcon=sleepy\nExec=sleep %u\n";
    platform::Workspace::Options options;
    options.applicationDirectories = std::vector<std::string>{dir};
    platform::Workspace workspace(options);
    std::vector<platform::Workspace::Change> changes;
    workspace.observe(
        [&](const platform::Workspace::Change& change) { changes.push_back(change); });

    Child first({"sleep", "1000"});
    ASSERT_GT(first.pid, 0);
    // The child is listed once exec has happened (its argv is sleep's).
    ASSERT_TRUE(test::waitUntil([&] {
        workspace.poll();
        return findPid(workspace.runningApplications(), first.pid) != nullptr;
    }));
    const auto* app = findPid(workspace.runningApplications(), first.pid);
    EXPECT_EQ(app->localizedName, "Sleeper");
    EXPECT_EQ(app->icon, "sleepy");
    EXPECT_EQ(app->bundleIdentifier, "sleeper");
    bool inserted = false;
    for (const auto& change : changes) {
        if (change.kind == platform::Workspace::ChangeKind::insertion &&
            findPid(change.values, first.pid)) {
            inserted = true;
        }
    }
    EXPECT_TRUE(inserted);

    changes.clear();
    const pid_t firstPid = first.pid;
    first.stop();
    workspace.poll();
    bool removed = false;
    for (const auto& change : changes) {
        const auto* value = findPid(change.values, firstPid);
        if (change.kind == platform::Workspace::ChangeKind::removal && value && value->terminated) {
            removed = value->localizedName == "Sleeper";
        }
    }
    EXPECT_TRUE(removed);
    EXPECT_EQ(findPid(workspace.runningApplications(), firstPid), nullptr);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vigil
