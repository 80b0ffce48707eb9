#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vigil {

// A process that keeps a mounted file system busy.
struct ProcessUsingMount {
    pid_t pid = 0;
    std::string name;  // the command name (/proc/PID/comm)

    // "name (pid)".
    std::string text() const;
};

// The processes that use the file system with device number makedev(major, minor), found as fuser
// -m finds them: a working folder, root folder, program, open file or mapped file on it
// (<root>/proc/PID/cwd, root, exe, fd/*, maps). Processes that cannot be examined are left out. In
// pid order.
std::vector<ProcessUsingMount> processesUsingMount(unsigned major, unsigned minor,
                                                   const std::string& root = "/");

// "a (1), b (2) and 3 more" for a message line; at most `shown` names.
std::string describeProcesses(const std::vector<ProcessUsingMount>& processes, size_t shown = 3);

}  // namespace vigil
