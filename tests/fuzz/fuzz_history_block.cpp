// A stored history block: whatever the bytes, decoding refuses them or gives points that lie in
// the block, in order, with positive counts, and that encode to bytes decoding to the same points.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "history/HistoryBlock.h"

namespace {

bool same(const vigil::HistoryBlock& a, const vigil::HistoryBlock& b) {
    if (a.entries().size() != b.entries().size())
        return false;
    for (std::size_t i = 0; i < a.entries().size(); ++i) {
        const auto& x = a.entries()[i];
        const auto& y = b.entries()[i];
        if (x.ms != y.ms || x.average != y.average || x.maximum != y.maximum || x.count != y.count)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using vigil::HistoryBlock;
    using vigil::HistoryTier;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    constexpr std::int64_t kDay = 1'699'920'000'000;  // a day's, an hour's and a minute's start
    for (const HistoryTier tier : {HistoryTier::raw, HistoryTier::minute, HistoryTier::quarter}) {
        std::string error;
        const auto block = HistoryBlock::decode(tier, kDay, bytes, error);
        if (!block) {
            if (error.empty())
                __builtin_trap();
            continue;
        }
        std::int64_t previous = kDay - 1;
        for (const auto& entry : block->entries()) {
            if (entry.ms <= previous || entry.ms >= kDay + HistoryBlock::spanOf(tier) ||
                entry.count <= 0)
                __builtin_trap();
            previous = entry.ms;
        }
        const auto again = HistoryBlock::decode(tier, kDay, block->encode(), error);
        if (!again || !same(*block, *again))
            __builtin_trap();
    }
    return 0;
}
