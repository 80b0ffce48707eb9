// The pci.ids lookup on an arbitrary database text; the first four bytes choose vendor and device.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/DeviceRegistry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    uint16_t vendor = static_cast<uint16_t>(data[0] << 8 | data[1]);
    uint16_t device = static_cast<uint16_t>(data[2] << 8 | data[3]);
    std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);
    (void)vigil::platform::lookupPciName(text, vendor, device);
    // The vendors a real database names most often, so lines of the seeds are reached too.
    (void)vigil::platform::lookupPciName(text, 0x8086, device);
    (void)vigil::platform::lookupPciName(text, 0x10de, device);
    return 0;
}
