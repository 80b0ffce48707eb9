#include "platform/ProcessTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>

#include "platform/Procfs.h"
#include "platform/Read.h"

namespace vigil {

std::optional<std::string> readSmallFile(const std::string& path, size_t limit, int* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (error)
                *error = errno;
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() >= limit) {
            text.resize(limit);
            break;
        }
    }
    ::close(fd);
    return text;
}

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\n' || c == '\t';
}

// The blank-separated field of `text` that starts at or after `i` (empty when none is left); `i`
// moves past it.
std::string_view nextField(std::string_view text, size_t& i) {
    while (i < text.size() && isBlank(text[i]))
        ++i;
    const size_t start = i;
    while (i < text.size() && !isBlank(text[i]))
        ++i;
    return text.substr(start, i - start);
}

// The first fields.size() blank-separated fields of `text`; returns how many there were.
template <size_t N>
size_t firstFields(std::string_view text, std::array<std::string_view, N>& fields) {
    size_t count = 0;
    size_t i = 0;
    for (std::string_view field; count < N && !(field = nextField(text, i)).empty();)
        fields[count++] = field;
    return count;
}

}  // namespace

std::optional<ProcessStat> parseProcessStat(std::string_view text) {
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return std::nullopt;
    }
    ProcessStat stat;
    std::string_view pidField = text.substr(0, open);
    while (!pidField.empty() && pidField.back() == ' ')
        pidField.remove_suffix(1);
    // The kernel's pids are positive; anything else is not a process's stat file.
    if (!platform::parseNumber(pidField, stat.pid) || stat.pid <= 0)
        return std::nullopt;
    // After the name: state(3) ppid(4) ... flags(9) ... utime(14) stime(15) ... num_threads(20) ...
    // starttime(22) ... exit_signal(38); fields[0] is field 3. The first 20 are needed.
    std::array<std::string_view, 36> fields;
    const size_t count = firstFields(text.substr(close + 1), fields);
    if (count < 20 || fields[0].size() != 1)
        return std::nullopt;
    // A thread other than the leader was cloned with CLONE_THREAD: its exit signal is -1.
    stat.thread = count == fields.size() && fields[35] == "-1";
    stat.state = fields[0][0];
    if (!platform::parseNumber(fields[1], stat.ppid) ||
        !platform::parseNumber(fields[6], stat.flags) ||
        !platform::parseNumber(fields[11], stat.utime) ||
        !platform::parseNumber(fields[12], stat.stime) ||
        !platform::parseNumber(fields[17], stat.threads) ||
        !platform::parseNumber(fields[19], stat.startTime) || stat.ppid < 0) {
        return std::nullopt;
    }
    stat.comm.assign(text.substr(open + 1, close - open - 1));
    return stat;
}

std::optional<uint64_t> parseStatmResident(std::string_view text) {
    std::array<std::string_view, 2> fields;
    uint64_t resident = 0;
    if (firstFields(text, fields) < fields.size() || !platform::parseNumber(fields[1], resident))
        return std::nullopt;
    return resident;
}

std::optional<std::string> parseUnifiedCgroup(std::string_view text) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (line.starts_with("0::"))
            return std::string(line.substr(3));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return std::nullopt;
}

ProcessTable::ProcessTable(std::string root)
    : root_(platform::joinRoot(root, "/")),
      procfs_(root_),
      ticksPerSecond_(sysconf(_SC_CLK_TCK)),
      pageSize_(sysconf(_SC_PAGESIZE)) {
    if (ticksPerSecond_ <= 0)
        ticksPerSecond_ = 100;
    if (pageSize_ <= 0)
        pageSize_ = 4096;
}

std::string ProcessTable::procPath(pid_t pid, const char* file) const {
    std::string path = root_ + "proc/" + std::to_string(pid);
    if (file && *file) {
        path += '/';
        path += file;
    }
    return path;
}

std::optional<ProcessTable::TaskCounters> ProcessTable::taskCounters() {
    const auto load = procfs_.loadAverage();
    if (!load || load.value.lastPid == 0)
        return std::nullopt;
    return TaskCounters{load.value.total, load.value.lastPid};
}

