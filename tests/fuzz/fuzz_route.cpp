// /proc/net/route: the default-route interface is a plain link name taken from the text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/NetworkLinks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (auto name = vigil::platform::parseDefaultRouteInterface(text)) {
        if (name->empty() || name->size() > size)
            __builtin_trap();
        (void)vigil::platform::isPlainLinkName(*name);
    }
    (void)vigil::platform::isPlainLinkName(text);
    return 0;
}
