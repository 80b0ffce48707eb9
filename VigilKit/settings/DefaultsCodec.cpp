#include "settings/DefaultsCodec.h"

#include <array>
#include <cmath>

namespace vigil::defaults_detail {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const DefaultsData& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        uint32_t n = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    size_t rest = data.size() - i;
    if (rest > 0) {
        uint32_t n = uint32_t{data[i]} << 16;
        if (rest == 2)
            n |= uint32_t{data[i + 1]} << 8;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<DefaultsData> base64Decode(const std::string& text) {
    static const std::array<int8_t, 256> table = [] {
        std::array<int8_t, 256> t{};
        t.fill(-1);
        for (int i = 0; i < 64; ++i)
            t[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
        return t;
    }();
    if (text.size() % 4 != 0)
        return std::nullopt;
    DefaultsData out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int pad = 0;
        uint32_t n = 0;
        for (size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            if (c == '=') {
                // Padding only at the end of the last group, and at most two.
                if (!last || j < 2)
                    return std::nullopt;
                ++pad;
                n <<= 6;
                continue;
            }
            if (pad > 0)
                return std::nullopt;
            const int8_t v = table[static_cast<uint8_t>(c)];
            if (v < 0)
                return std::nullopt;
            n = (n << 6) | static_cast<uint32_t>(v);
        }
        out.push_back(static_cast<uint8_t>(n >> 16));
        if (pad < 2)
            out.push_back(static_cast<uint8_t>(n >> 8));
        if (pad < 1)
            out.push_back(static_cast<uint8_t>(n));
    }
    return out;
}

const DefaultsValue* tagged(const DefaultsValue& stored, const char* tag) {
    if (!stored.is_object() || stored.size() != 1)
        return nullptr;
    auto it = stored.find(tag);
    return it == stored.end() ? nullptr : &*it;
}

}  // namespace

DefaultsValue encodeData(const DefaultsData& data) {
    return {{"$data", base64Encode(data)}};
}

std::optional<DefaultsData> decodeData(const DefaultsValue& stored) {
    const DefaultsValue* payload = tagged(stored, "$data");
    if (!payload || !payload->is_string())
        return std::nullopt;
    return base64Decode(payload->get_ref<const std::string&>());
}

DefaultsValue encodeDate(const DefaultsDate& date) {
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(date.time_since_epoch()).count();
    return {{"$date", static_cast<double>(micros) / 1e6}};
}

std::optional<DefaultsDate> decodeDate(const DefaultsValue& stored) {
    const DefaultsValue* payload = tagged(stored, "$date");
    if (!payload || !payload->is_number())
        return std::nullopt;
    const double seconds = payload->get<double>();
    // The clock counts nanoseconds: about 292 years either side of 1970 fit.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 9.0e9)
        return std::nullopt;
    const auto micros = static_cast<int64_t>(std::llround(seconds * 1e6));
    return DefaultsDate(
        std::chrono::duration_cast<DefaultsDate::duration>(std::chrono::microseconds(micros)));
}

DefaultsValue encodeUrl(const DefaultsUrl& url) {
    return {{"$url", url.text}};
}

std::optional<DefaultsUrl> decodeUrl(const DefaultsValue& stored) {
    // A plain text is accepted too, so a hand-edited file may write an address as a string.
    if (stored.is_string())
        return DefaultsUrl{stored.get<std::string>()};
    const DefaultsValue* payload = tagged(stored, "$url");
    if (!payload || !payload->is_string())
        return std::nullopt;
    return DefaultsUrl{payload->get<std::string>()};
}

bool isTagged(const DefaultsValue& stored) {
    if (!stored.is_object() || stored.size() != 1)
        return false;
    const std::string& key = stored.begin().key();
    return key == "$data" || key == "$date" || key == "$url" || key == "$double";
}

}  // namespace vigil::defaults_detail
