#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/RunningApplications.h"
#include "support/RunningApplicationsTestChild.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;
using Ids = std::vector<std::string>;

TEST(RunningApplicationsTest, ApplicationIdsOfUnits) {
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

TEST(RunningApplicationsTest, CgroupLeadersAndDesktopEntriesOfAFixtureSession) {
    const std::string root = test::fixturePath("apps-cgroup");
    struct stat info {};
    ASSERT_EQ(::stat((root + "/proc/1200").c_str(), &info), 0);
    platform::RunningApplications::Options options;
    options.root = root;
    options.applicationDirectories = std::vector<std::string>{"/usr/share/applications"};
    options.uid = info.st_uid;
    platform::RunningApplications workspace(options);
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
    // 1600 names the same program and scope, but the kernel marks it as one of its own threads.
    EXPECT_EQ(findPid(list, 1600), nullptr);
    // The user's service manager stands for the launcher, like pid 1.
    EXPECT_TRUE(workspace.isLauncher(900));
    EXPECT_TRUE(workspace.isLauncher(1));
    EXPECT_FALSE(workspace.isLauncher(1201));

    // Another user sees none of them.
    options.uid = info.st_uid + 4242;
    EXPECT_TRUE(platform::RunningApplications(options).runningApplications().empty());
}

TEST(RunningApplicationsTest, AProcessCaughtInExecIsJudgedOnceItsArgumentsAreThere) {
    // Exec gives a process its new name before its new arguments: a poll in between reads an
    // empty command line.
    char pattern[] = "/tmp/vigil-exec-XXXXXX";
    const fs::path root = ::mkdtemp(pattern);
    fs::copy(test::fixturePath("apps-cgroup"), root, fs::copy_options::recursive);
    const fs::path cmdline = root / "proc/1400/cmdline";
    std::string arguments;
    {
        std::ifstream in(cmdline, std::ios::binary);
        arguments.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::ofstream(cmdline, std::ios::binary | std::ios::trunc).flush();

    platform::RunningApplications::Options options;
    options.root = root.string();
    options.applicationDirectories = std::vector<std::string>{"/usr/share/applications"};
    options.uid = ::getuid();
    platform::RunningApplications workspace(options);
    EXPECT_EQ(findPid(workspace.runningApplications(), 1400), nullptr);
    workspace.poll();
    EXPECT_EQ(findPid(workspace.runningApplications(), 1400), nullptr);

    std::ofstream(cmdline, std::ios::binary | std::ios::trunc) << arguments;
    workspace.poll();
    const auto* calculator = findPid(workspace.runningApplications(), 1400);
    ASSERT_NE(calculator, nullptr);
    EXPECT_EQ(calculator->localizedName, "Calculator");
    fs::remove_all(root);
}

TEST(RunningApplicationsTest, TheProcessListIsWalkedAgainWhenTasksComeOrGo) {
    char pattern[] = "/tmp/vigil-walk-XXXXXX";
    const fs::path root = ::mkdtemp(pattern);
    fs::copy(test::fixturePath("apps-cgroup"), root, fs::copy_options::recursive);
    auto counters = [&](int threads, int lastPid) {
        std::ofstream(root / "proc/loadavg")
            << "0.10 0.20 0.30 1/" << threads << " " << lastPid << "\n";
    };
    auto startCalculator = [&](int pid) {
        fs::copy(fs::path(test::fixturePath("apps-cgroup")) / "proc/1400",
                 root / ("proc/" + std::to_string(pid)), fs::copy_options::recursive);
    };
    counters(100, 2000);
    platform::RunningApplications::Options options;
    options.root = root.string();
    options.applicationDirectories = std::vector<std::string>{"/usr/share/applications"};
    options.uid = ::getuid();
    platform::RunningApplications workspace(options);
    auto listed = [&](pid_t pid) { return findPid(workspace.runningApplications(), pid); };
    ASSERT_NE(listed(1400), nullptr);

    // A new process takes the pid given out last: that pid alone is looked up.
    startCalculator(2001);
    workspace.poll();
    EXPECT_EQ(listed(2001), nullptr) << "no task created or reaped: the last walk stands";
    counters(101, 2001);
    workspace.poll();
    EXPECT_NE(listed(2001), nullptr);
    // An application that ends is missed at the next poll, walk or no walk.
    fs::remove_all(root / "proc/1400");
    counters(100, 2001);
    workspace.poll();
    EXPECT_EQ(listed(1400), nullptr);

    // However still the counters, the list is walked again within a few polls.
    startCalculator(1460);
    EXPECT_TRUE(test::waitUntil([&] {
        workspace.poll();
        return listed(1460) != nullptr;
    }));
    // Without them, every poll walks.
    fs::remove(root / "proc/loadavg");
    startCalculator(1470);
    workspace.poll();
    EXPECT_NE(listed(1470), nullptr);
    fs::remove_all(root);
}

using test::Child;

TEST(RunningApplicationsTest, RealProcessesComeAndGoAsInsertionsAndRemovals) {
    char pattern[] = "/tmp/vigil-workspace-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    std::ofstream(dir + "/sleeper.desktop")
        << "[Desktop Entry]\nType=Application\nName=Sleeper\nIcon=sleepy\nExec=sleep %u\n";
    platform::RunningApplications::Options options;
    options.applicationDirectories = std::vector<std::string>{dir};
    platform::RunningApplications workspace(options);
    std::vector<platform::RunningApplications::Change> changes;
    workspace.observe(
        [&](const platform::RunningApplications::Change& change) { changes.push_back(change); });

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
        if (change.kind == platform::RunningApplications::ChangeKind::insertion &&
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
        if (change.kind == platform::RunningApplications::ChangeKind::removal && value &&
            value->terminated) {
            removed = value->localizedName == "Sleeper";
        }
    }
    EXPECT_TRUE(removed);
    EXPECT_EQ(findPid(workspace.runningApplications(), firstPid), nullptr);
    fs::remove_all(dir);
}

// A folder of desktop entries that name `sleep` as the application "Sleeper"; removed at the end.
struct SleeperEntries {
    SleeperEntries() {
        char pattern[] = "/tmp/vigil-workspace-XXXXXX";
        dir = ::mkdtemp(pattern);
        std::ofstream(dir + "/sleeper.desktop")
            << "[Desktop Entry]\nType=Application\nName=Sleeper\nIcon=sleepy\nExec=sleep %u\n";
    }
    ~SleeperEntries() { fs::remove_all(dir); }
    platform::RunningApplications::Options options() const {
        platform::RunningApplications::Options options;
        options.applicationDirectories = std::vector<std::string>{dir};
        return options;
    }
    std::string dir;
};

// The changes of one poll that concern a pid, as "+<start>" for insertions and "-<start>" for
// removals (which must come marked terminated), in the order they were heard.
std::vector<std::string> changesOf(
    const std::vector<platform::RunningApplications::Change>& changes, pid_t pid) {
    std::vector<std::string> seen;
    for (const auto& change : changes) {
        for (const auto& app : change.values) {
            if (app->pid != pid)
                continue;
            if (change.kind == platform::RunningApplications::ChangeKind::insertion &&
                !app->terminated)
                seen.push_back("+" + std::to_string(app->startTime));
            if (change.kind == platform::RunningApplications::ChangeKind::removal &&
                app->terminated)
                seen.push_back("-" + std::to_string(app->startTime));
        }
    }
    return seen;
}

// The process's start time from its stat line, 0 when it cannot be read.
uint64_t startTimeOf(pid_t pid) {
    const auto stat = ProcessTable().stat(pid);
    return stat ? stat->startTime : 0;
}

// Past exec: the new name and the new arguments (exec sets the name first).
bool runsSleep(pid_t pid) {
    const ProcessTable processes;
    const auto stat = processes.stat(pid);
    const auto argv = processes.commandLine(pid);
    return stat && stat->comm == "sleep" && !argv.empty() && argv[0] == "sleep";
}

// A workspace over the Sleeper entries that keeps every change it reports.
struct ObservedWorkspace {
    ObservedWorkspace() : workspace(entries.options()) {
        workspace.observe([this](const platform::RunningApplications::Change& change) {
            changes.push_back(change);
        });
    }
    // Polls until `pid` is among the running applications; false at the deadline.
    bool pollUntilListed(pid_t pid) {
        return test::waitUntil([&] {
            workspace.poll();
            return findPid(workspace.runningApplications(), pid) != nullptr;
        });
    }
    SleeperEntries entries;
    platform::RunningApplications workspace;
    std::vector<platform::RunningApplications::Change> changes;
};

TEST(RunningApplicationsTest, AProcessStartedAndOneEndedBetweenTwoPollsAreBothReported) {
    ObservedWorkspace observed;
    platform::RunningApplications& workspace = observed.workspace;
    std::vector<platform::RunningApplications::Change>& changes = observed.changes;
    Child first({"sleep", "1000"});
    ASSERT_GT(first.pid, 0);
    ASSERT_TRUE(observed.pollUntilListed(first.pid));
    // Steady polls report nothing.
    changes.clear();
    workspace.poll();
    workspace.poll();
    EXPECT_TRUE(changesOf(changes, first.pid).empty());
    ASSERT_NE(findPid(workspace.runningApplications(), first.pid), nullptr);

    const uint64_t firstStart = startTimeOf(first.pid);
    const pid_t firstPid = first.pid;
    first.stop();
    Child second({"sleep", "1001"});
    ASSERT_GT(second.pid, 0);
    ASSERT_TRUE(test::waitUntil([&] { return runsSleep(second.pid); }));
    const uint64_t secondStart = startTimeOf(second.pid);
    workspace.poll();
    EXPECT_EQ(changesOf(changes, firstPid),
              std::vector<std::string>{"-" + std::to_string(firstStart)});
    EXPECT_EQ(changesOf(changes, second.pid),
              std::vector<std::string>{"+" + std::to_string(secondStart)});
    EXPECT_EQ(findPid(workspace.runningApplications(), firstPid), nullptr);
    const auto* app = findPid(workspace.runningApplications(), second.pid);
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->localizedName, "Sleeper");
}

TEST(RunningApplicationsTest, AKnownProcessThatRunsAnotherProgramIsJudgedAgain) {
    ObservedWorkspace observed;
    platform::RunningApplications& workspace = observed.workspace;
    std::vector<platform::RunningApplications::Change>& changes = observed.changes;
    const std::string go = observed.entries.dir + "/go";
    Child shell({"sh", "-c", "while [ ! -e " + go + " ]; do sleep 0.05; done; exec sleep 1000"});
    ASSERT_GT(shell.pid, 0);
    // Long known as a shell, past the first polls that look at every new process closely.
    for (int poll = 0; poll < 12; ++poll)
        workspace.poll();
    EXPECT_EQ(findPid(workspace.runningApplications(), shell.pid), nullptr);
    std::ofstream(go) << "go";
    ASSERT_TRUE(test::waitUntil([&] { return runsSleep(shell.pid); }));
    ASSERT_TRUE(observed.pollUntilListed(shell.pid));
    EXPECT_EQ(changesOf(changes, shell.pid),
              std::vector<std::string>{"+" + std::to_string(startTimeOf(shell.pid))});
}

// Makes the kernel hand out `pid` to the next process of this pid namespace; false when it cannot
// be asked to (no privilege, or no such file).
bool offerPid(pid_t pid) {
    std::ofstream out("/proc/sys/kernel/ns_last_pid");
    if (!out)
        return false;
    out << pid - 1;
    out.flush();
    return bool(out);
}

TEST(RunningApplicationsTest, AReusedPidWithANewStartTimeIsANewProcess) {
    ObservedWorkspace observed;
    platform::RunningApplications& workspace = observed.workspace;
    std::vector<platform::RunningApplications::Change>& changes = observed.changes;
    Child first({"sleep", "1000"});
    ASSERT_GT(first.pid, 0);
    ASSERT_TRUE(observed.pollUntilListed(first.pid));
    const pid_t pid = first.pid;
    const uint64_t firstStart = startTimeOf(pid);
    ASSERT_GT(firstStart, 0u);
    first.stop();
    // The new process must start at least one clock tick later.
    const long hz = ::sysconf(_SC_CLK_TCK);
    ASSERT_TRUE(test::waitUntil([&] {
        timespec now{};
        ::clock_gettime(CLOCK_BOOTTIME, &now);
        const auto ticks = static_cast<uint64_t>(now.tv_sec) * static_cast<uint64_t>(hz) +
                           static_cast<uint64_t>(now.tv_nsec) / (1'000'000'000 / hz);
        return ticks > firstStart + 2;
    }));
    // Other processes of the machine may take the pid first: try a few times.
    std::unique_ptr<Child> second;
    for (int attempt = 0; attempt < 50 && !second; ++attempt) {
        if (!offerPid(pid))
            GTEST_SKIP() << "cannot choose the next pid (/proc/sys/kernel/ns_last_pid needs "
                            "CAP_SYS_ADMIN or CAP_CHECKPOINT_RESTORE)";
        auto child = std::make_unique<Child>(std::vector<std::string>{"sleep", "1002"});
        ASSERT_GT(child->pid, 0);
        if (child->pid == pid)
            second = std::move(child);
    }
    if (!second)
        GTEST_SKIP() << "pid " << pid << " was taken by another process 50 times";
    ASSERT_TRUE(test::waitUntil([&] { return runsSleep(pid); }));
    const uint64_t secondStart = startTimeOf(pid);
    ASSERT_NE(secondStart, firstStart);

    changes.clear();
    workspace.poll();
    EXPECT_EQ(changesOf(changes, pid),
              (std::vector<std::string>{"-" + std::to_string(firstStart),
                                        "+" + std::to_string(secondStart)}));
    const auto* app = findPid(workspace.runningApplications(), pid);
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->startTime, secondStart);
    EXPECT_EQ(app->localizedName, "Sleeper");
}

}  // namespace
}  // namespace vigil
