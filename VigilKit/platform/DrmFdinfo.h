#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vigil::platform {

// The usage figures a DRM driver gives for one open client in /proc/<pid>/fdinfo/<fd> (the
// kernel's "DRM client usage stats": drm-driver, drm-pdev, drm-client-id, drm-engine-<name> in
// ns, drm-cycles-<name> with drm-total-cycles-<name>, drm-engine-capacity-<name>, memory per
// region in bytes, KiB or MiB).
struct DrmClient {
    std::string driver;
    std::string pdev;  // "0000:03:00.0"; empty where the driver does not say
    std::optional<std::uint64_t> clientId;
    std::map<std::string, std::uint64_t> engineNs;
    std::map<std::string, std::uint64_t> cycles;
    std::map<std::string, std::uint64_t> totalCycles;
    std::map<std::string, std::uint64_t> capacity;  // engines of a kind; 1 where not given
    std::uint64_t memoryBytes = 0;  // resident in every region (drm-resident-*, else drm-memory-*)
};

// Parses one fdinfo text; nullopt when it is not a DRM client's (no drm-driver line).
std::optional<DrmClient> parseDrmFdinfo(std::string_view text);

// The DRM clients of the current user's processes at one moment, on the monotonic clock.
struct DrmSample {
    std::int64_t timeNs = 0;
    struct Entry {
        pid_t pid = 0;
        DrmClient client;
    };
    std::vector<Entry> clients;  // one per (pdev, client id): a client shared by fds counts once
};

// A device's or a process's share of the GPU between two samples: the busiest engine's share
// (0-100; nullopt when none of its clients was there at the earlier one), and the memory it
// holds at the later one.
struct DrmUsage {
    std::optional<double> busyPercent;
    std::uint64_t memoryBytes = 0;
};
struct DrmUsageReport {
    std::map<std::string, DrmUsage> byDevice;       // by drm-pdev
    std::unordered_map<pid_t, DrmUsage> byProcess;  // only processes that hold DRM clients
};
DrmUsageReport compareDrmSamples(const DrmSample& before, const DrmSample& after);

// Reads the DRM clients of the user's processes under a root ("/": the machine's /proc). Which
// processes hold DRM files is learnt by reading their fd links, which costs far more than the
// fdinfo itself: it is done for a process once when it first shows. Every `recheckEvery` samples
// (a process may open a DRM file later) the links are read again of the processes whose number of
// open files changed since (the size of /proc/<pid>/fd), and every 16th such time of all of them
// (a file closed and another opened leave the number as it was). One caller at a time.
class DrmClientScan {
  public:
    explicit DrmClientScan(std::string root = "/", uid_t user = ::getuid(), int recheckEvery = 64);
    DrmSample sample();

  private:
    struct Holder {
        std::vector<int> drmFds;      // empty: checked, holds none
        std::int64_t openFiles = -1;  // /proc/<pid>/fd's size then (0 where the kernel gives none)
    };
    std::vector<int> findDrmFds(pid_t pid) const;
    // What a re-check learns of a process of the user (`procFd`: the /proc folder): its fd links
    // read again unless `known` had the same number of open files and `everyLink` is false.
    Holder recheck(int procFd, pid_t pid, Holder* known, bool everyLink) const;

    std::string root_;
    uid_t user_;
    int recheckEvery_;
    int samplesUntilRecheck_ = 0;
    int rechecksUntilEveryLink_ = 0;
    std::unordered_map<pid_t, Holder> holders_;
};

}  // namespace vigil::platform
