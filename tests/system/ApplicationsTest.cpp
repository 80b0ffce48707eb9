#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/TestSupport.h"
#include "support/WorkspaceTestChild.h"
#include "system/Applications.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

using test::Child;

// Desktop entries in a folder of their own: "Sleeper" names sleep, "Burner" names yes.
struct Entries {
    Entries() {
        char pattern[] = "/tmp/vigil-apps-XXXXXX";
        dir = ::mkdtemp(pattern);
        std::ofstream(dir + "/sleeper.desktop")
            << "[Desktop Entry]\nType=Application\nName=Sleeper\nIcon=sleepy\nExec=sleep\n";
        std::ofstream(dir + "/burner.desktop")
            << "[Desktop Entry]\nType=Application\nName=Burner\nExec=yes %U\n";
    }
    ~Entries() { fs::remove_all(dir); }
    Applications::Options options(double interval = 0.05) const {
        Applications::Options o;
        o.workspace.applicationDirectories = std::vector<std::string>{dir};
        o.interval = interval;
        return o;
    }
    std::string dir;
};

std::optional<Applications::Process> find(const std::vector<Applications::Process>& list,
                                          pid_t pid) {
    for (const auto& p : list) {
        if (p.pid == pid)
            return p;
    }
    return std::nullopt;
}

// Waits until the child has exec'd (its command line is the program's).
void waitForExec(pid_t pid, const std::string& program) {
    ASSERT_TRUE(test::waitUntil([&] {
        const auto argv = ProcessTable().commandLine(pid);
        return !argv.empty() && argv[0] == program;
    }));
}

TEST(ApplicationsTest, RealProcessesAreListedSampledAndRanked) {
    Entries entries;
    Child sleeper({"sleep", "1000"});
    Child burner({"yes"});
    waitForExec(sleeper.pid, "sleep");
    waitForExec(burner.pid, "yes");
    Applications apps(entries.options());
    EXPECT_EQ(apps.type(), SystemResourceType::app);
    EXPECT_EQ(apps.count(), 0);
    ASSERT_TRUE(find(apps.processes(), sleeper.pid));
    ASSERT_TRUE(find(apps.processes(), burner.pid));
    EXPECT_EQ(find(apps.processes(), burner.pid)->name(), "Burner");
    EXPECT_EQ(find(apps.processes(), sleeper.pid)->icon, "sleepy");
    EXPECT_EQ(find(apps.processes(), burner.pid)->icon, std::nullopt);

    // Two samples some time apart: yes keeps one processor busy, sleep does not.
    apps.update();
    ASSERT_TRUE(test::waitUntil(
        [&] {
            apps.update();
            const auto burning = find(apps.processes(), burner.pid);
            return burning && burning->cpu > 20;
        },
        std::chrono::seconds(20)));
    const auto sleeping = find(apps.processes(), sleeper.pid);
    ASSERT_TRUE(sleeping);
    EXPECT_LT(sleeping->cpu, 5);
    EXPECT_GT(sleeping->mem, 0u);
    ApplicationAttributes real;
    ASSERT_EQ(getApplicationAttributes(sleeper.pid, &real), 1);
    EXPECT_NEAR(static_cast<double>(sleeping->mem), static_cast<double>(real.mem), 1 << 20);

    const auto top = apps.cpu();
    ASSERT_FALSE(top.empty());
    EXPECT_LE(top.size(), 3u);
    EXPECT_GE(top.front().cpu, find(apps.processes(), burner.pid)->cpu - 1e-9);
    EXPECT_LE(apps.mem().size(), 3u);
    for (size_t i = 1; i < apps.mem().size(); ++i) {
        EXPECT_GE(apps.mem()[i - 1].mem, apps.mem()[i].mem);
    }
}

TEST(ApplicationsTest, InsertionsAndRemovalsFollowTheWorkspace) {
    Entries entries;
    Applications apps(entries.options());
    Child later({"sleep", "1000"});
    ASSERT_GT(later.pid, 0);
    // The 50 ms re-read on the main queue picks the new process up...
    ASSERT_TRUE(test::waitUntil([&] { return find(apps.processes(), later.pid).has_value(); }));
    const pid_t pid = later.pid;
    later.stop();
    // ...and lets it go once it exited.
    EXPECT_TRUE(test::waitUntil([&] { return !find(apps.processes(), pid).has_value(); }));
}

