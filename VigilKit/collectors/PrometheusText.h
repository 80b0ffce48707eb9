#pragma once

// The Prometheus text exposition format (version 0.0.4, what node_exporter serves), parsed by a
// pure function over the body. Every answer is hostile until parsed: the body, each line and the
// number of samples are bounded, and a line that does not parse ends the parse with its line
// number. Comments (# HELP, # TYPE) are skipped; timestamps after the value are accepted and
// dropped.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vigil {

struct PrometheusSample {
    std::string name;
    std::vector<std::pair<std::string, std::string>> labels;
    double value = 0;

    // The label's value, empty when the sample has no such label.
    std::string_view label(std::string_view key) const;
};

struct PrometheusTextLimits {
    std::size_t maxBody = 16 * 1024 * 1024;
    std::size_t maxLine = 64 * 1024;
    std::size_t maxSamples = 200000;
};

struct PrometheusText {
    std::vector<PrometheusSample> samples;
    // Empty when the whole body parsed; otherwise why it did not ("line 12: ..."), and `samples`
    // is empty.
    std::string error;
};

PrometheusText parsePrometheusText(std::string_view body, const PrometheusTextLimits& limits = {});

}  // namespace vigil
