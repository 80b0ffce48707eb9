// The applications resource while processes come and go between the workspace's listing and the
// reads of their /proc files: some exit and are reaped, some stay zombies for a while. Sampling
// must go on, figures stay sane, and a process that vanishes is not an error.

#include <signal.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "support/RunningApplicationsTestChild.h"
#include "support/TestSupport.h"
#include "system/Applications.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

bool listed(const Applications& apps, pid_t pid) {
    for (const auto& p : apps.processes())
        if (p.pid == pid)
            return true;
    return false;
}

TEST(ApplicationsFaultTest, ProcessesExitingBetweenListingAndReadingDoNotStopSampling) {
    char pattern[] = "/tmp/vigil-faults-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    std::ofstream(dir + "/sleeper.desktop")
        << "[Desktop Entry]\nType=Application\nName=Sleeper\nExec=sleep\n";
    Applications::Options options;
    options.workspace.applicationDirectories = std::vector<std::string>{dir};
    options.interval = 0.01;

    test::Child steady({"sleep", "1000"});
    ASSERT_TRUE(test::waitUntil([&] {
        const auto argv = ProcessTable().commandLine(steady.pid);
        return !argv.empty() && argv[0] == "sleep";
    }));
    Applications apps(options);
    struct sysinfo info {};
    ASSERT_EQ(sysinfo(&info), 0);
    const uint64_t physical = static_cast<uint64_t>(info.totalram) * info.mem_unit;
    const double maxCpu = 100.0 * static_cast<double>(sysconf(_SC_NPROCESSORS_ONLN)) * 1.05;

    std::atomic<bool> stop{false};
    std::atomic<int> updates{0};
    testing::internal::CaptureStderr();
    std::thread sampler([&] {
        while (!stop.load()) {
            apps.update();
            updates.fetch_add(1);
        }
    });

    std::set<pid_t> brief;
    int seen = 0;
    for (int round = 0; round < 40; ++round) {
        auto child = std::make_unique<test::Child>(std::vector<std::string>{"sleep", "1000"});
        ASSERT_GT(child->pid, 0);
        brief.insert(child->pid);
        const int before = updates.load();
        // Let the listing catch it (or not), and at least one sample run on it.
        if (test::waitUntil([&] { return listed(apps, child->pid) && updates.load() > before + 1; },
                            std::chrono::milliseconds(round % 3 == 0 ? 5 : 500)))
            ++seen;
        if (round % 2 == 0) {
            child.reset();  // killed and reaped: its /proc folder is gone
        } else {
            ::kill(child->pid, SIGKILL);  // a zombie until reaped a little later
            const int now = updates.load();
            test::waitUntil([&] { return updates.load() > now + 1; }, std::chrono::seconds(2));
            child.reset();
        }
        for (const auto& p : apps.processes()) {
            ASSERT_GE(p.cpu, 0) << p.pid;
            ASSERT_LE(p.cpu, maxCpu) << p.pid;
            ASSERT_LE(p.mem, physical) << p.pid;
        }
    }
    // Sampling goes on after the churn.
    const int after = updates.load();
    EXPECT_TRUE(test::waitUntil([&] { return updates.load() > after + 5; }));
    stop = true;
    sampler.join();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Error: "), std::string::npos) << err;
    EXPECT_GT(seen, 10);

    // The steady process keeps its figures; the brief ones all leave the table.
    EXPECT_TRUE(listed(apps, steady.pid));
    EXPECT_TRUE(test::waitUntil([&] {
        apps.pollRunningApplications();
        for (pid_t pid : brief)
            if (listed(apps, pid))
                return false;
        return true;
    }));
    apps.update();
    for (const auto& p : apps.processes()) {
        if (p.pid == steady.pid) {
            EXPECT_GT(p.mem, 0u);
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vigil
