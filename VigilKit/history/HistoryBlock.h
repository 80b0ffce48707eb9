#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/HistoryTypes.h"

namespace vigil {

// A run of one series' points of one tier, stored as one row: a minute of samples, an hour of
// minutes or a day of quarters. Packing them is what keeps the file small: a row costs a key, a
// header and its page's slack, about 30 bytes, while an entry of a block costs the bytes of its
// numbers (a sample of an idle figure 2 bytes, a quarter of a busy rate about 12).
//
// The bytes: a format byte (1: samples, 2: merged points), then the entries oldest first. A
// sample is varint(time step in ms) and zigzag(value); a merged point is varint(time step in
// tier steps), zigzag(average), zigzag(maximum - average) and varint(count). The first entry's
// step is from the block's start. Values are hundredths, as the store keeps them.
class HistoryBlock {
  public:
    struct Entry {
        std::int64_t ms = 0;
        std::int64_t average = 0;  // hundredths
        std::int64_t maximum = 0;  // hundredths; the average for a sample
        std::int64_t count = 1;    // samples it stands for
    };

    HistoryBlock(HistoryTier tier, std::int64_t startMs) : tier_(tier), startMs_(startMs) {}

    // How long a block of the tier runs, how far apart its points lie (1 ms for samples), and
    // where the block that holds `ms` starts.
    static std::int64_t spanOf(HistoryTier tier);
    static std::int64_t stepOf(HistoryTier tier);
    static std::int64_t startFor(HistoryTier tier, std::int64_t ms);

    // The block stored as `bytes`, or none with `error` saying what is wrong with them.
    static std::optional<HistoryBlock> decode(HistoryTier tier, std::int64_t startMs,
                                              std::string_view bytes, std::string& error);
    std::string encode() const;

    // Adds the entry, in place of one at the same time. Its time must lie within the block.
    void put(const Entry& entry);

    HistoryTier tier() const { return tier_; }
    std::int64_t startMs() const { return startMs_; }
    const std::vector<Entry>& entries() const { return entries_; }

  private:
    HistoryTier tier_;
    std::int64_t startMs_;
    std::vector<Entry> entries_;  // oldest first, one per time
};

}  // namespace vigil
