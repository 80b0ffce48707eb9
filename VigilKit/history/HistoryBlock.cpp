#include "history/HistoryBlock.h"

#include <algorithm>

namespace vigil {

namespace {

enum Format : unsigned char { kSamples = 1, kMerged = 2 };

void putVarint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(char((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.push_back(char(value));
}

std::uint64_t zigzag(std::int64_t value) {
    return (std::uint64_t(value) << 1) ^ std::uint64_t(value >> 63);
}

std::int64_t unzigzag(std::uint64_t value) {
    return std::int64_t(value >> 1) ^ -std::int64_t(value & 1);
}

// Reads the bytes of a block one number at a time; the first failure is kept.
class Reader {
  public:
    // Reads from `at` on; the error names positions in the whole of `bytes`.
    Reader(std::string_view bytes, std::size_t at) : bytes_(bytes), at_(at) {}

    bool atEnd() const { return at_ == bytes_.size(); }
    const std::string& error() const { return error_; }

    std::uint64_t varint(const char* what) {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at_ == bytes_.size())
                return fail(what, "ends inside a number");
            const auto byte = static_cast<unsigned char>(bytes_[at_++]);
            if (shift == 63 && byte > 1)
                return fail(what, "is longer than 64 bits");
            value |= std::uint64_t(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return value;
        }
        return fail(what, "is longer than 64 bits");
    }
    std::int64_t signedVarint(const char* what) { return unzigzag(varint(what)); }

    std::uint64_t fail(const char* what, const char* why) {
        if (error_.empty())
            error_ = std::string(what) + " at byte " + std::to_string(at_) + " " + why;
        at_ = bytes_.size();
        return 0;
    }

  private:
    std::string_view bytes_;
    std::size_t at_;
    std::string error_;
};

}  // namespace

std::int64_t HistoryBlock::spanOf(HistoryTier tier) {
    switch (tier) {
        case HistoryTier::raw:
            return history::kMinuteMs;
        case HistoryTier::minute:
            return history::kHourMs;
        case HistoryTier::quarter:
            break;
    }
    return 24 * history::kHourMs;
}

std::int64_t HistoryBlock::stepOf(HistoryTier tier) {
    switch (tier) {
        case HistoryTier::raw:
            return 1;
        case HistoryTier::minute:
            return history::kMinuteMs;
        case HistoryTier::quarter:
            break;
    }
    return history::kQuarterMs;
}

std::int64_t HistoryBlock::startFor(HistoryTier tier, std::int64_t ms) {
    const std::int64_t span = spanOf(tier);
    return ms - ((ms % span) + span) % span;
}

void HistoryBlock::put(const Entry& entry) {
    auto at = std::lower_bound(entries_.begin(), entries_.end(), entry.ms,
                               [](const Entry& e, std::int64_t ms) { return e.ms < ms; });
    if (at != entries_.end() && at->ms == entry.ms)
        *at = entry;
    else
        entries_.insert(at, entry);
}

std::string HistoryBlock::encode() const {
    const bool samples = tier_ == HistoryTier::raw;
    const std::int64_t step = stepOf(tier_);
    std::string out;
    out.reserve(1 + entries_.size() * (samples ? 4 : 10));
    out.push_back(char(samples ? kSamples : kMerged));
    std::int64_t previous = startMs_;
    for (const auto& entry : entries_) {
        putVarint(out, std::uint64_t((entry.ms - previous) / step));
        previous = entry.ms;
        putVarint(out, zigzag(entry.average));
        if (samples)
            continue;
        putVarint(out, zigzag(entry.maximum - entry.average));
        putVarint(out, std::uint64_t(entry.count));
    }
    return out;
}

std::optional<HistoryBlock> HistoryBlock::decode(HistoryTier tier, std::int64_t startMs,
                                                 std::string_view bytes, std::string& error) {
    const bool samples = tier == HistoryTier::raw;
    if (bytes.empty() || bytes[0] != char(samples ? kSamples : kMerged)) {
        error = bytes.empty() ? "empty block" : "unknown block format";
        return std::nullopt;
    }
    const std::int64_t step = stepOf(tier);
    const std::uint64_t slots = std::uint64_t(spanOf(tier) / step);
    HistoryBlock block(tier, startMs);
    Reader reader(bytes, 1);
    std::uint64_t slot = 0;  // of the previous entry, from the block's start
    while (!reader.atEnd()) {
        const std::uint64_t advance = reader.varint("time step");
        if (!block.entries_.empty() && advance == 0)
            reader.fail("time step", "repeats a time");
        if (advance >= slots || slot + advance >= slots)
            reader.fail("time step", "runs past the block's end");
        slot += advance;
        Entry entry;
        entry.ms = startMs + std::int64_t(slot) * step;
        entry.average = entry.maximum = reader.signedVarint("value");
        if (!samples) {
            const std::int64_t above = reader.signedVarint("maximum");
            if (__builtin_add_overflow(entry.average, above, &entry.maximum))
                reader.fail("maximum", "is out of range");
            entry.count = std::int64_t(reader.varint("count"));
            if (entry.count <= 0)
                reader.fail("count", "is not positive");
        }
        if (!reader.error().empty())
            break;
        block.entries_.push_back(entry);
    }
    if (!reader.error().empty()) {
        error = reader.error();
        return std::nullopt;
    }
    return block;
}

}  // namespace vigil
