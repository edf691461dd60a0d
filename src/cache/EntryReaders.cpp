#include "cache/EntryReaders.h"

#include <algorithm>

#include "cache/ChromiumEntry.h"
#include "cache/FirefoxEntry.h"
#include "cache/MediaType.h"

namespace cache {

namespace {

constexpr std::int64_t kNanoseconds = 1000000000;

// The size of the whole resource as the response gave it: a 206's Content-Range total,
// else its Content-Length; 0 when unknown.
std::uint64_t ResourceSizeOf(const HttpHead& head) {
    if (head.rangeTotal > 0) {
        return head.rangeTotal;
    }
    return head.hasContentLength ? head.contentLength : 0;
}

void Finish(ReadEntry& read, const HttpHead& head, bool hasHead, const std::string& firstBytes) {
    Entry& e = read.entry;
    const std::string& declared = hasHead ? head.contentType : std::string();
    e.contentType = MediaTypeOf(declared, firstBytes);
    read.media = !e.contentType.empty() && e.bodySize > 0;
    if (!read.media) {
        // Not listed itself, but maybe what joins the segments of a stream into one row:
        // a manifest is known by its first bytes here, whatever its declared type.
        const std::string_view manifest = ManifestTypeOf(declared, firstBytes);
        e.contentType = manifest.empty() ? declared : std::string(manifest);
    }
    e.lastWriteTime = read.identity.lastWriteTimeNs / kNanoseconds;
}

}  // namespace

bool ReadChromiumFiles(const std::string& path, const std::string& piecesPath, ReadEntry& read) {
    read = ReadEntry{};
    platform::ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return false;
    }
    read.identity = file.Identity();
    ChromiumEntryFacts facts;
    if (!ReadChromiumEntry(FileSource(file), facts)) {
        return false;
    }
    Entry& e = read.entry;
    e.file = path;
    e.url = facts.url;
    e.format = Format::Chromium;
    const std::uint64_t declared = facts.hasHead ? ResourceSizeOf(facts.head) : 0;
    std::string firstBytes = facts.firstBytes;
    if (facts.bodySize == 0 && !piecesPath.empty()) {
        platform::ReadOnlyFile pieces(piecesPath);
        RangeWalk walk;
        if (!pieces.IsOpen() || !WalkChromiumRanges(FileSource(pieces), walk) ||
            walk.ranges.empty()) {
            return false;
        }
        read.piecesIdentity = pieces.Identity();
        e.piecesFile = piecesPath;
        e.storage = Storage::Pieces;
        e.bodySize = walk.bytes;
        // A length below what is there is no length at all.
        e.resourceSize = std::max(declared, walk.end);
        e.complete = facts.closed && !facts.truncated && walk.clean && walk.bytes == walk.end &&
                     walk.end == e.resourceSize;
        firstBytes = FirstBytesOfRanges(FileSource(pieces), walk);
    } else {
        e.storage = Storage::Span;
        e.bodyOffset = facts.bodyOffset;
        e.bodySize = facts.bodySize;
        e.resourceSize = std::max(declared, facts.bodySize);
        e.complete = facts.closed && !facts.truncated && e.resourceSize == e.bodySize;
    }
    Finish(read, facts.head, facts.hasHead, firstBytes);
    return true;
}

bool ReadFirefoxFile(const std::string& path, ReadEntry& read) {
    read = ReadEntry{};
    platform::ReadOnlyFile file(path);
    if (!file.IsOpen()) {
        return false;
    }
    read.identity = file.Identity();
    FirefoxEntryFacts facts;
    if (!ReadFirefoxEntry(FileSource(file), facts)) {
        return false;
    }
    Entry& e = read.entry;
    e.file = path;
    e.url = facts.url;
    e.format = Format::Firefox;
    // The body starts the file; the metadata after it is left out of copies, though the
    // player does not mind it.
    e.storage = Storage::Span;
    e.bodyOffset = 0;
    e.bodySize = facts.bodySize;
    const std::uint64_t declared = facts.hasHead ? ResourceSizeOf(facts.head) : 0;
    e.resourceSize = std::max(declared, facts.bodySize);
    e.complete = e.resourceSize == e.bodySize;
    Finish(read, facts.head, facts.hasHead, facts.firstBytes);
    return true;
}

}  // namespace cache
