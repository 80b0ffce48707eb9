// /proc/net/route: the default-route interface is a plain link name taken from the text.
// /proc/net/dev: counters are taken only when every listed link has its line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/NetworkLinks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (auto name = vigil::platform::parseDefaultRouteInterface(text)) {
        if (name->empty() || name->size() > size)
            __builtin_trap();
        (void)vigil::platform::isPlainLinkName(*name);
    }
    (void)vigil::platform::isPlainLinkName(text);

    std::vector<vigil::platform::LinkRecord> links(2);
    links[0].name = "eth0";
    links[1].name = "lo";
    if (vigil::platform::applyNetDevCounters(text, links) &&
        (text.find("eth0") == std::string::npos || text.find("lo") == std::string::npos)) {
        __builtin_trap();
    }
    return 0;
}
