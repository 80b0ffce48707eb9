// /proc/self/mountinfo: the table parser, the escape decoder, and the volume filter over what it
// parsed. Decoding never makes a field longer.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/MountTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (vigil::unescapeMountField(text).size() > size)
        __builtin_trap();
    int malformed = 0;
    auto table = vigil::parseMountInfo(text, &malformed);
    for (const auto& entry : table) {
        (void)entry.deviceBaseName();
        (void)entry.isBlockSource();
        (void)entry.isNetwork();
    }
    auto volumes = vigil::listedMounts(table);
    if (volumes.size() > table.size())
        __builtin_trap();
    return 0;
}
