#include "platform/Nvml.h"

#include <dlfcn.h>

#include "platform/Read.h"

namespace vigil::platform {

namespace {
// The few declarations of NVML's C interface that are used here.
using nvmlReturn_t = int;
constexpr nvmlReturn_t kNvmlSuccess = 0;
using nvmlDevice_t = struct nvmlDevice_st*;
struct nvmlUtilization_t {
    unsigned int gpu;
    unsigned int memory;
};
struct nvmlMemory_t {
    unsigned long long total;
    unsigned long long free;
    unsigned long long used;
};
constexpr int kNvmlTemperatureGpu = 0;
}  // namespace

struct Nvml::Api {
    nvmlReturn_t (*init)();
    nvmlReturn_t (*shutdown)();
    nvmlReturn_t (*byPciBusId)(const char*, nvmlDevice_t*);
    nvmlReturn_t (*utilization)(nvmlDevice_t, nvmlUtilization_t*);
    nvmlReturn_t (*memory)(nvmlDevice_t, nvmlMemory_t*);
    nvmlReturn_t (*temperature)(nvmlDevice_t, int, unsigned int*);
    nvmlReturn_t (*power)(nvmlDevice_t, unsigned int*);
};

Nvml::Nvml(std::string library) : library_(std::move(library)) {}

Nvml::~Nvml() {
    if (api_)
        api_->shutdown();
    delete api_;
    if (handle_)
        ::dlclose(handle_);
}

bool Nvml::load() {
    handle_ = ::dlopen(library_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        return false;  // no NVIDIA driver here: not an error
    auto symbol = [&](const char* name) { return ::dlsym(handle_, name); };
    Api api{};
    api.init = reinterpret_cast<decltype(api.init)>(symbol("nvmlInit_v2"));
    api.shutdown = reinterpret_cast<decltype(api.shutdown)>(symbol("nvmlShutdown"));
    api.byPciBusId =
        reinterpret_cast<decltype(api.byPciBusId)>(symbol("nvmlDeviceGetHandleByPciBusId_v2"));
    api.utilization =
        reinterpret_cast<decltype(api.utilization)>(symbol("nvmlDeviceGetUtilizationRates"));
    api.memory = reinterpret_cast<decltype(api.memory)>(symbol("nvmlDeviceGetMemoryInfo"));
    api.temperature =
        reinterpret_cast<decltype(api.temperature)>(symbol("nvmlDeviceGetTemperature"));
    api.power = reinterpret_cast<decltype(api.power)>(symbol("nvmlDeviceGetPowerUsage"));
    if (!api.init || !api.shutdown || !api.byPciBusId || !api.utilization || !api.memory ||
        !api.temperature || !api.power) {
        reportError("dlsym", library_ + " lacks NVML's functions");
        return false;
    }
    if (nvmlReturn_t rc = api.init(); rc != kNvmlSuccess) {
        reportError("nvmlInit_v2", "returned " + std::to_string(rc));
        return false;
    }
    api_ = new Api(api);
    return true;
}

bool Nvml::available() {
    if (!tried_) {
        tried_ = true;
        if (!load() && handle_) {
            ::dlclose(handle_);
            handle_ = nullptr;
        }
    }
    return api_ != nullptr;
}

std::optional<NvmlReading> Nvml::read(const std::string& pciAddress) {
    if (!available())
        return std::nullopt;
    nvmlDevice_t device = nullptr;
    if (api_->byPciBusId(pciAddress.c_str(), &device) != kNvmlSuccess)
        return std::nullopt;
    NvmlReading r;
    if (nvmlUtilization_t u{}; api_->utilization(device, &u) == kNvmlSuccess && u.gpu <= 100)
        r.busyPercent = u.gpu;
    if (nvmlMemory_t m{}; api_->memory(device, &m) == kNvmlSuccess && m.total > 0) {
        r.memoryUsed = m.used;
        r.memoryTotal = m.total;
    }
    if (unsigned int t = 0;
        api_->temperature(device, kNvmlTemperatureGpu, &t) == kNvmlSuccess && t < 200)
        r.temperatureC = t;
    if (unsigned int mw = 0; api_->power(device, &mw) == kNvmlSuccess)
        r.powerW = mw / 1000.0;
    return r;
}

}  // namespace vigil::platform
