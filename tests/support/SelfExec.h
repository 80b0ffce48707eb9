#pragma once

// Runs this test program again as a child process that does one job and exits, so tests can
// have real second processes (writers, crash victims) without a separate helper program.
//
// A test file registers a job with VIGIL_CHILD_JOB(name) { ... return exitCode; }. When the
// program starts with VIGIL_CHILD_JOB=<name> in its environment, the job runs before any test
// and the process exits with its code; otherwise nothing happens.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace vigil::test {

struct ChildResult {
    int status = -1;  // as from waitpid
    std::string out;
    std::string err;
    bool exitedWith(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

// Starts the child with the extra "NAME=value" entries. Returns its pid (or -1); the pipes of its
// standard output and error are returned when asked for, otherwise they go to /dev/null.
inline pid_t startSelf(const std::vector<std::string>& extraEnv, int* outFd = nullptr,
                       int* errFd = nullptr) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const auto& extra : extraEnv)
        env.push_back(extra);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if (outFd) {
        if (pipe2(outPipe, O_CLOEXEC) != 0)
            return -1;
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    if (errFd) {
        if (pipe2(errPipe, O_CLOEXEC) != 0)
            return -1;
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    char exe[] = "/proc/self/exe";
    char* argv[] = {exe, nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, exe, &actions, nullptr, argv, envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (outFd) {
        close(outPipe[1]);
        *outFd = outPipe[0];
    }
    if (errFd) {
        close(errPipe[1]);
        *errFd = errPipe[0];
    }
    return pid;
}

// Runs the child to its end and collects what it wrote.
inline ChildResult runSelf(const std::vector<std::string>& extraEnv) {
    ChildResult result;
    int outFd = -1, errFd = -1;
    const pid_t pid = startSelf(extraEnv, &outFd, &errFd);
    if (pid < 0)
        return result;
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    waitpid(pid, &result.status, 0);
    return result;
}

inline int runChildJob(const char* name, int (*job)()) {
    const char* wanted = std::getenv("VIGIL_CHILD_JOB");
    if (!wanted || std::strcmp(wanted, name) != 0)
        return 0;
    const int code = job();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(code);
}

inline std::string childEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace vigil::test

#define VIGIL_CHILD_JOB(name)                                     \
    static int vigilChildJob_##name();                            \
    [[maybe_unused]] static const int vigilChildHook_##name =     \
        ::vigil::test::runChildJob(#name, &vigilChildJob_##name); \
    static int vigilChildJob_##name()
