// Each collector against a raw read of the same files (open, read, close; readdir for folders):
// a collector should cost at most twice its raw read.
//
// Release build on the 2-core development VM (CPU time per call):
//   processor     raw  94 us    getCPUData 35 us               (0.37x: the /proc walk that counts
//                                                               processes runs only when a task
//                                                               was created or reaped; 83 us when
//                                                               it ran every sample)
//   memory        raw  95 us    getMEMData 98 us               (1.04x)
//   graphics      raw  55 us    getActiveGPUDeviceID 54 us     (0.99x, two-gpu fixture)
//   disk          raw 121 us    getDiskData 188 us             (1.56x)
//   network       raw  70 us    getNetworkData 33 us           (0.48x: between link notices only
//                                                               net/dev is read; 117 us with a
//                                                               link dump per sample, 224 us before
//                                                               the links kept their socket)
//   battery       raw 187 us    getBatteryData 211 us          (1.13x, discharging fixture)
//   applications  raw 0.89 ms   workspace poll 0.05 ms         (0.06x, 75 processes, 64 of them
//                                                               kernel threads, learnt once; the
//                                                               /proc walk only when a task came
//                                                               or went; 0.88 ms when every
//                                                               process was read again)
//   public address parse of one answer 1.1 us (a byte-wise copy: 0.09 us)
//   GPU figures   raw 114 us    GPU::update 122 us             (1.07x, AMD laptop fixture)
//   DRM clients   raw  40 us    scan and compare 64 us         (1.61x, four recorded processes)
//   DRM clients, this machine (132 processes, run as root so all are the user's):
//                 raw /proc list 36 us   scan 47 us            (1.33x between fd re-checks)
//                                        scan 56 us            (1.58x with the re-check every 64
//                                                               samples, as the widget does: a
//                                                               stat of each fd folder, the links
//                                                               read only where the number of
//                                                               open files changed, and every
//                                                               process's at every 16th re-check;
//                                                               3.0x when every re-check read
//                                                               every link)
//   sensors       raw 629 us    SensorLibrary::read 627 us    (1.00x, sensors-desktop fixture over
//                                                               /sys: three chips, 15 sensors; the
//                                                               raw read takes every hwmon file)

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "collectors/BatteryData.h"
#include "collectors/CPUData.h"
#include "collectors/DiskData.h"
#include "collectors/GPUData.h"
#include "collectors/MemoryData.h"
#include "collectors/NetworkData.h"
#include "collectors/PublicAddress.h"
#include "platform/DeviceRegistry.h"
#include "platform/DrmFdinfo.h"
#include "platform/PowerSupply.h"
#include "platform/RunningApplications.h"
#include "platform/Sensors.h"
#include "system/GPU.h"

namespace {

char buffer[1 << 16];

std::size_t rawRead(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::size_t total = 0;
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        total += static_cast<std::size_t>(n);
    ::close(fd);
    return total;
}

std::size_t rawList(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return 0;
    std::size_t count = 0;
    while (::readdir(dir))
        ++count;
    ::closedir(dir);
    return count;
}

// /proc/stat, /proc/loadavg and the /proc folder: what one processor sample reads.
void BM_CPU_RawRead(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(rawRead("/proc/stat") + rawRead("/proc/loadavg") +
                                 rawList("/proc"));
    }
}
BENCHMARK(BM_CPU_RawRead);

void BM_CPU_getCPUData(benchmark::State& state) {
    CPUData data{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(getCPUData(&data));
    }
}
BENCHMARK(BM_CPU_getCPUData);

