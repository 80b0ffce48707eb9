#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vigil::test {

// Enters a mount namespace of its own, where nothing mounted is seen by (or can hang) the rest of
// the machine. For the child of VIGIL_IN_PRIVATE_MOUNTS.
inline void enterPrivateMounts() {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) {
        std::fprintf(stderr, "cannot make a private mount namespace\n");
        std::_Exit(2);
    }
}

// Runs a shell command and returns its output without the trailing newline; `status` gets the exit
// status.
inline std::string commandOutput(const std::string& command, int* status = nullptr) {
    std::string output;
    int rc = -1;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        rc = ::pclose(pipe);
    }
    if (status)
        *status = rc;
    while (!output.empty() && (output.back() == '\n' || output.back() == ' '))
        output.pop_back();
    return output;
}

// Why loop devices with ext4 cannot be made here; "" when they can.
inline std::string whyNoLoopDevices() {
    if (::geteuid() != 0)
        return "needs root for loop devices (CI runs as root)";
    if (std::system("command -v mkfs.ext4 >/dev/null && command -v losetup >/dev/null") != 0)
        return "needs mkfs.ext4 (e2fsprogs) and losetup (mount)";
    if (std::system("test -e /dev/loop-control") != 0)
        return "no loop devices here (/dev/loop-control is missing)";
    return "";
}

// A fresh folder under the temporary folder, removed with what it holds when it goes. Declare it
// before what is mounted or attached inside it, so that those go first.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& name)
        : path(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::filesystem::path path;
};

// A file of `sizeMiB` in `folder`, formatted by `format` (a shell command that takes the file's
// path as its last word; none when empty) and attached to a loop device; detached when it goes.
class LoopImage {
  public:
    LoopImage(const std::string& folder, int sizeMiB, const std::string& format = "") {
        static int counter = 0;
        const std::string image = folder + "/image" + std::to_string(counter++);
        int status = 0;
        commandOutput("truncate -s " + std::to_string(sizeMiB) + "M " + image +
                          (format.empty() ? "" : " && " + format + " " + image),
                      &status);
        if (status != 0) {
            reason = "making the image failed: " + format;
            return;
        }
        node = commandOutput("losetup --find --show " + image, &status);
        if (status != 0 || node.rfind("/dev/", 0) != 0) {
            reason = "no free loop device (losetup --find failed)";
            node.clear();
        }
    }
    ~LoopImage() {
        if (!node.empty())
            commandOutput("losetup -d " + node);
    }
    LoopImage(const LoopImage&) = delete;
    LoopImage& operator=(const LoopImage&) = delete;

    bool ready() const { return !node.empty(); }
    std::string node;  // "/dev/loop3"
    std::string reason;
};

}  // namespace vigil::test

// Runs `body` in a child process in a private mount namespace. GoogleTest's threadsafe death-test
// style runs the child as a fresh copy of the test program (no threads, no background pool started
// yet), so everything the body starts lives in the namespace. Assertions in the body count: the
// child exits non-zero when any failed, and its output shows why.
#define VIGIL_IN_PRIVATE_MOUNTS(...)                                                      \
    do {                                                                                  \
        if (::geteuid() != 0)                                                             \
            GTEST_SKIP() << "needs root for a private mount namespace (CI runs as root)"; \
        if (std::system("unshare -m true >/dev/null 2>&1") != 0)                          \
            GTEST_SKIP() << "cannot create a mount namespace here";                       \
        GTEST_FLAG_SET(death_test_style, "threadsafe");                                   \
        auto vigilPrivateBody = __VA_ARGS__;                                              \
        EXPECT_EXIT(                                                                      \
            {                                                                             \
                ::vigil::test::enterPrivateMounts();                                      \
                vigilPrivateBody();                                                       \
                std::fflush(nullptr);                                                     \
                std::_Exit(::testing::Test::HasFailure() ? 1 : 0);                        \
            },                                                                            \
            ::testing::ExitedWithCode(0), "");                                            \
    } while (0)
