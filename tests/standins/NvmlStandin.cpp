// Stands in for NVIDIA's management library (libnvidia-ml.so.1), which comes with the proprietary
// driver and cannot exist on a machine without an NVIDIA card. It exports the C functions Vigil
// looks up, with the driver's calling convention, and describes one card at PCI address
// 0000:01:00.0 with fixed figures: 71 % busy, 1.5 of 6 GiB used, 63 °C, 42.5 W.
#include <cstring>

namespace {
struct Card {};
Card theCard;
bool started = false;
constexpr int kSuccess = 0, kUninitialized = 1, kNotFound = 6;
}  // namespace

extern "C" {
struct Utilization {
    unsigned int gpu, memory;
};
struct Memory {
    unsigned long long total, free, used;
};

__attribute__((visibility("default"))) int nvmlInit_v2() {
    started = true;
    return kSuccess;
}
__attribute__((visibility("default"))) int nvmlShutdown() {
    started = false;
    return kSuccess;
}
__attribute__((visibility("default"))) int nvmlDeviceGetHandleByPciBusId_v2(const char* busId,
                                                                            Card** device) {
    if (!started)
        return kUninitialized;
    if (std::strcmp(busId, "0000:01:00.0") != 0)
        return kNotFound;
    *device = &theCard;
    return kSuccess;
}
__attribute__((visibility("default"))) int nvmlDeviceGetUtilizationRates(Card*, Utilization* u) {
    *u = {71, 20};
    return kSuccess;
}
__attribute__((visibility("default"))) int nvmlDeviceGetMemoryInfo(Card*, Memory* m) {
    *m = {6ull << 30, (6ull << 30) - (3ull << 29), 3ull << 29};
    return kSuccess;
}
__attribute__((visibility("default"))) int nvmlDeviceGetTemperature(Card*, int sensor,
                                                                    unsigned int* t) {
    *t = sensor == 0 ? 63 : 0;
    return kSuccess;
}
__attribute__((visibility("default"))) int nvmlDeviceGetPowerUsage(Card*, unsigned int* mw) {
    *mw = 42500;
    return kSuccess;
}
}