// /proc/meminfo, /proc/vmstat and the /sys/block folder: what one memory sample reads.
void BM_Memory_RawRead(benchmark::State& state) {
    for (auto _ : state) {
        std::size_t n = rawRead("/proc/meminfo") + rawRead("/proc/vmstat") + rawList("/sys/block/");
        for (int i = 0; i < 1; ++i)
            n += rawRead("/sys/block/zram0/mm_stat");
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_Memory_RawRead);

void BM_Memory_getMEMData(benchmark::State& state) {
    MEMData data{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(getMEMData(&data));
    }
}
BENCHMARK(BM_Memory_getMEMData);

// The graphics check on the two-GPU fixture: the DRM folder, the connected card's status and
// uevent, its PCI device folder and its device file.
const std::string kTwoGpu = std::string(VIGIL_FIXTURES_DIR) + "/two-gpu";

void BM_GPU_RawRead(benchmark::State& state) {
    for (auto _ : state) {
        std::size_t n = rawList(kTwoGpu + "/sys/class/drm/") +
                        rawRead(kTwoGpu + "/sys/class/drm/card0-eDP-1/status") +
                        rawRead(kTwoGpu + "/sys/class/drm/card0/device/uevent") +
                        rawList(kTwoGpu + "/sys/bus/pci/devices/0000:00:02.0") +
                        rawRead(kTwoGpu + "/sys/bus/pci/devices/0000:00:02.0/device");
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_GPU_RawRead);

void BM_GPU_getActiveGPUDeviceID(benchmark::State& state) {
    vigil::platform::DeviceRegistry registry(kTwoGpu);
    for (auto _ : state) {
        benchmark::DoNotOptimize(vigil::getActiveGPUDeviceID(registry));
    }
}
BENCHMARK(BM_GPU_getActiveGPUDeviceID);

// The GPU figures on the AMD laptop fixture: what picking the device in use reads (the DRM
// folder, the outputs' status, the card's uevent), the APU's amdgpu files (busy share, VRAM,
// hwmon temperature and power) and both devices' uevent. The NVIDIA card's library is absent.
const std::string kAmdLaptop = std::string(VIGIL_FIXTURES_DIR) + "/hybrid-amd-nvidia";

void BM_GPUUsage_RawRead(benchmark::State& state) {
    const std::string apu = kAmdLaptop + "/sys/bus/pci/devices/0000:05:00.0/";
    const std::string drm = kAmdLaptop + "/sys/class/drm/";
    for (auto _ : state) {
        std::size_t n = rawList(drm) + rawRead(drm + "card1-eDP-1/status") +
                        rawRead(drm + "card1-DP-1/status") +
                        rawRead(drm + "card0-HDMI-A-1/status") +
                        rawRead(drm + "card1/device/uevent") + rawRead(apu + "device") +
                        rawRead(apu + "gpu_busy_percent") + rawRead(apu + "mem_info_vram_used") +
                        rawRead(apu + "mem_info_vram_total") + rawList(apu + "hwmon") +
                        rawRead(apu + "hwmon/hwmon4/temp1_input") +
                        rawRead(apu + "hwmon/hwmon4/power1_average") +
                        rawRead(kAmdLaptop + "/sys/bus/pci/devices/0000:01:00.0/uevent") +
                        rawList(kAmdLaptop + "/proc");
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_GPUUsage_RawRead);

void BM_GPUUsage_update(benchmark::State& state) {
    vigil::GPU gpu(kAmdLaptop);
    for (auto _ : state)
        gpu.update();
}
BENCHMARK(BM_GPUUsage_update);

// The DRM clients of the recorded processes: the /proc folder and the fdinfo of each DRM fd.
const std::string kDrmClients = std::string(VIGIL_FIXTURES_DIR) + "/drm-clients/first";

void BM_DrmClients_RawRead(benchmark::State& state) {
    const std::string proc = kDrmClients + "/proc/";
    for (auto _ : state) {
        std::size_t n = rawList(proc) + rawRead(proc + "2101/fdinfo/9") +
                        rawRead(proc + "2207/fdinfo/11") + rawRead(proc + "2315/fdinfo/14") +
                        rawRead(proc + "2315/fdinfo/15");
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_DrmClients_RawRead);

void BM_DrmClients_scanAndCompare(benchmark::State& state) {
    vigil::platform::DrmClientScan scan(kDrmClients);
    auto before = scan.sample();
    for (auto _ : state) {
        auto after = scan.sample();
        benchmark::DoNotOptimize(vigil::platform::compareDrmSamples(before, after));
        before = std::move(after);
    }
}
BENCHMARK(BM_DrmClients_scanAndCompare);

// This machine's /proc: the scan between its seldom fd checks costs a walk of the folder.
void BM_DrmClients_ThisMachineRawList(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(rawList("/proc"));
}
BENCHMARK(BM_DrmClients_ThisMachineRawList);

void BM_DrmClients_ThisMachineScan(benchmark::State& state) {
    vigil::platform::DrmClientScan scan("/", ::getuid(), static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(scan.sample());
}
// The fd links of every process read again every 64 samples (the default), and never.
BENCHMARK(BM_DrmClients_ThisMachineScan)->Arg(64)->Arg(1 << 30);

// The mount table, the disk counters and the size of the root file system: what one disk pass
// reads at least.
void BM_Disk_RawRead(benchmark::State& state) {
    for (auto _ : state) {
        struct statvfs info {};
        std::size_t n = rawRead("/proc/self/mountinfo") + rawRead("/proc/diskstats") +
                        rawList("/sys/block/") + static_cast<std::size_t>(::statvfs("/", &info));
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_Disk_RawRead);

void BM_Disk_getDiskData(benchmark::State& state) {
    for (auto _ : state) {
        int volumes = 0;
        getDiskData([&](int64_t, DiskData*) { ++volumes; });
        benchmark::DoNotOptimize(volumes);
    }
}
BENCHMARK(BM_Disk_getDiskData);

// The link counters, the routes and the IPv6 addresses as text: what one network sample needs.
void BM_Network_RawRead(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(rawRead("/proc/net/dev") + rawRead("/proc/net/route") +
                                 rawRead("/proc/net/if_inet6"));
    }
}
BENCHMARK(BM_Network_RawRead);

void BM_Network_getNetworkData(benchmark::State& state) {
    for (auto _ : state) {
        int links = 0;
        getNetworkData([&](int64_t, const char*, const NetworkData*) { ++links; });
        benchmark::DoNotOptimize(links);
    }
}
BENCHMARK(BM_Network_getNetworkData);

// The battery of the discharging fixture: the power-supply folder and each supply's attributes.
const std::string kDischarging = std::string(VIGIL_FIXTURES_DIR) + "/power-discharging";

void BM_Battery_RawRead(benchmark::State& state) {
    const std::string base = kDischarging + "/sys/class/power_supply/";
    for (auto _ : state) {
        std::size_t n = rawList(base);
        for (const char* supply : {"AC", "BAT0"}) {
            DIR* dir = ::opendir((base + supply).c_str());
            if (!dir)
                continue;
            while (const dirent* entry = ::readdir(dir)) {
                if (entry->d_name[0] != '.')
                    n += rawRead(base + supply + "/" + entry->d_name);
            }
            ::closedir(dir);
        }
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_Battery_RawRead);

void BM_Battery_getBatteryData(benchmark::State& state) {
    const vigil::PowerSupply supplies(kDischarging);
    for (auto _ : state) {
        int batteries = 0;
        getBatteryData([&](const BatteryData*) { ++batteries; }, supplies);
        benchmark::DoNotOptimize(batteries);
    }
}
BENCHMARK(BM_Battery_getBatteryData);

// The process table: the /proc folder and every process's stat line, which a scan of the running
// applications must read at least.
void BM_Applications_RawRead(benchmark::State& state) {
    for (auto _ : state) {
        std::size_t n = 0;
        DIR* dir = ::opendir("/proc");
        if (!dir)
            continue;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9')
                n += rawRead(std::string("/proc/") + entry->d_name + "/stat");
        }
        ::closedir(dir);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_Applications_RawRead);

// One poll of the workspace in the steady state (the processes were seen before).
void BM_Applications_workspacePoll(benchmark::State& state) {
    vigil::platform::RunningApplications workspace;
    workspace.runningApplications();
    for (auto _ : state) {
        workspace.poll();
        benchmark::DoNotOptimize(workspace.runningApplications().size());
    }
}
BENCHMARK(BM_Applications_workspacePoll);

// An echo server's answer with its headers: copying it is the reference for parsing it.
constexpr char kAnswer[] =
    "HTTP/1.1 200 OK\r\nServer: echo\r\nContent-Type: text/plain\r\nContent-Length: 19\r\n"
    "Connection: close\r\n\r\nIP: 203.0.113.7\r\nPort: 51234\r\n";

void BM_PublicAddress_RawCopy(benchmark::State& state) {
    char copy[sizeof kAnswer];
    for (auto _ : state) {
        for (std::size_t i = 0; i < sizeof kAnswer - 1; ++i) {
            copy[i] = kAnswer[i];
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_PublicAddress_RawCopy);

void BM_PublicAddress_parse(benchmark::State& state) {
    for (auto _ : state) {
        PublicAddressParser parser;
        for (std::size_t i = 0; i < sizeof kAnswer - 1 && !parser.done; ++i)
            parser.feed(static_cast<unsigned char>(kAnswer[i]));
        parser.finish(true);
        benchmark::DoNotOptimize(parser.address);
    }
}
BENCHMARK(BM_PublicAddress_parse);

// The sensors of the desktop fixture (coretemp, a board chip, an NVMe drive), mounted over /sys in
// a mount namespace of this process's own (libsensors reads only the real /sys). Root only.
bool desktopSensorsMounted() {
    static const bool mounted = [] {
        if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return false;
        const std::string root = std::string(VIGIL_FIXTURES_DIR) + "/sensors-desktop";
        vigil::platform::SensorLibrary::setConfiguration(root + "/etc/sensors3.conf");
        return vigil::platform::mountSysTree(root).empty();
    }();
    return mounted;
}

void BM_Sensors_RawRead(benchmark::State& state) {
    if (!desktopSensorsMounted()) {
        state.SkipWithError("needs root for a mount namespace");
        return;
    }
    const std::string base = "/sys/class/hwmon/";
    for (auto _ : state) {
        std::size_t n = 0;
        DIR* chips = ::opendir(base.c_str());
        while (const dirent* chip = chips ? ::readdir(chips) : nullptr) {
            if (chip->d_name[0] == '.')
                continue;
            const std::string folder = base + chip->d_name + "/";
            DIR* dir = ::opendir(folder.c_str());
            while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
                if (entry->d_type == DT_REG)
                    n += rawRead(folder + entry->d_name);
            }
            if (dir)
                ::closedir(dir);
        }
        if (chips)
            ::closedir(chips);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_Sensors_RawRead);

void BM_Sensors_read(benchmark::State& state) {
    if (!desktopSensorsMounted()) {
        state.SkipWithError("needs root for a mount namespace");
        return;
    }
    for (auto _ : state) {
        auto chips = vigil::platform::SensorLibrary::read();
        benchmark::DoNotOptimize(chips);
    }
}
BENCHMARK(BM_Sensors_read);

}  // namespace
