// The Prometheus text exposition parser on arbitrary bodies.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "collectors/PrometheusText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    vigil::PrometheusTextLimits limits;
    limits.maxLine = 256;
    limits.maxSamples = 64;
    auto text = vigil::parsePrometheusText(body, limits);
    if (!text.error.empty() && !text.samples.empty())
        __builtin_trap();
    if (text.samples.size() > limits.maxSamples)
        __builtin_trap();
    for (const auto& sample : text.samples) {
        // Every name and label came out of the body, which holds no longer line than maxLine.
        if (sample.name.empty() || sample.name.size() > limits.maxLine)
            __builtin_trap();
        for (const auto& [key, value] : sample.labels)
            if (key.empty() || key.size() + value.size() > limits.maxLine)
                __builtin_trap();
    }
    return 0;
}
