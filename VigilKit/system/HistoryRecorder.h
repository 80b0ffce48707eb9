#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "system/System.h"

namespace vigil {

class History;
class Timer;
class CPU;
class Memory;
class Disk;
class Network;
class Battery;
class Sensors;
class GPU;
class Applications;

// Feeds the history from the resources as they are sampled: each sample a task takes is
// recorded on the sampling thread (record() only queues it). Series are named by what stays the
// same across restarts and replugging:
//   cpu.busy, cpu.user, cpu.system, cpu.load1/5/15          percent; the kernel's averages
//   mem.usage (percent), mem.wired/active/compressed/app/cached/swap      bytes
//   volume:<mount point>.used (percent), .read, .write      bytes per second
//   net:<link name>/<MAC>.up, .down; net.total.up, .down    bytes per second
//   battery.charge (percent), battery.power (watts)          recorded with the processor
//   sensors.cpu (°C); gpu:<PCI address>.busy (percent)
// and once a minute the five applications that used the most processor and memory.
//
// The delayed resources that only sample while their view shows (volumes, applications) are
// sampled once a minute while they rest, so their history has no holes: one statvfs per volume
// and one /proc read per application a minute.
class HistoryRecorder {
  public:
    HistoryRecorder(System& system, History& history);
    ~HistoryRecorder();
    HistoryRecorder(const HistoryRecorder&) = delete;
    HistoryRecorder& operator=(const HistoryRecorder&) = delete;

    // Records what the resource's latest sample holds.
    void sampled(const SystemResource& resource);
    // Samples the resting delayed resources (the minute timer calls it).
    void sampleResting();

    static std::string volumeSeries(const std::string& mountPoint, const char* figure);
    static std::string linkSeries(const std::string& name, const std::string& mac,
                                  const char* figure);

  private:
    void recordCPU(const CPU& cpu);
    void recordMemory(const Memory& memory);
    void recordDisk(const Disk& disk);
    void recordNetwork(const Network& network);
    void recordBattery(const Battery& battery);
    void recordSensors(const Sensors& sensors);
    void recordGPU(const GPU& gpu);
    void recordApplications(const Applications& apps);

    System& system_;
    History& history_;
    std::atomic<std::int64_t> topMinute_{-1};
    std::unique_ptr<Timer> minuteTimer_;
};

}  // namespace vigil
