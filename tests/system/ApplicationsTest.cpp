#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/RunningApplicationsTestChild.h"
#include "support/TestSupport.h"
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
    apps.pollRunningApplications();
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
    EXPECT_EQ(auxiliaryOwnerName("Epiphany Web Content"), "Epiphany");
    EXPECT_EQ(auxiliaryOwnerName("My  Browser Networking"), "My Browser");
    EXPECT_EQ(auxiliaryOwnerName("Web Content"), "");
    EXPECT_EQ(auxiliaryOwnerName("Browser"), "");

    Entries entries;
    auto options = entries.options(0);
    options.workspace.root = "/nonexistent-root-for-vigil";  // an empty workspace
    Applications apps(options);
    apps.observeValue({platform::RunningApplications::ChangeKind::insertion,
                       {fake(999990, "Epiphany"), fake(999991, "Epiphany Web Content"),
                        fake(999992, "Other Networking")}});
    auto table = apps.processes();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].ppid, -1);
    EXPECT_EQ(table[1].parentPid, 999990);
    EXPECT_EQ(table[2].parentPid, -1);  // no entry named "Other"
    apps.observeValue(
        {platform::RunningApplications::ChangeKind::setting, {fake(999993, "Ignored")}});
    EXPECT_EQ(apps.processes().size(), 3u);
}

// A sleeping process whose parent exits at once: adopted by pid 1 or by a subreaper. Killed at the
// end.
struct Orphan {
    explicit Orphan(const std::string& seconds) {
        const std::string marker = seconds + "." + std::to_string(::getpid());
        Child starter({"sh", "-c", "sleep " + marker + " & exit 0"});
        test::waitUntil([&] {
            for (pid_t candidate : ProcessTable().pids()) {
                const auto argv = ProcessTable().commandLine(candidate);
                if (argv.size() == 2 && argv[0] == "sleep" && argv[1] == marker)
                    pid = candidate;
            }
            return pid > 0;
        });
    }
    ~Orphan() {
        if (pid > 0)
            ::kill(pid, SIGKILL);
    }
    pid_t pid = -1;
};

TEST(ApplicationsTest, ParentThatCannotBeReadDoesNotPileUpItsChildrensFigures) {
    Entries entries;
    Orphan orphaned("1000");
    const pid_t orphan = orphaned.pid;
    ASSERT_GT(orphan, 0);
    if (getParentPid(orphan) != 1)
        GTEST_SKIP() << "orphans go to a subreaper here, not to pid 1";

    auto options = entries.options(0);
    options.workspace.applicationDirectories = std::vector<std::string>{};  // no entries
    Applications apps(options);
    // "Gone" cannot be read (no such process); its helper is found by name and counted under it.
    auto helper = std::make_shared<RunningApplication>();
    helper->pid = orphan;
    helper->localizedName = "Gone Web Content";
    apps.observeValue(
        {platform::RunningApplications::ChangeKind::insertion, {fake(999980, "Gone"), helper}});
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

TEST(ApplicationsTest, AHelperWaitingForItsOwnerHoldsOnlyItsOwnFigures) {
    Entries entries;
    Child sleeper({"sleep", "1000"});
    waitForExec(sleeper.pid, "sleep");
    // A helper waits for its owner's name only when the launcher started it.
    Orphan helper("1001");
    ASSERT_GT(helper.pid, 0);
    if (getParentPid(helper.pid) != 1)
        GTEST_SKIP() << "orphans go to a subreaper here, not to pid 1";
    auto options = entries.options(0);
    options.workspace.applicationDirectories = std::vector<std::string>{};  // no entries
    Applications apps(options);
    apps.observeValue({platform::RunningApplications::ChangeKind::insertion,
                       {fake(sleeper.pid, "Sleeper"), fake(helper.pid, "WebKitWebProcess")}});
    for (int tick = 0; tick < 2; ++tick) {
        apps.update();
        // The others refresh while it waits; it alone is not sampled (its process has memory).
        EXPECT_GT(find(apps.processes(), sleeper.pid)->mem, 0u) << "tick " << tick;
        EXPECT_EQ(find(apps.processes(), helper.pid)->mem, 0u) << "tick " << tick;
    }
    apps.observeValue({platform::RunningApplications::ChangeKind::removal,
                       {fake(helper.pid, "WebKitWebProcess", true)}});
    apps.update();
    EXPECT_FALSE(find(apps.processes(), helper.pid));
    EXPECT_GT(find(apps.processes(), sleeper.pid)->mem, 0u);
}

// The mount point of the cgroup v2 hierarchy, from this process's mount table; empty when none.
std::string cgroup2MountPoint() {
    std::ifstream mountinfo("/proc/self/mountinfo");
    for (std::string line; std::getline(mountinfo, line);) {
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos || line.compare(dash + 3, 8, "cgroup2 ") != 0)
            continue;
        std::istringstream fields(line);
        std::string field, mountPoint;
        for (int i = 0; i < 5 && fields >> field; ++i)
            mountPoint = field;
        return mountPoint;
    }
    return {};
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A user's session tree built below the cgroup v2 hierarchy, as systemd lays it out:
// <top>/user.slice/user-<uid>.slice/user@<uid>.service/app.slice/<units>. Processes are started
// inside a unit (the child joins it before exec). While it stands this process adopts orphans (pid
// 1 may not reap them); at the end every process of a unit is killed and reaped, and the groups
// are removed.
struct SessionTree {
    explicit SessionTree(const std::string& mount) {
        top = mount + "/vigil-test-" + std::to_string(::getpid());
        const std::string uid = std::to_string(::getuid());
        appSlice = top + "/user.slice/user-" + uid + ".slice/user@" + uid + ".service/app.slice";
        ok = fs::create_directories(appSlice, error);
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    }
    ~SessionTree() {
        for (pid_t pid : started)
            ::kill(pid, SIGKILL);
        for (const auto& unit : units) {
            killAll(unit);
            ::rmdir(unit.c_str());
        }
        for (fs::path folder = appSlice; folder.string().size() >= top.size();
             folder = folder.parent_path())
            ::rmdir(folder.c_str());
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    }
    // Kills every process of a group and reaps them until it holds none.
    static void killAll(const std::string& unit) {
        test::waitUntil([&] {
            std::istringstream pids(readText(unit + "/cgroup.procs"));
            bool any = false;
            for (pid_t pid; pids >> pid; any = true)
                ::kill(pid, SIGKILL);
            while (::waitpid(-1, nullptr, WNOHANG) > 0) {
            }
            return !any;
        });
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
    }
    std::string unit(const std::string& name) {
        units.push_back(appSlice + "/" + name);
        fs::create_directory(units.back());
        return units.back();
    }
    pid_t start(const std::string& unit, const std::string& script) {
        const std::string procs = unit + "/cgroup.procs";
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(procs.c_str(), O_WRONLY);
            if (fd < 0 || ::write(fd, "0", 1) != 1)
                ::_exit(127);
            ::close(fd);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::execl("/bin/sh", "sh", "-c", script.c_str(), nullptr);
            ::_exit(127);
        }
        started.push_back(pid);
        return pid;
    }
    // Takes a started process off the list; killAll reaps it with the rest of its group.
    void forget(pid_t pid) { std::erase(started, pid); }
    std::string top;
    std::string appSlice;
    std::error_code error;
    bool ok = false;
    std::vector<std::string> units;
    std::vector<pid_t> started;
};

