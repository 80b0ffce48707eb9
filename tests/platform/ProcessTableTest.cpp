#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "platform/ProcessTable.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

TEST(ProcessTableTest, ParsesStatWithOddNames) {
    // A name with blanks and parentheses ends at the last ')'.
    const auto stat = parseProcessStat(
        "4242 (my (odd) prog) S 17 4242 4242 0 -1 4194560 1200 0 3 0 250 75 0 0 20 0 6 0 "
        "987654 123456789 2048 18446744073709551615 1 1 0 0 0 0 0 4096 0 0 0 0 17 1 0 0 0 0 0\n");
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->pid, 4242);
    EXPECT_EQ(stat->comm, "my (odd) prog");
    EXPECT_EQ(stat->state, 'S');
    EXPECT_EQ(stat->ppid, 17);
    EXPECT_EQ(stat->utime, 250u);
    EXPECT_EQ(stat->stime, 75u);
    EXPECT_EQ(stat->threads, 6);
    EXPECT_EQ(stat->startTime, 987654u);
    EXPECT_FALSE(stat->isKernelThread());
    const auto kworker = parseProcessStat(
        "87 (kworker/1:2-events) I 2 0 0 0 -1 69238880 0 0 0 0 0 13 0 0 20 0 1 0 4100 0 0 "
        "18446744073709551615 0 0 0 0 0 0 0 2147483647 0 0 0 0 17 1 0 0 0 0 0\n");
    ASSERT_TRUE(kworker);
    EXPECT_TRUE(kworker->isKernelThread());

    EXPECT_FALSE(parseProcessStat(""));
    EXPECT_FALSE(parseProcessStat("12 (x) S 1 2 3"));  // cut short
    EXPECT_FALSE(parseProcessStat("12 x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20"));
    EXPECT_FALSE(
        parseProcessStat("12 (x) S one 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22"));
    // Pids and parent pids the kernel never writes (a negative parent would read as "unknown").
    EXPECT_FALSE(
        parseProcessStat("-1 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22"));
    EXPECT_FALSE(
        parseProcessStat("0 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22"));
    EXPECT_FALSE(
        parseProcessStat("12 (x) S -1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22"));
    EXPECT_TRUE(
        parseProcessStat("12 (x) S 0 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22"));

    EXPECT_EQ(parseStatmResident("5000 1234 300 10 0 900 0\n"), 1234u);
    EXPECT_FALSE(parseStatmResident("5000"));
    EXPECT_EQ(parseUnifiedCgroup("1:name=systemd:/\n0::/user.slice/app-x.scope\n"),
              "/user.slice/app-x.scope");
    EXPECT_FALSE(parseUnifiedCgroup("4:memory:/foo\n"));
}

TEST(ProcessTableTest, ReadsThisProcessFromRealProc) {
    ProcessTable table;
    const auto stat = table.stat(::getpid());
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->ppid, ::getppid());
    EXPECT_EQ(table.parentPid(::getpid()), ::getppid());
    EXPECT_EQ(table.owner(::getpid()), ::getuid());
    EXPECT_FALSE(stat->isKernelThread());
    // Outside a pid namespace of its own, pid 2 is the kernel's thread starter.
    if (const auto kthreadd = table.stat(2); kthreadd && kthreadd->comm == "kthreadd") {
        EXPECT_TRUE(kthreadd->isKernelThread());
    }

    EXPECT_FALSE(stat->thread);

    std::atomic<bool> stop{false};
    std::atomic<pid_t> busyTid{0};
    std::thread busy([&] {
        busyTid = ::gettid();
        while (!stop.load()) {
        }
    });
    // A thread answers as /proc/<tid> too, and tells it is one.
    ASSERT_TRUE(test::waitUntil([&] { return busyTid.load() != 0; }));
    const auto thread = table.stat(busyTid.load());
    ASSERT_TRUE(thread);
    EXPECT_TRUE(thread->thread);
    ApplicationAttributes before;
    ASSERT_EQ(table.applicationAttributes(::getpid(), &before), 1);
    EXPECT_GE(before.threads, 2);
    // Resident bytes are statm's resident pages times the page size.
    std::ifstream statm("/proc/self/statm");
    uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    EXPECT_NEAR(static_cast<double>(before.mem), static_cast<double>(resident * page),
                static_cast<double>(8 << 20));
    ApplicationAttributes after;
    EXPECT_TRUE(test::waitUntil([&] {
        return table.applicationAttributes(::getpid(), &after) == 1 &&
               after.cputime >= before.cputime + 50;
    }));
    stop = true;
    busy.join();
    EXPECT_EQ(getApplicationAttributes(::getpid(), &after), 1);
}

TEST(ProcessTableTest, VanishedAndSystemPidsFailQuietly) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);  // reaped: the pid is gone
    testing::internal::CaptureStderr();
    ApplicationAttributes attributes;
    EXPECT_EQ(getApplicationAttributes(child, &attributes), 0);
    EXPECT_EQ(getParentPid(child), -1);
    EXPECT_FALSE(ProcessTable().stat(child));
    EXPECT_TRUE(ProcessTable().commandLine(child).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(getApplicationAttributes(1, &attributes), 0);
    EXPECT_EQ(getApplicationAttributes(0, &attributes), 0);
    EXPECT_EQ(getParentPid(1), -1);
    EXPECT_TRUE(ProcessTable("/nonexistent-root-for-vigil").pids().empty());
}

}  // namespace
}  // namespace vigil
