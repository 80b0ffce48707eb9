// /etc/resolv.conf: every name server returned is a non-empty single word from the text.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/HostConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& server : vigil::platform::parseResolvConf(text)) {
        if (server.empty() || server.size() > size)
            __builtin_trap();
        if (server.find_first_of(" \t\n") != std::string::npos)
            __builtin_trap();
    }
    return 0;
}
