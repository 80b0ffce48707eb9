#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "platform/Procfs.h"
#include "platform/Sysfs.h"

// One processor-load sample: percentages of the ticks since the previous sample, and the task and
// thread counts of the machine.
struct CPUData {
    double user;
    double system;
    double idle;
    std::uint32_t processes;
    std::uint32_t threads;
};

// The host's basic facts, in the kernel's order.
struct host_basic_info {
    std::int32_t max_cpus;
    std::int32_t avail_cpus;
    std::uint32_t memory_size;
    std::int32_t cpu_type;
    std::int32_t cpu_subtype;
    std::int32_t cpu_threadtype;
    std::int32_t physical_cpu;
    std::int32_t physical_cpu_max;
    std::int32_t logical_cpu;
    std::int32_t logical_cpu_max;
    std::uint64_t max_mem;
};

// Fills the record from the live machine; always returns 1. Not reentrant: one caller at a time
// (the processor task), as the previous tick counters are shared.
int getCPUData(CPUData* data);
// Calls the callback with the host's facts; does not call it when they cannot be read.
void getHostInfo(const std::function<void(host_basic_info*)>& callback);
// The cleaned processor brand.
std::string getCPUBrand();
// Boot time in seconds since the epoch; 0 when unknown.
std::int64_t getboottime();

namespace vigil {

// The four cumulative tick counters of the load computation.
struct CPUTicks {
    std::uint64_t user = 0, system = 0, idle = 0, nice = 0;
};
// user (guest included), nice, system + irq + softirq + steal, idle + iowait.
CPUTicks toCPUTicks(const platform::CpuTicks& ticks);

// The percentages between two counter sets. A counter that went down is a 32-bit wrap when both
// values fit in 32 bits and the wrapped difference is small; otherwise a reset, which makes the
// whole sample 0 / 0 / 0 (`reset` is then set).
struct CPULoad {
    double user = 0, system = 0, idle = 0;
};
CPULoad deriveCPULoad(const CPUTicks& previous, const CPUTicks& current, bool* reset = nullptr);

// Removes "(R)", "(TM)", "@ " and "CPU " (in that order), collapses runs of blanks and trims.
// The raw text is first cut to 64 bytes at a UTF-8 boundary.
std::string cleanCPUBrand(std::string_view raw);

// The processor collector over a root directory; getCPUData and friends use one over "/".
class CPUCollector {
  public:
    explicit CPUCollector(std::string root = "/");

    int data(CPUData* data);
    std::optional<host_basic_info> hostInfo() const;
    std::string brand() const;
    std::int64_t bootTime() const;
    // The 1, 5 and 15 minute load averages; zeros when unknown.
    std::tuple<double, double, double> loadavg() const;
    // The load averages read with the last data(); zeros before it or when they were unknown.
    std::tuple<double, double, double> sampledLoadAverage() const;
    // The zones and their trip points are listed again every kZoneListSeconds (and when a zone
    // stops answering); their temperatures are read on every call.
    platform::ThermalState thermalState() const;
    static constexpr double kZoneListSeconds = 30;

    const std::string& root() const { return root_; }
    // The /proc walk that counts processes is skipped while no task was created or reaped since
    // the last one, but done at least this often.
    static constexpr std::chrono::seconds kProcessRecount{30};
    // From this many processes on, the count is walked again no sooner than this long per
    // process after the last walk (up to kProcessRecount), whatever tasks came or went.
    static constexpr std::uint32_t kManyProcesses = 1000;
    static constexpr std::chrono::milliseconds kRecountPerProcess{6};

  private:
    static std::chrono::steady_clock::duration recountSpacing(std::uint32_t processes);
    platform::Read<std::uint32_t> countProcesses(std::optional<std::uint64_t> forks,
                                                 const platform::Read<platform::LoadAverage>& load);

    std::string root_;
    mutable std::mutex mutex_;  // guards the readers' buffers and the previous counters
    platform::Procfs procfs_;
    platform::Sysfs sysfs_;
    CPUTicks previous_;
    std::tuple<double, double, double> sampledLoad_{0, 0, 0};
    // The last walk's count, and the fork count and thread total read just before it.
    struct CountedProcesses {
        std::uint64_t forks = 0;
        std::uint32_t threads = 0;
        std::uint32_t processes = 0;
        std::chrono::steady_clock::time_point at;
    };
    std::optional<CountedProcesses> counted_;
    mutable std::optional<std::vector<platform::ThermalZone>> zones_;
    mutable std::chrono::steady_clock::time_point zonesListed_;
};

CPUCollector& sharedCPUCollector();

}  // namespace vigil
