#include "cache/ChromiumEntry.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

#include "cache/CacheLayout.h"
#include "cache/MediaType.h"

namespace cache {

namespace {

// What is read from each end of a `_0` file at once: header, key and the body's first
// bytes at the start; end records and usually all the headers at the end.

std::uint32_t U32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t U64(const unsigned char* p) {
    return static_cast<std::uint64_t>(U32(p)) | static_cast<std::uint64_t>(U32(p + 4)) << 32;
}

struct FileHeader {
    std::uint32_t version = 0;
    std::uint32_t keyLength = 0;
};

bool ParseFileHeader(const unsigned char* p, std::uint64_t fileSize, FileHeader& header) {
    if (U64(p) != kChromiumMagic) {
        return false;
    }
    header.version = U32(p + 8);
    header.keyLength = U32(p + 12);
    return header.keyLength <= kChromiumMaxKeyLength &&
           header.keyLength <= fileSize - kChromiumHeaderSize;
}

// A serialized response info: u32 payload size; i32 flags [i32 extra flags]; request and
// response times [original response time]; then the raw headers as an i32 length and
// the bytes. The fields are followed as the flag bits say.
bool ParseResponseInfo(const unsigned char* data, std::size_t size, ChromiumEntryFacts& facts) {
    constexpr std::uint32_t kTruncated = 1u << 12;
    constexpr std::uint32_t kHasExtraFlags = 1u << 31;
    constexpr std::uint32_t kHasOriginalResponseTime = 1u << 2;
    std::size_t at = 0;
    auto take = [&](std::size_t n) {
        if (size - at < n) {
            return false;
        }
        at += n;
        return true;
    };
    if (size < 8) {
        return false;
    }
    const std::uint32_t payload = U32(data);
    if (payload > size - 4) {
        return false;
    }
    size = payload + 4;
    at = 4;
    const std::uint32_t flags = U32(data + at);
    if (!take(4)) {
        return false;
    }
    std::uint32_t extra = 0;
    if (flags & kHasExtraFlags) {
        if (size - at < 4) {
            return false;
        }
        extra = U32(data + at);
        take(4);
    }
    if (!take(16) || ((extra & kHasOriginalResponseTime) && !take(8)) || size - at < 4) {
        return false;
    }
    const std::uint32_t length = U32(data + at);
    take(4);
    if (length > size - at) {
        return false;
    }
    const std::string_view raw(reinterpret_cast<const char*>(data + at), length);
    if (!ParseHttpHead(raw, facts.head)) {
        return false;
    }
    facts.truncated = (flags & kTruncated) != 0;
    return true;
}

}  // namespace

bool ReadChromiumEntry(const ByteSource& file, ChromiumEntryFacts& facts) {
    facts = ChromiumEntryFacts{};
    const std::uint64_t size = file.Size();
    if (size < kChromiumHeaderSize) {
        return false;
    }
    unsigned char head[kChromiumEdgeRead];
    const std::int64_t got = file.ReadAt(0, head, sizeof head);
    if (got < static_cast<std::int64_t>(kChromiumHeaderSize)) {
        return false;
    }
    FileHeader header;
    if (!ParseFileHeader(head, size, header)) {
        return false;
    }
    const std::uint64_t bodyOffset = kChromiumHeaderSize + std::uint64_t{header.keyLength};
    std::string key;
    if (bodyOffset <= static_cast<std::uint64_t>(got)) {
        key.assign(reinterpret_cast<const char*>(head) + kChromiumHeaderSize, header.keyLength);
    } else {
        key.resize(header.keyLength);  // bounded by kChromiumMaxKeyLength and the file
        if (!file.ReadExactly(kChromiumHeaderSize, key.data(), key.size())) {
            return false;
        }
    }
    if (key.empty() || !IsCleanUtf8(key)) {
        return false;
    }
    const auto blank = key.rfind(' ');
    facts.url = blank == std::string::npos ? key : key.substr(blank + 1);
    facts.bodyOffset = bodyOffset;

    // From the end: stream 0's end record, [the key's hash], stream 0, stream 1's end
    // record. A file without them is still being written: its body runs to the end.
    const std::uint64_t tailStart = size > kChromiumEdgeRead ? size - kChromiumEdgeRead : 0;
    unsigned char tail[kChromiumEdgeRead];
    const auto tailLength = static_cast<std::size_t>(size - tailStart);
    if (!file.ReadExactly(tailStart, tail, tailLength)) {
        return false;
    }
    auto at = [&](std::uint64_t offset) { return tail + (offset - tailStart); };
    const std::uint64_t records = 2 * kChromiumEndRecordSize;
    const bool hasEnd =
        size >= bodyOffset + records && U64(at(size - kChromiumEndRecordSize)) == kChromiumEndMagic;
    if (!hasEnd) {
        facts.bodySize = size - bodyOffset;
    } else {
        const unsigned char* end0 = at(size - kChromiumEndRecordSize);
        const std::uint32_t flags0 = U32(end0 + 8);
        const std::uint64_t stream0 = U32(end0 + 16);
        const std::uint64_t hash = (flags0 & 2u) ? kChromiumKeyHashSize : 0;
        const std::uint64_t fixed = bodyOffset + records + hash;
        if (size < fixed || stream0 > size - fixed) {
            return false;
        }
        const std::uint64_t end1Offset =
            size - kChromiumEndRecordSize - hash - stream0 - kChromiumEndRecordSize;
        unsigned char end1[kChromiumEndRecordSize];
        if (end1Offset >= tailStart) {
            std::memcpy(end1, at(end1Offset), sizeof end1);
        } else if (!file.ReadExactly(end1Offset, end1, sizeof end1)) {
            return false;
        }
        const std::uint64_t stream1 = end1Offset - bodyOffset;
        // Chromium writes the size into stream 0's end record only; stream 1's holds 0.
        const std::uint32_t declared1 = U32(end1 + 16);
        if (U64(end1) != kChromiumEndMagic || (declared1 != 0 && declared1 != stream1)) {
            return false;
        }
        facts.closed = true;
        facts.bodySize = stream1;
        const std::uint64_t stream0Offset = end1Offset + kChromiumEndRecordSize;
        if (stream0 <= kChromiumMaxHeadersSize && stream0 > 0) {
            if (stream0Offset >= tailStart) {
                facts.hasHead =
                    ParseResponseInfo(at(stream0Offset), static_cast<std::size_t>(stream0), facts);
            } else {
                std::string info(static_cast<std::size_t>(stream0), '\0');
                facts.hasHead =
                    file.ReadExactly(stream0Offset, info.data(), info.size()) &&
                    ParseResponseInfo(reinterpret_cast<const unsigned char*>(info.data()),
                                      info.size(), facts);
            }
        }
        if (!facts.hasHead) {
            facts.head = HttpHead{};
            facts.truncated = false;
        }
    }
    // The body's first bytes: mostly already read with the header.
    const std::uint64_t sniff = std::min<std::uint64_t>(facts.bodySize, kSniffBytes);
    if (bodyOffset + sniff <= static_cast<std::uint64_t>(got)) {
        facts.firstBytes.assign(reinterpret_cast<const char*>(head) + bodyOffset,
                                static_cast<std::size_t>(sniff));
    } else if (sniff > 0) {
        facts.firstBytes.resize(static_cast<std::size_t>(sniff));
        if (!file.ReadExactly(bodyOffset, facts.firstBytes.data(), facts.firstBytes.size())) {
            facts.firstBytes.clear();
        }
    }
    return true;
}

bool WalkChromiumRanges(const ByteSource& file, RangeWalk& walk) {
    walk = RangeWalk{};
    const std::uint64_t size = file.Size();
    unsigned char header[kChromiumHeaderSize];
    FileHeader parsed;
    if (size < kChromiumHeaderSize || !file.ReadExactly(0, header, sizeof header) ||
        !ParseFileHeader(header, size, parsed)) {
        return false;
    }
    // Ranges by their offset in the resource, to refuse one that overlaps another.
    std::map<std::uint64_t, ChromiumRange> byOffset;
    std::uint64_t at = kChromiumHeaderSize + std::uint64_t{parsed.keyLength};
    while (at < size) {
        unsigned char record[kChromiumRangeHeaderSize];
        if (size - at < sizeof record || !file.ReadExactly(at, record, sizeof record) ||
            U64(record) != kChromiumRangeMagic) {
            walk.clean = false;
            break;
        }
        const std::uint64_t offset = U64(record + 8);
        const std::uint64_t length = U64(record + 16);
        const std::uint64_t data = at + sizeof record;
        if (length > size - data || offset > UINT64_MAX - length) {
            walk.clean = false;
            break;
        }
        if (length > 0) {
            auto next = byOffset.lower_bound(offset);
            const bool overlapsNext = next != byOffset.end() && next->first < offset + length;
            const bool overlapsPrevious =
                next != byOffset.begin() &&
                std::prev(next)->second.offset + std::prev(next)->second.length > offset;
            if (overlapsNext || overlapsPrevious) {
                walk.clean = false;
                break;
            }
            byOffset.emplace_hint(next, offset, ChromiumRange{offset, data, length});
        }
        at = data + length;
    }
    walk.ranges.reserve(byOffset.size());
    for (const auto& [offset, range] : byOffset) {
        walk.ranges.push_back(range);
        walk.bytes += range.length;
        walk.end = range.offset + range.length;
    }
    return true;
}

std::string FirstBytesOfRanges(const ByteSource& file, const RangeWalk& walk) {
    std::string bytes;
    if (walk.ranges.empty() || walk.ranges.front().offset != 0) {
        return bytes;
    }
    const ChromiumRange& first = walk.ranges.front();
    bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(first.length, kSniffBytes)));
    if (!file.ReadExactly(first.fileOffset, bytes.data(), bytes.size())) {
        bytes.clear();
    }
    return bytes;
}

}  // namespace cache
