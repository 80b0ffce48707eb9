// The public-address answer parser on arbitrary answers.

#include <string.h>  // memmem
#include <cstddef>
#include <cstdint>

#include <cstring>

#include "collectors/PublicAddress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    PublicAddressParser parser;
    bool cleanEnd = data[0] & 1;
    for (size_t i = 1; i < size; i++)
        parser.feed(data[i]);
    parser.finish(cleanEnd);
    size_t length = strnlen(parser.address, sizeof parser.address);
    if (length >= sizeof parser.address)
        __builtin_trap();
    if (length > 0 && !PublicAddress_isAddress(parser.address))
        __builtin_trap();
    // An address comes from the answer: from a line that starts with "IP", or a line that is
    // nothing but the address.
    if (length > 0) {
        bool found = false;
        for (size_t i = 1; i + 1 < size && !found; i++)
            found = (i == 1 || data[i - 1] == '\n') && (data[i] | 0x20) == 'i' &&
                    (data[i + 1] | 0x20) == 'p';
        if (!found && !memmem(data + 1, size - 1, parser.address, length))
            __builtin_trap();
    }
    return 0;
}
