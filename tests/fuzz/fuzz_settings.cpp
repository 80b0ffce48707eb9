// The settings file's text. A text that parses is a dictionary, and what the store would write back
// for it parses again to the same dictionary.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/DefaultsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string why;
    auto parsed = vigil::DefaultsFile::parseText(text, &why);
    if (!parsed) {
        if (why.empty())
            __builtin_trap();
        return 0;
    }
    if (!parsed->is_object())
        __builtin_trap();
    // The store writes with invalid UTF-8 replaced; the JSON parser accepts only valid UTF-8, so
    // nothing is replaced and the round trip is exact.
    std::string written =
        parsed->dump(2, ' ', false, vigil::DefaultsValue::error_handler_t::replace);
    auto again = vigil::DefaultsFile::parseText(written, nullptr);
    if (!again || *again != *parsed)
        __builtin_trap();
    return 0;
}
