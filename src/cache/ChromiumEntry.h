#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cache/ByteSource.h"
#include "cache/HttpHead.h"

// Chromium's simple cache: one `<hash>_0` file per entry (key, body, response headers)
// and, for resources fetched in ranges, a `<hash>_s` file of pieces. All fields are
// little-endian.
namespace cache {

inline constexpr std::uint64_t kChromiumEndMagic = 0xf4fa6f45970d41d8ULL;
inline constexpr std::uint64_t kChromiumRangeMagic = 0xeb97bf016553676bULL;
inline constexpr std::size_t kChromiumHeaderSize = 24;
inline constexpr std::size_t kChromiumEndRecordSize = 24;
inline constexpr std::size_t kChromiumRangeHeaderSize = 32;
inline constexpr std::size_t kChromiumKeyHashSize = 32;
// The reader takes this much from the start and from the end of a file at once.
inline constexpr std::size_t kChromiumEdgeRead = 4096;
// Longer keys are refused rather than read: no URL the program lists comes near it.
inline constexpr std::uint32_t kChromiumMaxKeyLength = 64 * 1024;
// Response headers larger than this are not read; the entry is then a plain file.
inline constexpr std::uint32_t kChromiumMaxHeadersSize = 256 * 1024;

// What one `_0` file says.
struct ChromiumEntryFacts {
    std::string url;               // the key's text after its last blank
    std::uint64_t bodyOffset = 0;  // 24 + key length
    std::uint64_t bodySize = 0;    // stream 1's length (0 when the body is in `_s`)
    bool closed = false;           // end records present; false while the browser writes it
    bool hasHead = false;          // response headers read and understood
    bool truncated = false;        // the browser marked the body as cut short
    HttpHead head;
    std::string firstBytes;  // up to kSniffBytes of the body
};

// Reads a `_0` file with one read from its start and one from its end (one more only
// for headers that do not fit). False when it is no entry file of ours: wrong magic, a
// key beyond the file or no clean UTF-8, end records that contradict each other. Bad
// response headers only leave hasHead false.
bool ReadChromiumEntry(const ByteSource& file, ChromiumEntryFacts& facts);

// One range of a `_s` file: `length` bytes of the resource at `offset`, stored in the
// file at `fileOffset`.
struct ChromiumRange {
    std::uint64_t offset = 0;
    std::uint64_t fileOffset = 0;
    std::uint64_t length = 0;
};

struct RangeWalk {
    std::vector<ChromiumRange> ranges;  // in resource order, none overlapping
    std::uint64_t bytes = 0;            // sum of the lengths
    std::uint64_t end = 0;              // end of the last range in the resource
    bool clean = true;  // false: the walk stopped at a bad record before the file's end
};

// Walks the range headers of a `_s` file, one small read each, never reading the data.
// Stops (keeping what came before) at a header with a wrong magic, a length beyond the
// file, a range that overflows or overlaps an earlier one. False when the file does not
// even start like one.
bool WalkChromiumRanges(const ByteSource& file, RangeWalk& walk);

// The body's first bytes from the range at offset 0, for the signature test.
std::string FirstBytesOfRanges(const ByteSource& file, const RangeWalk& walk);

}  // namespace cache
