// The /sys attribute parsers: CPU lists, zram's mm_stat and power-supply integers. A CPU list that
// parses holds no negative CPU number and stays of bounded size.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/PowerSupply.h"
#include "platform/Sysfs.h"

using namespace vigil::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto cpus = parseCpuList(text)) {
        for (int cpu : *cpus)
            if (cpu < 0)
                __builtin_trap();
        // The topology derivation must cope with whatever list the kernel files give.
        std::vector<CpuTopology> topology;
        for (size_t i = 0; i < cpus->size() && i < 64; i++)
            topology.push_back({(*cpus)[i], std::nullopt});
        (void)deriveCoreCounts(*cpus, *cpus, topology);
    }
    (void)parseZramMemUsed(text);
    (void)vigil::parsePowerSupplyInteger(text);
    return 0;
}
