// Kernel uevent messages as they come off the netlink socket ("action@devpath\0KEY=VALUE\0...").

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/PowerSupply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto event = vigil::parseUevent(text)) {
        if (event->action.size() + event->devpath.size() > size)
            __builtin_trap();
        (void)event->subsystem();
    }
    return 0;
}
