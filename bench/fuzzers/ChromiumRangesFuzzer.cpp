// The range walker of Chromium's `_s` files on arbitrary bytes: ranges inside the file,
// in order, never overlapping; the body reader over them stays inside them.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzSupport.h"
#include "cache/ChromiumEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    cache::RangeWalk walk;
    if (!cache::WalkChromiumRanges(cache::MemorySource(bytes), walk)) {
        return 0;
    }
    std::uint64_t sum = 0;
    std::uint64_t previousEnd = 0;
    for (const cache::ChromiumRange& r : walk.ranges) {
        fuzz::Check(r.fileOffset <= size && r.length <= size - r.fileOffset,
                    "a range's data lies inside the file", {{"input", bytes}});
        fuzz::Check(r.offset >= previousEnd, "ranges are sorted and do not overlap",
                    {{"input", bytes}});
        previousEnd = r.offset + r.length;
        sum += r.length;
    }
    fuzz::Check(sum == walk.bytes && previousEnd == walk.end, "the totals add up",
                {{"input", bytes}});
    (void)cache::FirstBytesOfRanges(cache::MemorySource(bytes), walk);
    return 0;
}
