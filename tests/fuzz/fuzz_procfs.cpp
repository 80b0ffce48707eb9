// The /proc text parsers (stat, loadavg, cpuinfo, meminfo, vmstat) on arbitrary text. Whatever the
// bytes, each returns or skips; a load average that parses is finite.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/Procfs.h"

using namespace vigil::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)parseCpuTicks(text);
    (void)parseBootTime(text);
    if (auto load = parseLoadAverage(text)) {
        if (!std::isfinite(load->one) || !std::isfinite(load->five) ||
            !std::isfinite(load->fifteen))
            __builtin_trap();
    }
    if (auto brand = parseCpuBrand(text)) {
        if (brand->size() > size)
            __builtin_trap();
    }
    int malformed = 0;
    (void)parseMemInfo(text, &malformed);
    if (malformed < 0)
        __builtin_trap();
    (void)parseVmStat(text);
    return 0;
}
