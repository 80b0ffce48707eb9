#include "collectors/PrometheusText.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace vigil {

std::string_view PrometheusSample::label(std::string_view key) const {
    for (const auto& [name, value] : labels)
        if (name == key)
            return value;
    return {};
}

namespace {

bool isNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}
bool isNameChar(char c) {
    return isNameStart(c) || (c >= '0' && c <= '9');
}

// A cursor over one line; each step says whether it matched.
class LineReader {
  public:
    explicit LineReader(std::string_view line) : line_(line) {}

    void skipBlanks() {
        while (at_ < line_.size() && (line_[at_] == ' ' || line_[at_] == '\t'))
            ++at_;
    }
    bool done() const { return at_ >= line_.size(); }
    bool take(char c) {
        if (at_ < line_.size() && line_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    std::optional<std::string> name(bool allowColon) {
        std::size_t start = at_;
        if (at_ >= line_.size() || !isNameStart(line_[at_]) || (!allowColon && line_[at_] == ':'))
            return std::nullopt;
        while (at_ < line_.size() && isNameChar(line_[at_]) && (allowColon || line_[at_] != ':'))
            ++at_;
        return std::string(line_.substr(start, at_ - start));
    }
    // A quoted label value with the escapes \\, \" and \n.
    std::optional<std::string> quoted() {
        if (!take('"'))
            return std::nullopt;
        std::string value;
        while (at_ < line_.size()) {
            char c = line_[at_++];
            if (c == '"')
                return value;
            if (c != '\\') {
                value += c;
                continue;
            }
            if (at_ >= line_.size())
                return std::nullopt;
            char escaped = line_[at_++];
            value += escaped == 'n' ? '\n' : escaped;
        }
        return std::nullopt;
    }
    std::string_view word() {
        std::size_t start = at_;
        while (at_ < line_.size() && line_[at_] != ' ' && line_[at_] != '\t')
            ++at_;
        return line_.substr(start, at_ - start);
    }

  private:
    std::string_view line_;
    std::size_t at_ = 0;
};

std::optional<double> parseValue(std::string_view text) {
    if (text == "+Inf" || text == "Inf")
        return HUGE_VAL;
    if (text == "-Inf")
        return -HUGE_VAL;
    if (text == "NaN")
        return std::nan("");
    if (text.empty() || text.size() > 64)
        return std::nullopt;
    std::string owned(text);
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(owned.c_str(), &end);
    if (end != owned.c_str() + owned.size() || owned.find_first_of("xXnNiI") != std::string::npos)
        return std::nullopt;
    return value;
}

bool parseLabels(LineReader& reader, PrometheusSample& sample) {
    if (!reader.take('{'))
        return true;
    for (;;) {
        reader.skipBlanks();
        if (reader.take('}'))
            return true;
        auto key = reader.name(false);
        reader.skipBlanks();
        if (!key || !reader.take('='))
            return false;
        reader.skipBlanks();
        auto value = reader.quoted();
        if (!value)
            return false;
        sample.labels.emplace_back(std::move(*key), std::move(*value));
        reader.skipBlanks();
        if (reader.take('}'))
            return true;
        if (!reader.take(','))
            return false;
    }
}

std::optional<PrometheusSample> parseSampleLine(std::string_view line) {
    LineReader reader(line);
    reader.skipBlanks();
    PrometheusSample sample;
    auto name = reader.name(true);
    if (!name)
        return std::nullopt;
    sample.name = std::move(*name);
    if (!parseLabels(reader, sample))
        return std::nullopt;
    reader.skipBlanks();
    auto value = parseValue(reader.word());
    if (!value)
        return std::nullopt;
    sample.value = *value;
    reader.skipBlanks();
    if (!reader.done()) {
        std::string_view timestamp = reader.word();
        reader.skipBlanks();
        if (!reader.done() || !parseValue(timestamp))
            return std::nullopt;
    }
    return sample;
}

PrometheusText failure(std::size_t lineNumber, std::string_view why) {
    PrometheusText text;
    text.error = "line " + std::to_string(lineNumber) + ": " + std::string(why);
    return text;
}

}  // namespace

PrometheusText parsePrometheusText(std::string_view body, const PrometheusTextLimits& limits) {
    if (body.size() > limits.maxBody)
        return failure(0, "body larger than " + std::to_string(limits.maxBody) + " bytes");
    PrometheusText text;
    std::size_t lineNumber = 0;
    while (!body.empty()) {
        ++lineNumber;
        std::size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        body.remove_prefix(end == std::string_view::npos ? body.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > limits.maxLine)
            return failure(lineNumber, "line longer than " + std::to_string(limits.maxLine));
        if (line.find_first_not_of(" \t") == std::string_view::npos || line.front() == '#')
            continue;
        if (text.samples.size() >= limits.maxSamples)
            return failure(lineNumber,
                           "more than " + std::to_string(limits.maxSamples) + " samples");
        auto sample = parseSampleLine(line);
        if (!sample)
            return failure(lineNumber, "not a sample");
        text.samples.push_back(std::move(*sample));
    }
    return text;
}

}  // namespace vigil