std::vector<pid_t> ProcessTable::pids() const {
    std::vector<pid_t> pids;
    for (const ProcessEntry& entry : entries())
        pids.push_back(entry.pid);
    return pids;
}

std::vector<ProcessEntry> ProcessTable::entries() const {
    std::vector<ProcessEntry> entries;
    DIR* dir = ::opendir((root_ + "proc").c_str());
    if (!dir)
        return entries;
    while (const dirent* entry = ::readdir(dir)) {
        pid_t pid = 0;
        if (platform::parseNumber(std::string_view(entry->d_name), pid) && pid > 0)
            entries.push_back({pid, static_cast<uint64_t>(entry->d_ino)});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return entries;
}

std::optional<ProcessStat> ProcessTable::stat(pid_t pid) const {
    // Called for every process on each scan: no allocation but the name's (which fits the short
    // string buffer). The fields used lie well within the first 2 KiB.
    char path[PATH_MAX];
    const int length = std::snprintf(path, sizeof path, "%sproc/%d/stat", root_.c_str(), pid);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path)
        return std::nullopt;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char text[2048];
    size_t size = 0;
    while (size < sizeof text) {
        const ssize_t got = ::read(fd, text + size, sizeof text - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        size += static_cast<size_t>(got);
        // The kernel writes the line whole: its end spares the read that would return 0.
        if (text[size - 1] == '\n')
            break;
    }
    ::close(fd);
    return parseProcessStat(std::string_view(text, size));
}

std::optional<uint64_t> ProcessTable::residentBytes(pid_t pid) const {
    const auto text = readSmallFile(procPath(pid, "statm"), 1024);
    if (!text)
        return std::nullopt;
    const auto pages = parseStatmResident(*text);
    if (!pages)
        return std::nullopt;
    return *pages * static_cast<uint64_t>(pageSize_);
}

std::optional<uid_t> ProcessTable::owner(pid_t pid) const {
    struct stat info {};
    if (::stat(procPath(pid, nullptr).c_str(), &info) != 0)
        return std::nullopt;
    return info.st_uid;
}

std::vector<std::string> ProcessTable::commandLine(pid_t pid) const {
    std::vector<std::string> argv;
    const auto text = readSmallFile(procPath(pid, "cmdline"), 8192);
    if (!text)
        return argv;
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find('\0', start);
        if (end == std::string::npos)
            end = text->size();
        argv.push_back(text->substr(start, end - start));
        start = end + 1;
    }
    return argv;
}

std::optional<std::string> ProcessTable::cgroup(pid_t pid) const {
    const auto text = readSmallFile(procPath(pid, "cgroup"), 8192);
    if (!text)
        return std::nullopt;
    return parseUnifiedCgroup(*text);
}

int ProcessTable::applicationAttributes(pid_t pid, ApplicationAttributes* out) const {
    if (pid < 2 || out == nullptr)
        return 0;
    const auto stat = this->stat(pid);
    if (!stat)
        return 0;
    const auto resident = residentBytes(pid);
    if (!resident)
        return 0;
    out->cputime = static_cast<double>(stat->utime + stat->stime) * 1000.0 /
                   static_cast<double>(ticksPerSecond_);
    out->mem = *resident;
    out->threads = static_cast<int32_t>(std::clamp<int64_t>(stat->threads, 0, INT32_MAX));
    return 1;
}

pid_t ProcessTable::parentPid(pid_t pid) const {
    if (pid < 2)
        return -1;
    const auto stat = this->stat(pid);
    return stat ? stat->ppid : -1;
}

}  // namespace vigil

int getApplicationAttributes(pid_t pid, vigil::ApplicationAttributes* attributes) {
    static const vigil::ProcessTable table;
    return table.applicationAttributes(pid, attributes);
}

pid_t getParentPid(pid_t pid) {
    static const vigil::ProcessTable table;
    return table.parentPid(pid);
}
