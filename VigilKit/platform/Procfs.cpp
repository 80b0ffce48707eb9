#include "platform/Procfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace vigil::platform {

namespace {

// Calls f(line) for each line of the text.
template <typename F>
void forEachLine(std::string_view text, F&& f) {
    while (!text.empty()) {
        auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!f(line))
            return;
        if (nl == std::string_view::npos)
            return;
        text.remove_prefix(nl + 1);
    }
}

}  // namespace

std::optional<CpuTicks> parseCpuTicks(std::string_view text) {
    std::optional<CpuTicks> result;
    std::optional<std::uint64_t> forks;
    bool aggregateSeen = false;
    forEachLine(text, [&](std::string_view line) {
        std::string_view rest = line;
        const std::string_view key = nextWord(rest);
        if (key == "processes") {
            forks = parseU64(nextWord(rest));
            return !aggregateSeen;
        }
        if (key != "cpu" || aggregateSeen)
            return true;
        aggregateSeen = true;
        std::uint64_t v[8] = {};
        int n = 0;
        for (; n < 8; ++n) {
            auto word = nextWord(rest);
            if (word.empty())
                break;
            auto number = parseU64(word);
            if (!number)
                return false;  // junk in the line: not a usable record
            v[n] = *number;
        }
        if (n < 4)
            return false;  // user, nice, system, idle are always there
        result = CpuTicks{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], std::nullopt};
        return true;  // on to the "processes" line, further down
    });
    if (result)
        result->forks = forks;
    return result;
}

std::optional<std::int64_t> parseBootTime(std::string_view text) {
    std::optional<std::int64_t> result;
    forEachLine(text, [&](std::string_view line) {
        std::string_view rest = line;
        if (nextWord(rest) != "btime")
            return true;
        auto v = parseI64(nextWord(rest));
        if (v && *v > 0)
            result = *v;
        return false;
    });
    return result;
}

std::optional<LoadAverage> parseLoadAverage(std::string_view text) {
    LoadAverage load;
    auto one = parseDouble(nextWord(text));
    auto five = parseDouble(nextWord(text));
    auto fifteen = parseDouble(nextWord(text));
    if (!one || !five || !fifteen)
        return std::nullopt;
    load.one = *one;
    load.five = *five;
    load.fifteen = *fifteen;
    std::string_view tasks = nextWord(text);
    auto slash = tasks.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    auto running = parseU64(tasks.substr(0, slash));
    auto total = parseU64(tasks.substr(slash + 1));
    if (!running || !total || *total > UINT32_MAX || *running > *total)
        return std::nullopt;
    load.running = static_cast<std::uint32_t>(*running);
    load.total = static_cast<std::uint32_t>(*total);
    if (auto lastPid = parseU64(nextWord(text)); lastPid && *lastPid <= UINT32_MAX)
        load.lastPid = static_cast<std::uint32_t>(*lastPid);
    return load;
}

std::optional<std::string> parseCpuBrand(std::string_view text) {
    std::optional<std::string> modelName, hardware, processor;
    forEachLine(text, [&](std::string_view line) {
        auto colon = line.find(':');
        if (colon == std::string_view::npos)
            return true;
        std::string_view key = trim(line.substr(0, colon));
        std::string_view value = trim(line.substr(colon + 1));
        if (value.empty())
            return true;
        if (key == "model name" && !modelName) {
            modelName = std::string(value);
            return false;
        }
        if (key == "Hardware" && !hardware)
            hardware = std::string(value);
        if (key == "Processor" && !processor)
            processor = std::string(value);
        return true;
    });
    if (modelName)
        return modelName;
    if (hardware)
        return hardware;
    return processor;
}

MemInfo parseMemInfo(std::string_view text, int* malformed) {
    MemInfo info;
    struct Field {
        std::string_view key;
        std::optional<std::uint64_t> MemInfo::*member;
    };
    static const Field fields[] = {
        {"MemTotal", &MemInfo::memTotal},
        {"MemFree", &MemInfo::memFree},
        {"MemAvailable", &MemInfo::memAvailable},
        {"Buffers", &MemInfo::buffers},
        {"Cached", &MemInfo::cached},
        {"SwapCached", &MemInfo::swapCached},
        {"Active", &MemInfo::active},
        {"Inactive", &MemInfo::inactive},
        {"Unevictable", &MemInfo::unevictable},
        {"SwapTotal", &MemInfo::swapTotal},
        {"SwapFree", &MemInfo::swapFree},
        {"AnonPages", &MemInfo::anonPages},
        {"Shmem", &MemInfo::shmem},
        {"SReclaimable", &MemInfo::sReclaimable},
        {"SUnreclaim", &MemInfo::sUnreclaim},
        {"KernelStack", &MemInfo::kernelStack},
        {"PageTables", &MemInfo::pageTables},
        {"Zswap", &MemInfo::zswap},
    };
    int bad = 0;
    forEachLine(text, [&](std::string_view line) {
        auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            if (!trim(line).empty())
                ++bad;
            return true;
        }
        std::string_view key = line.substr(0, colon);
        for (const auto& field : fields) {
            if (field.key != key)
                continue;
            std::string_view rest = line.substr(colon + 1);
            auto number = parseU64(nextWord(rest));
            std::string_view unit = nextWord(rest);
            if (!number || !(unit == "kB" || unit.empty()) || !nextWord(rest).empty() ||
                *number > (UINT64_MAX >> 10)) {
                ++bad;
                break;
            }
            info.*field.member = unit.empty() ? *number : *number << 10;
            break;
        }
        return true;
    });
    if (malformed)
        *malformed = bad;
    return info;
}

