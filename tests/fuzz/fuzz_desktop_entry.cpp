// Desktop entries (.desktop files) and their Exec lines.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DesktopEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    static const std::vector<std::string> languages = {"de_DE", "de", "sr@latin"};
    if (auto entry = vigil::parseDesktopEntry(text, "fuzz", languages)) {
        if (entry->program.find('/') != std::string::npos)
            __builtin_trap();
    }
    (void)vigil::parseDesktopEntry(text, "fuzz");
    for (const auto& word : vigil::splitExec(text))
        if (word.size() > size)
            __builtin_trap();
    return 0;
}
