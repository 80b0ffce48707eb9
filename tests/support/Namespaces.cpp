#include "support/Namespaces.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace vigil::test {

namespace {
constexpr int kCannotRun = 77;

bool enterNamespaces() {
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
        return false;
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    if (mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0)
        return false;
    return shell("ip link set lo up") == 0;
}
}  // namespace

int shell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    if (status == -1 || !WIFEXITED(status))
        return 127;
    return WEXITSTATUS(status);
}

NamespaceOutcome runInNetworkNamespace(const std::function<void()>& body, int timeoutSeconds) {
    if (geteuid() != 0)
        return {false, false, "needs root for network namespaces (CI runs as root)"};
    if (shell("command -v ip") != 0)
        return {false, false, "needs the ip command (iproute2)"};
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return {false, false, "fork failed"};
    if (child == 0) {
        if (!enterNamespaces())
            _exit(kCannotRun);
        body();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return {true, false, "the namespace body did not finish in time"};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // polling a child's exit
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotRun) {
        return {false, false, "cannot create network and mount namespaces here"};
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {true, true, ""};
    return {true, false, "assertions failed in the namespace (see the output above)"};
}

}  // namespace vigil::test
