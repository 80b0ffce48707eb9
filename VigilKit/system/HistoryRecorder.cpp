#include "system/HistoryRecorder.h"

#include <algorithm>

#include "history/History.h"
#include "runtime/Timer.h"
#include "system/Applications.h"
#include "system/Battery.h"
#include "system/CPU.h"
#include "system/Disk.h"
#include "system/GPU.h"
#include "system/Memory.h"
#include "system/Network.h"
#include "system/Sensors.h"

namespace vigil {

namespace {

constexpr double kMinuteSeconds = 60;
constexpr std::size_t kTopApplications = 5;

// The five applications with the most processor share (or memory), most first.
std::vector<HistoryApp> topFive(std::vector<Applications::Process> processes, bool byCpu) {
    const auto measure = [byCpu](const Applications::Process& p) {
        return byCpu ? p.cpu : double(p.mem);
    };
    const std::size_t n = std::min(kTopApplications, processes.size());
    std::partial_sort(processes.begin(), processes.begin() + long(n), processes.end(),
                      [&](const auto& a, const auto& b) { return measure(a) > measure(b); });
    std::vector<HistoryApp> top;
    for (std::size_t i = 0; i < n; ++i)
        top.push_back({processes[i].name(), measure(processes[i])});
    return top;
}

}  // namespace

HistoryRecorder::HistoryRecorder(System& system, History& history)
    : system_(system), history_(history) {
    system_.setSampleObserver([this](const SystemResource& resource) { sampled(resource); });
    minuteTimer_ =
        std::make_unique<Timer>(kMinuteSeconds, /*background=*/true, [this] { sampleResting(); });
    minuteTimer_->start();
}

HistoryRecorder::~HistoryRecorder() {
    system_.setSampleObserver(nullptr);
    minuteTimer_.reset();
}

std::string HistoryRecorder::volumeSeries(const std::string& mountPoint, const char* figure) {
    return "volume:" + mountPoint + "." + figure;
}

std::string HistoryRecorder::linkSeries(const std::string& name, const std::string& mac,
                                        const char* figure) {
    return "net:" + name + "/" + mac + "." + figure;
}

void HistoryRecorder::sampleResting() {
    if (!history_.recording())
        return;  // nothing would be kept
    for (const auto& task : system_.tasks()) {
        const auto type = task->resource().type();
        const bool cheap = type == SystemResourceType::disk || type == SystemResourceType::app;
        if (cheap && task->delayed() && task->status() != Timer::Status::started)
            task->sampleNow();
    }
}

void HistoryRecorder::sampled(const SystemResource& resource) {
    if (!history_.recording())
        return;
    switch (resource.type()) {
        case SystemResourceType::cpu:
            recordCPU(static_cast<const CPU&>(resource));
            if (const auto& battery = system_.resources().battery)
                recordBattery(*battery);
            break;
        case SystemResourceType::mem:
            recordMemory(static_cast<const Memory&>(resource));
            break;
        case SystemResourceType::disk:
            recordDisk(static_cast<const Disk&>(resource));
            break;
        case SystemResourceType::net:
            recordNetwork(static_cast<const Network&>(resource));
            break;
        case SystemResourceType::sensors:
            recordSensors(static_cast<const Sensors&>(resource));
            break;
        case SystemResourceType::gpu:
            recordGPU(static_cast<const GPU&>(resource));
            break;
        case SystemResourceType::app:
            recordApplications(static_cast<const Applications&>(resource));
            break;
        case SystemResourceType::battery:
            recordBattery(static_cast<const Battery&>(resource));
            break;
    }
}

void HistoryRecorder::recordCPU(const CPU& cpu) {
    const auto sample = cpu.sample();
    const std::int64_t now = history_.now();
    history_.record("cpu.busy", now, sample->user + sample->sys);
    history_.record("cpu.user", now, sample->user);
    history_.record("cpu.system", now, sample->sys);
    history_.record("cpu.load1", now, sample->load1);
    history_.record("cpu.load5", now, sample->load5);
    history_.record("cpu.load15", now, sample->load15);
}

void HistoryRecorder::recordMemory(const Memory& memory) {
    const auto sample = memory.sample();
    if (sample->total() == 0)
        return;
    const std::int64_t now = history_.now();
    history_.record("mem.usage", now, sample->usage());
    history_.record("mem.wired", now, double(sample->wired));
    history_.record("mem.active", now, double(sample->active));
    history_.record("mem.compressed", now, double(sample->compressed));
    history_.record("mem.app", now, double(sample->appMemory));
    history_.record("mem.cached", now, double(sample->cachedFiles));
    history_.record("mem.swap", now, double(std::get<1>(memory.swap())));
}

void HistoryRecorder::recordDisk(const Disk& disk) {
    const std::int64_t now = history_.now();
    for (const auto& [path, volume] : disk.volumes()) {
        if (volume.stale)
            continue;  // its figures are the last ones read, not this moment's
        history_.record(volumeSeries(path, "used"), now, volume.usagePercent());
        history_.record(volumeSeries(path, "read"), now, volume.rbytesps);
        history_.record(volumeSeries(path, "write"), now, volume.wbytesps);
    }
}

void HistoryRecorder::recordNetwork(const Network& network) {
    const std::int64_t now = history_.now();
    double up = 0, down = 0;
    for (const auto& [name, link] : network.interfaces()) {
        history_.record(linkSeries(name, link.mac, "up"), now, link.obytesps);
        history_.record(linkSeries(name, link.mac, "down"), now, link.ibytesps);
        up += link.obytesps;
        down += link.ibytesps;
    }
    history_.record("net.total.up", now, up);
    history_.record("net.total.down", now, down);
}

void HistoryRecorder::recordBattery(const Battery& battery) {
    const auto state = battery.state();
    if (!state->hasBattery)
        return;
    const std::int64_t now = history_.now();
    history_.record("battery.charge", now, double(state->percent));
    if (state->voltage && state->current) {
        // mV x mA; the sign says whether it charges.
        history_.record("battery.power", now,
                        double(*state->voltage) * double(*state->current) / 1e6);
    }
}

void HistoryRecorder::recordSensors(const Sensors& sensors) {
    if (const auto cpu = sensors.cpuTemperature())
        history_.record("sensors.cpu", cpu->celsius);
}

void HistoryRecorder::recordGPU(const GPU& gpu) {
    const std::int64_t now = history_.now();
    for (const auto& usage : gpu.usage()) {
        if (usage.busyPercent)
            history_.record("gpu:" + usage.pciAddress + ".busy", now, *usage.busyPercent);
    }
}

// The applications of the minute: the first sample in each minute stands for it.
void HistoryRecorder::recordApplications(const Applications& apps) {
    const std::int64_t now = history_.now();
    const std::int64_t minute = now / history::kMinuteMs;
    if (topMinute_.exchange(minute) == minute)
        return;
    const auto processes = apps.processes();
    history_.recordTop(now, "cpu", topFive(processes, true));
    history_.recordTop(now, "mem", topFive(processes, false));
}

}  // namespace vigil