uint64_t residentOf(pid_t pid) {
    std::istringstream statm(readText("/proc/" + std::to_string(pid) + "/statm"));
    uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

TEST(ApplicationsTest, AppUnitsOfTheSessionTreeCountTheirWholeGroup) {
    VIGIL_REQUIRE_ROOT();
    const std::string mount = cgroup2MountPoint();
    if (mount.empty())
        GTEST_SKIP() << "no cgroup v2 hierarchy is mounted here";
    SessionTree tree(mount);
    if (!tree.ok)
        GTEST_SKIP() << "cannot make groups below " << mount << ": " << tree.error.message();
    Entries entries;
    // "Sleeper" leads its unit; the yes it started burns a processor inside the same group.
    const std::string sleeperUnit = tree.unit("app-test-sleeper-41.scope");
    const pid_t sleeper = tree.start(sleeperUnit, "yes & exec sleep 1000");
    const std::string burnerUnit = tree.unit("app-test-burner-42.scope");
    const pid_t burner = tree.start(burnerUnit, "exec yes");
    // Outside the tree a Sleeper is no application of the session.
    Child outside({"sleep", "1000"});
    waitForExec(sleeper, "sleep");
    waitForExec(burner, "yes");
    pid_t sleepersChild = -1;
    ASSERT_TRUE(test::waitUntil([&] {
        std::istringstream pids(readText(sleeperUnit + "/cgroup.procs"));
        for (pid_t pid; pids >> pid;)
            if (pid != sleeper &&
                ProcessTable().commandLine(pid) == std::vector<std::string>{"yes"})
                sleepersChild = pid;
        return sleepersChild > 0;
    }));

    auto options = entries.options(0);
    options.workspace.appCgroups = tree.appSlice;
    Applications apps(options);
    ASSERT_EQ(apps.processes().size(), 2u);
    EXPECT_FALSE(find(apps.processes(), outside.pid));
    const auto listed = find(apps.processes(), sleeper);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->name(), "Sleeper");
    EXPECT_EQ(listed->app->cgroup, sleeperUnit);
    EXPECT_EQ(find(apps.processes(), burner)->name(), "Burner");

    // sleep alone uses no processor; its group does, through the child.
    apps.update();
    ASSERT_TRUE(test::waitUntil(
        [&] {
            apps.update();
            const auto p = find(apps.processes(), sleeper);
            return p && p->cpu > 10;
        },
        std::chrono::seconds(20)));
    const uint64_t mem = find(apps.processes(), sleeper)->mem;
    if (::access((sleeperUnit + "/memory.current").c_str(), F_OK) == 0) {
        EXPECT_NEAR(static_cast<double>(mem),
                    static_cast<double>(std::stoull(readText(sleeperUnit + "/memory.current"))),
                    4 << 20);
    } else {
        // The memory controller is on another hierarchy: the members' resident memory, summed.
        EXPECT_NEAR(static_cast<double>(mem),
                    static_cast<double>(residentOf(sleeper) + residentOf(sleepersChild)), 1 << 20);
        EXPECT_GT(mem, residentOf(sleeper));
    }

    // A unit that empties and goes between two samples keeps its figures, quietly, until the
    // next listing lets it go.
    tree.forget(burner);
    SessionTree::killAll(burnerUnit);
    ASSERT_EQ(::rmdir(burnerUnit.c_str()), 0);
    const auto before = find(apps.processes(), burner);
    testing::internal::CaptureStderr();
    apps.update();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(find(apps.processes(), burner)->mem, before->mem);
    apps.pollRunningApplications();
    EXPECT_FALSE(find(apps.processes(), burner));
    EXPECT_TRUE(find(apps.processes(), sleeper));
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
