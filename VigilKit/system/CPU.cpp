#include "system/CPU.h"

#include <time.h>

#include <cmath>

#include "platform/Procfs.h"

namespace vigil {

CPU::CPU(std::string root) {
    if (root != "/")
        own_ = std::make_unique<CPUCollector>(root);
    auto store = [this](host_basic_info* info) {
        physicalCores_ = info->physical_cpu_max;
        activePhysicalCores_ = info->physical_cpu;
        logicalCores_ = info->logical_cpu_max;
        activeLogicalCores_ = info->logical_cpu;
    };
    if (own_) {
        if (auto info = own_->hostInfo())
            store(&*info);
        bootTime_ = own_->bootTime();
    } else {
        getHostInfo(store);
        bootTime_ = getboottime();
    }
}

CPUCollector& CPU::collector() const {
    return own_ ? *own_ : sharedCPUCollector();
}

void CPU::update() {
    CPUData data{0, 0, 0, 0, 0};
    int result = own_ ? own_->data(&data) : getCPUData(&data);
    if (result < 1)
        return;
    auto next = std::make_shared<Sample>();
    next->user = data.user;
    next->sys = data.system;
    next->idle = data.idle;
    next->processes = data.processes;
    next->threads = data.threads;
    std::tie(next->load1, next->load5, next->load15) = collector().sampledLoadAverage();
    sample_.setValue(std::move(next));
}

double CPU::usage() const {
    auto s = sample();
    return s->user + s->sys;
}

std::string CPU::brand() const {
    if (auto cached = brand_.value())
        return *cached;
    std::string computed = own_ ? own_->brand() : getCPUBrand();
    // Two first readers may race; both compute the same text, the first one stored wins.
    return brand_
        .modify([&](std::optional<std::string> current) {
            return current ? current : std::optional<std::string>(computed);
        })
        .value_or(computed);
}

void CPU::setBrand(std::string brand) {
    brand_.setValue(std::move(brand));
}

CPU::ThermalState CPU::thermalState() const {
    return collector().thermalState();
}

std::int64_t CPU::uptime() const {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) - bootTime_;
}

std::int64_t CPU::awakeTime() const {
    return static_cast<std::int64_t>(std::trunc(platform::Procfs::awakeSeconds()));
}

std::int64_t CPU::sleepTime() const {
    return uptime() - awakeTime();
}

std::tuple<double, double, double> CPU::loadavg() const {
    const auto s = sample();
    return {s->load1, s->load5, s->load15};
}

}  // namespace vigil