VmStat parseVmStat(std::string_view text) {
    VmStat stat;
    forEachLine(text, [&](std::string_view line) {
        std::string_view rest = line;
        std::string_view key = nextWord(rest);
        std::optional<std::uint64_t> VmStat::*member = nullptr;
        if (key == "pgpgin")
            member = &VmStat::pgpgin;
        else if (key == "pgpgout")
            member = &VmStat::pgpgout;
        else if (key == "pgfault")
            member = &VmStat::pgfault;
        else if (key == "pswpin")
            member = &VmStat::pswpin;
        else if (key == "pswpout")
            member = &VmStat::pswpout;
        if (member) {
            auto v = parseU64(nextWord(rest));
            if (v)
                stat.*member = *v;
        }
        return true;
    });
    return stat;
}

Procfs::Procfs(std::string root)
    : root_(std::move(root)),
      stat_(path("/proc/stat")),
      loadavg_(path("/proc/loadavg")),
      meminfo_(path("/proc/meminfo")),
      vmstat_(path("/proc/vmstat")) {}

namespace {
// A getdents64 record (see getdents(2)); the name follows the fixed part.
struct DirectoryRecord {
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short length;
    unsigned char type;
};

// The records whose name is a number without leading zero: the processes.
std::uint32_t countProcessEntries(const char* data, std::size_t size) {
    std::uint32_t count = 0;
    std::size_t at = 0;
    while (at + sizeof(DirectoryRecord) <= size) {
        DirectoryRecord record;
        std::memcpy(&record, data + at, sizeof record);
        if (record.length == 0 || at + record.length > size)
            break;
        const char* name = data + at + offsetof(DirectoryRecord, type) + 1;
        const char* end = data + at + record.length;
        if (*name >= '1' && *name <= '9') {
            const char* c = name;
            while (c < end && *c >= '0' && *c <= '9')
                ++c;
            if (c < end && *c == '\0')
                ++count;
        }
        at += record.length;
    }
    return count;
}
}  // namespace

namespace {
template <typename T, typename Parse>
Read<T> readAndParse(KeptFile& file, std::string& buffer, Parse&& parse, const char* what) {
    std::string error;
    switch (file.readInto(buffer, &error)) {
        case Outcome::absent:
            return Read<T>::absent();
        case Outcome::failure:
            return Read<T>::failure(std::move(error));
        case Outcome::value:
            break;
    }
    std::optional<T> parsed = parse(std::string_view(buffer));
    if (!parsed)
        return Read<T>::failure(file.path() + ": " + what);
    return Read<T>::of(std::move(*parsed));
}
}  // namespace

Read<CpuTicks> Procfs::cpuTicks() const {
    return readAndParse<CpuTicks>(stat_, buffer_, parseCpuTicks,
                                  "no well-formed aggregate cpu line");
}

Read<std::int64_t> Procfs::bootTime() const {
    return readAndParse<std::int64_t>(stat_, buffer_, parseBootTime, "no well-formed btime line");
}

Read<LoadAverage> Procfs::loadAverage() const {
    return readAndParse<LoadAverage>(loadavg_, buffer_, parseLoadAverage,
                                     "malformed load averages");
}

Read<std::string> Procfs::cpuBrand() const {
    std::string error;
    std::string p = path("/proc/cpuinfo");
    switch (readFileInto(p, buffer_, &error)) {
        case Outcome::absent:
            return Read<std::string>::absent();
        case Outcome::failure:
            return Read<std::string>::failure(std::move(error));
        case Outcome::value:
            break;
    }
    auto brand = parseCpuBrand(buffer_);
    // A processor without a brand line is "not on this machine", not a failure.
    if (!brand)
        return Read<std::string>::absent();
    return Read<std::string>::of(std::move(*brand));
}

Read<MemInfo> Procfs::memInfo() const {
    return readAndParse<MemInfo>(
        meminfo_, buffer_,
        [](std::string_view text) -> std::optional<MemInfo> {
            int malformed = 0;
            MemInfo info = parseMemInfo(text, &malformed);
            if (!info.memTotal || *info.memTotal == 0 || !info.memFree)
                return std::nullopt;
            return info;
        },
        "no MemTotal or MemFree line");
}

Read<VmStat> Procfs::vmStat() const {
    return readAndParse<VmStat>(
        vmstat_, buffer_,
        [](std::string_view text) -> std::optional<VmStat> { return parseVmStat(text); },
        "malformed");
}

Read<std::uint32_t> Procfs::processCount() const {
    // Called on every processor sample: the entries are read in large batches into the reused
    // buffer and only their names are looked at.
    const std::string p = path("/proc");
    const int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return Read<std::uint32_t>::absent();
        return Read<std::uint32_t>::failure(p + ": " + std::strerror(errno));
    }
    constexpr std::size_t kBatch = 32 * 1024;
    if (buffer_.size() < kBatch)
        buffer_.resize(kBatch);
    std::uint32_t count = 0;
    for (;;) {
        const long got = ::syscall(SYS_getdents64, fd, buffer_.data(), buffer_.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const std::string error = p + ": " + std::strerror(errno);
            ::close(fd);
            return Read<std::uint32_t>::failure(error);
        }
        if (got == 0)
            break;
        count += countProcessEntries(buffer_.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return Read<std::uint32_t>::of(count);
}

namespace {
double clockSeconds(clockid_t clock) {
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0)
        return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
}  // namespace

double Procfs::awakeSeconds() {
    return clockSeconds(CLOCK_MONOTONIC);
}
double Procfs::sinceBootSeconds() {
    return clockSeconds(CLOCK_BOOTTIME);
}

}  // namespace vigil::platform