TEST(ApplicationsTest, ProcessExitingBeforeItIsSampledKeepsItsFigures) {
    Entries entries;
    Child brief({"sleep", "1000"});
    waitForExec(brief.pid, "sleep");
    Applications apps(entries.options(/*interval=*/0));
    const pid_t pid = brief.pid;
    apps.update();
    const auto before = find(apps.processes(), pid);
    ASSERT_TRUE(before);
    brief.stop();  // gone between the listing and the next sample
    testing::internal::CaptureStderr();
    apps.update();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const auto after = find(apps.processes(), pid);
    ASSERT_TRUE(after);  // still listed until the workspace reports it gone
    EXPECT_EQ(after->mem, before->mem);
    apps.pollWorkspace();
    EXPECT_FALSE(find(apps.processes(), pid));
}

TEST(ApplicationsTest, ChildProcessesAreCountedUnderTheirParent) {
    Entries entries;
    // sh starts sleep and then becomes yes: sleep's parent is the yes process.
    Child family({"sh", "-c", "sleep 1000 & exec yes"});
    waitForExec(family.pid, "yes");
    pid_t child = -1;
    ASSERT_TRUE(test::waitUntil([&] {
        for (pid_t pid : ProcessTable().pids()) {
            const auto stat = ProcessTable().stat(pid);
            const auto argv = ProcessTable().commandLine(pid);
            if (stat && stat->ppid == family.pid && !argv.empty() && argv[0] == "sleep") {
                child = pid;
                return true;
            }
        }
        return false;
    }));
    Applications apps(entries.options(0));
    apps.update();
    apps.update();
    const auto parent = find(apps.processes(), family.pid);
    const auto folded = find(apps.processes(), child);
    ASSERT_TRUE(parent && folded);
    EXPECT_EQ(folded->ppid, family.pid);
    EXPECT_EQ(folded->parentPid, family.pid);
    EXPECT_EQ(folded->mem, 0u);
    EXPECT_EQ(folded->cpu, 0.0);
    EXPECT_GT(parent->mem, parent->ownMem);  // the child's memory is added to the parent's
    ::kill(child, SIGKILL);
}

TEST(ApplicationsTest, FixtureSessionLauncherParentsAndFigures) {
    const std::string root = test::fixturePath("apps-cgroup");
    struct stat info {};
    ASSERT_EQ(::stat((root + "/proc/1200").c_str(), &info), 0);
    Applications::Options options;
    options.workspace.root = root;
    options.workspace.applicationDirectories = std::vector<std::string>{"/usr/share/applications"};
    options.workspace.uid = info.st_uid;
    options.interval = 0;
    Applications apps(options);
    apps.update();
    const auto table = apps.processes();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].name(), "Terminal");
    EXPECT_EQ(table[0].ppid, 1);  // started by the user's service manager
    EXPECT_EQ(table[2].name(), "Calculator");
    EXPECT_EQ(table[2].ppid, 1201);  // started from a shell that is no application
    EXPECT_EQ(table[2].parentPid, -1);
    EXPECT_EQ(table[2].mem, 2560u * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE)));
    EXPECT_EQ(table[2].cpu, 0.0);  // its processor time did not move
}

// Entries for processes that do not exist: the naming rules alone decide their parents.
RunningApplicationPtr fake(pid_t pid, const std::string& name, bool terminated = false) {
    auto app = std::make_shared<RunningApplication>();
    app->pid = pid;
    app->startTime = 1;
    app->localizedName = name;
    app->terminated = terminated;
    return app;
}

TEST(ApplicationsTest, AuxiliaryProcessesFoundByName) {
    EXPECT_EQ(auxiliaryOwnerName("Safari Web Content"), "Safari");
    EXPECT_EQ(auxiliaryOwnerName("My  Browser Networking"), "My Browser");
    EXPECT_EQ(auxiliaryOwnerName("Web Content"), "");
    EXPECT_EQ(auxiliaryOwnerName("Browser"), "");

    Entries entries;
    auto options = entries.options(0);
    options.workspace.root = "/nonexistent-root-for-vigil";  // an empty workspace
    Applications apps(options);
    apps.observeValue({platform::Workspace::ChangeKind::insertion,
                       {fake(999990, "Safari"), fake(999991, "Safari Web Content"),
                        fake(999992, "Other Networking")}});
    auto table = apps.processes();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].ppid, -1);
    EXPECT_EQ(table[1].parentPid, 999990);
    EXPECT_EQ(table[2].parentPid, -1);  // no entry named "Other"
    apps.observeValue({platform::Workspace::ChangeKind::setting, {fake(999993, "Ignored")}});
    EXPECT_EQ(apps.processes().size(), 3u);
}

