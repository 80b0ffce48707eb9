// /proc/<pid>/stat, statm and cgroup. A stat that parses has a non-negative pid and a name taken
// from within the text.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/ProcessTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto stat = vigil::parseProcessStat(text)) {
        if (stat->comm.size() > size || stat->pid < 0)
            __builtin_trap();
    }
    (void)vigil::parseStatmResident(text);
    if (auto cgroup = vigil::parseUnifiedCgroup(text)) {
        if (cgroup->size() > size)
            __builtin_trap();
    }
    return 0;
}
