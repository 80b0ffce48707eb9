// The bytes of a stored block: the format files keep, and what damaged bytes come to.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "history/HistoryBlock.h"

namespace vigil {
namespace {

constexpr std::int64_t kMinuteStart = 1'699'999'200'000;  // 2023-11-14T22:00:00Z
constexpr std::int64_t kDayStart = 1'699'920'000'000;     // 2023-11-14T00:00:00Z

std::string bytes(std::initializer_list<unsigned char> list) {
    return std::string(list.begin(), list.end());
}

// A minute of samples (1.5, 0, -2 at 1.1 s steps) and a day holding the quarter of 22:00
// (average 31.25, maximum 60, of 6 samples), as files hold them.
const std::string kSamples =
    bytes({0x01, 0x00, 0xac, 0x02, 0xcc, 0x08, 0x00, 0xcc, 0x08, 0x8f, 0x03});
const std::string kQuarter = bytes({0x02, 0x58, 0xea, 0x30, 0xf6, 0x2c, 0x06});

TEST(HistoryBlock, StoredBytesDecodeToTheirPointsAndEncodeBackTheSame) {
    std::string error;
    const auto samples = HistoryBlock::decode(HistoryTier::raw, kMinuteStart, kSamples, error);
    ASSERT_TRUE(samples) << error;
    ASSERT_EQ(samples->entries().size(), 3u);
    EXPECT_EQ(samples->entries()[0].ms, kMinuteStart);
    EXPECT_EQ(samples->entries()[0].average, 150);
    EXPECT_EQ(samples->entries()[1].ms, kMinuteStart + 1100);
    EXPECT_EQ(samples->entries()[1].average, 0);
    EXPECT_EQ(samples->entries()[2].ms, kMinuteStart + 2200);
    EXPECT_EQ(samples->entries()[2].average, -200);
    EXPECT_EQ(samples->entries()[2].maximum, -200);
    EXPECT_EQ(samples->encode(), kSamples);

    const auto quarter = HistoryBlock::decode(HistoryTier::quarter, kDayStart, kQuarter, error);
    ASSERT_TRUE(quarter) << error;
    ASSERT_EQ(quarter->entries().size(), 1u);
    EXPECT_EQ(quarter->entries()[0].ms, kDayStart + 22 * 3'600'000);
    EXPECT_EQ(quarter->entries()[0].average, 3125);
    EXPECT_EQ(quarter->entries()[0].maximum, 6000);
    EXPECT_EQ(quarter->entries()[0].count, 6);
    EXPECT_EQ(quarter->encode(), kQuarter);

    // A point put again at the same time replaces the first.
    HistoryBlock block = *samples;
    block.put({kMinuteStart + 1100, 700, 700, 1});
    block.put({kMinuteStart + 59'999, 1, 1, 1});
    ASSERT_EQ(block.entries().size(), 4u);
    EXPECT_EQ(block.entries()[1].average, 700);
    EXPECT_EQ(block.entries()[3].ms, kMinuteStart + 59'999);
}

TEST(HistoryBlock, DamagedBytesAreRefusedWithTheirReasonAndNeverReadPastTheBlock) {
    const std::pair<std::string, std::string> refused[] = {
        {"", "empty block"},
        {kQuarter, "unknown block format"},  // merged points where samples belong
        {bytes({0x01, 0x00}), "value at byte 2 ends inside a number"},
        {bytes({0x01, 0x80, 0x80}), "time step at byte 3 ends inside a number"},
        {bytes({0x01, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f, 0x00}),
         "time step at byte 11 is longer than 64 bits"},
        {bytes({0x01, 0xe0, 0xd4, 0x03, 0x00}), "time step at byte 4 runs past the block's end"},
        {bytes({0x01, 0x05, 0x00, 0x00, 0x00}), "time step at byte 4 repeats a time"},
        {bytes(
             {0x01, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01, 0x00}),
         "time step at byte 13 runs past the block's end"},
    };
    for (const auto& [blob, reason] : refused) {
        std::string error;
        EXPECT_FALSE(HistoryBlock::decode(HistoryTier::raw, kMinuteStart, blob, error));
        EXPECT_EQ(error, reason);
    }
    std::string error;
    EXPECT_FALSE(HistoryBlock::decode(HistoryTier::quarter, kDayStart,
                                      bytes({0x02, 0x01, 0x02, 0x00, 0x00}), error));
    EXPECT_EQ(error, "count at byte 5 is not positive");
    EXPECT_FALSE(HistoryBlock::decode(HistoryTier::quarter, kDayStart, bytes({0x02, 0x60}), error));
    EXPECT_EQ(error, "time step at byte 2 runs past the block's end");  // the 97th quarter

    // Every shortened and every changed byte of stored blocks: refused, or points that lie in
    // the block, in order, with positive counts.
    for (const auto& [tier, start, good] :
         {std::tuple{HistoryTier::raw, kMinuteStart, kSamples},
          std::tuple{HistoryTier::quarter, kDayStart, kQuarter}}) {
        std::vector<std::string> damaged;
        for (std::size_t size = 0; size < good.size(); ++size)
            damaged.push_back(good.substr(0, size));
        for (std::size_t at = 0; at < good.size(); ++at) {
            for (int value = 0; value < 256; ++value) {
                std::string changed = good;
                changed[at] = char(value);
                damaged.push_back(changed);
            }
        }
        for (const auto& blob : damaged) {
            const auto block = HistoryBlock::decode(tier, start, blob, error);
            if (!block)
                continue;
            std::int64_t previous = start - 1;
            for (const auto& entry : block->entries()) {
                EXPECT_GT(entry.ms, previous);
                EXPECT_LT(entry.ms, start + HistoryBlock::spanOf(tier));
                EXPECT_GT(entry.count, 0);
                previous = entry.ms;
            }
        }
    }
}

}  // namespace
}  // namespace vigil