TEST(ApplicationsTest, ParentThatCannotBeReadDoesNotPileUpItsChildrensFigures) {
    Entries entries;
    // An orphan (its parent exits at once) is adopted by pid 1 or by a subreaper.
    const std::string marker = "1000." + std::to_string(::getpid());
    Child starter({"sh", "-c", "sleep " + marker + " & exit 0"});
    pid_t orphan = -1;
    ASSERT_TRUE(test::waitUntil([&] {
        for (pid_t pid : ProcessTable().pids()) {
            const auto argv = ProcessTable().commandLine(pid);
            if (argv.size() == 2 && argv[0] == "sleep" && argv[1] == marker)
                orphan = pid;
        }
        return orphan > 0;
    }));
    struct Reaper {
        pid_t pid;
        ~Reaper() { ::kill(pid, SIGKILL); }
    } reaper{orphan};
    if (getParentPid(orphan) != 1)
        GTEST_SKIP() << "orphans go to a subreaper here, not to pid 1";

    auto options = entries.options(0);
    options.workspace.applicationDirectories = std::vector<std::string>{};  // no entries
    Applications apps(options);
    // "Gone" cannot be read (no such process); its helper is found by name and counted under it.
    auto helper = std::make_shared<RunningApplication>();
    helper->pid = orphan;
    helper->localizedName = "Gone Web Content";
    apps.observeValue({platform::Workspace::ChangeKind::insertion, {fake(999980, "Gone"), helper}});
    ASSERT_EQ(find(apps.processes(), orphan)->parentPid, 999980);
    for (int i = 0; i < 3; ++i) {
        apps.update();
        const auto child = find(apps.processes(), orphan);
        const auto parent = find(apps.processes(), 999980);
        ASSERT_TRUE(child && parent);
        ASSERT_GT(child->ownMem, 0u);
        EXPECT_EQ(parent->mem, child->ownMem) << "tick " << i;  // once, not once per tick
        EXPECT_EQ(child->mem, 0u);
    }
}

TEST(ApplicationsTest, UnresolvedHelperHoldsFiguresOnlyWhileItRuns) {
    Entries entries;
    Child sleeper({"sleep", "1000"});
    waitForExec(sleeper.pid, "sleep");
    Applications apps(entries.options(0));
    apps.observeValue({platform::Workspace::ChangeKind::insertion,
                       {fake(999995, "com.apple.WebKit.WebContent")}});
    apps.update();
    // While a helper waits for its name, no figures are taken.
    EXPECT_EQ(find(apps.processes(), sleeper.pid)->mem, 0u);
    // Once it is gone, figures flow again (it no longer counts as waiting).
    apps.observeValue({platform::Workspace::ChangeKind::removal,
                       {fake(999995, "com.apple.WebKit.WebContent", true)}});
    apps.update();
    EXPECT_GT(find(apps.processes(), sleeper.pid)->mem, 0u);
}

TEST(ApplicationsTest, BackgroundUpdatesWhileTheMainThreadReadsAndRelists) {
    Entries entries;
    Child burner({"yes"});
    Child sleeper({"sleep", "1000"});
    waitForExec(burner.pid, "yes");
    Applications apps(entries.options(0.01));
    std::atomic<bool> stop{false};
    std::thread sampler([&] {
        while (!stop.load())
            apps.update();
    });
    std::vector<std::unique_ptr<Child>> churn;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    size_t reads = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        test::waitUntil([] { return false; }, std::chrono::milliseconds(20));
        reads += apps.cpu().size() + apps.mem().size();
        if (churn.size() < 5) {
            churn.push_back(std::make_unique<Child>(std::vector<std::string>{"sleep", "1000"}));
        } else {
            churn.erase(churn.begin());
        }
    }
    stop = true;
    sampler.join();
    EXPECT_GT(reads, 0u);
}

}  // namespace
}  // namespace vigil
