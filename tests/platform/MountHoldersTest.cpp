// The processes that keep a real volume busy, found as fuser -m finds them: an ext4 image on a loop
// device in a private mount namespace, used by one process working in it, one holding a file of it
// open and one running a program copied onto it. Needs root, a loop device and fuser (psmisc).

#include "platform/MountHolders.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/PrivateMounts.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;

// Processes that hold the volume, each started as `sh -c script` that ends by exec'ing the
// program named; killed when the object goes, whatever the test found.
class Holders {
  public:
    void start(const std::string& script, const std::string& program) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        pids.push_back(pid);
        test::waitUntil([&] {
            std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
            std::string name;
            return std::getline(comm, name) && name == program;
        });
    }
    void stop() {
        for (pid_t pid : pids) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        pids.clear();
    }
    ~Holders() { stop(); }

    std::vector<pid_t> pids;
};

TEST(MountHolders, TheProcessesUsingAVolumeAreThoseFuserFinds) {
    if (const std::string why = test::whyNoLoopDevices(); !why.empty())
        GTEST_SKIP() << why;
    if (std::system("command -v fuser >/dev/null") != 0)
        GTEST_SKIP() << "needs fuser (apt-get install psmisc) to compare with";
    VIGIL_IN_PRIVATE_MOUNTS([] {
        test::ScratchFolder scratch("vigil-holders");
        const std::string mountPoint = (scratch.path / "mnt").string();
        fs::create_directories(mountPoint);
        test::LoopImage image(scratch.path.string(), 16, "mkfs.ext4 -q");
        ASSERT_TRUE(image.ready()) << image.reason;
        ASSERT_EQ(::mount(image.node.c_str(), mountPoint.c_str(), "ext4", 0, nullptr), 0);
        std::ofstream(mountPoint + "/data") << "held open\n";
        fs::copy_file("/bin/sleep", mountPoint + "/napper");

        Holders holding;
        holding.start("cd " + mountPoint + " && exec sleep 600", "sleep");
        holding.start("exec sleep 600 3<" + mountPoint + "/data", "sleep");
        holding.start("exec " + mountPoint + "/napper 600", "napper");
        const std::vector<pid_t> holders = holding.pids;
        struct stat volume {};
        ASSERT_EQ(::stat(mountPoint.c_str(), &volume), 0);
        const auto found = processesUsingMount(major(volume.st_dev), minor(volume.st_dev));

        std::vector<pid_t> foundPids;
        for (const auto& process : found)
            foundPids.push_back(process.pid);
        std::vector<pid_t> fuserPids;
        std::istringstream fuser(test::commandOutput("fuser -m " + mountPoint));
        for (pid_t pid = 0; fuser >> pid;)
            fuserPids.push_back(pid);
        std::sort(fuserPids.begin(), fuserPids.end());
        EXPECT_EQ(foundPids, fuserPids);
        ASSERT_EQ(foundPids, holders) << "the pids given out in order";
        EXPECT_EQ(describeProcesses(found, 2), "sleep (" + std::to_string(holders[0]) +
                                                   "), sleep (" + std::to_string(holders[1]) +
                                                   ") and 1 more");
        EXPECT_EQ(found[2].text(), "napper (" + std::to_string(holders[2]) + ")");

        holding.stop();
        EXPECT_TRUE(processesUsingMount(major(volume.st_dev), minor(volume.st_dev)).empty());
        ::umount2(mountPoint.c_str(), MNT_DETACH);
    });
}

}  // namespace
}  // namespace vigil
