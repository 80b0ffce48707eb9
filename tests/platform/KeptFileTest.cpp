#include "platform/KeptFile.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/TestTree.h"

namespace vigil::platform {
namespace {

using test::TempTree;

std::string threadName() {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

TEST(KeptFileTest, KernelFileStaysOpenAndEachReadIsFresh) {
    const std::string original = threadName();
    KeptFile comm("/proc/thread-self/comm");
    std::string text;
    ASSERT_EQ(pthread_setname_np(pthread_self(), "kept-first"), 0);
    ASSERT_EQ(comm.readInto(text, nullptr), Outcome::value);
    EXPECT_EQ(text, "kept-first\n");
    EXPECT_TRUE(comm.isOpen());

    ASSERT_EQ(pthread_setname_np(pthread_self(), "kept-second"), 0);
    ASSERT_EQ(comm.readInto(text, nullptr), Outcome::value);
    EXPECT_EQ(text, "kept-second\n");
    EXPECT_TRUE(comm.isOpen());

    // A copy reads through a descriptor of its own.
    KeptFile copy = comm;
    comm.close();
    ASSERT_EQ(copy.readInto(text, nullptr), Outcome::value);
    EXPECT_EQ(text, "kept-second\n");
    pthread_setname_np(pthread_self(), original.c_str());
}

TEST(KeptFileTest, OrdinaryFileIsOpenedForEachReadSoAReplacementIsSeen) {
    TempTree tree;
    tree.write("value", "one\n");
    KeptFile file(tree.path("value"));
    std::string text;
    ASSERT_EQ(file.readInto(text, nullptr), Outcome::value);
    EXPECT_EQ(text, "one\n");
    EXPECT_FALSE(file.isOpen());

    tree.write("value.new", "two\n");
    std::filesystem::rename(tree.path("value.new"), tree.path("value"));
    ASSERT_EQ(file.readInto(text, nullptr), Outcome::value);
    EXPECT_EQ(text, "two\n");

    tree.remove("value");
    EXPECT_EQ(file.readInto(text, nullptr), Outcome::absent);
    EXPECT_TRUE(text.empty());
}

TEST(KeptFileTest, FileOfAProcessThatEndedIsAbsentAndNoLongerKept) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);

    KeptFile stat("/proc/" + std::to_string(child) + "/stat");
    std::string text, error;
    ASSERT_EQ(stat.readInto(text, &error), Outcome::value);
    EXPECT_EQ(text.rfind(std::to_string(child) + " (", 0), 0u) << text;
    EXPECT_TRUE(stat.isOpen());

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(stat.readInto(text, &error), Outcome::absent) << error;
    EXPECT_FALSE(stat.isOpen());
    EXPECT_TRUE(text.empty());
}

}  // namespace
}  // namespace vigil::platform
