#include "cache/EntryReaders.h"

#include <algorithm>

#include "cache/ChromiumEntry.h"
#include "cache/FirefoxEntry.h"
#include "cache/MediaType.h"

namespace cache {

namespace {

constexpr std::int64_t kNanoseconds = 1000000000;

// Files up to this size are read whole with one read: the readers' reads from the start
// and from the end then cost one system call instead of two or three. Most entries of a
// cache (scripts, styles, small images, playlists) are this small.
constexpr std::uint64_t kWholeRead = 16 * 1024;

// A file's bytes, from memory when it is small enough to have been read whole.
class SmallFileSource final : public ByteSource {
  public:
    explicit SmallFileSource(const platform::ReadOnlyFile& file) : file_(file) {
        if (file_.Size() <= kWholeRead) {
            bytes_.resize(static_cast<std::size_t>(file_.Size()));
            // Short or failed (the file shrank): read as it comes instead.
            whole_ = file_.ReadExactly(0, bytes_.data(), bytes_.size());
        }
    }
    std::uint64_t Size() const override { return file_.Size(); }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) const override {
        return whole_ ? MemorySource(bytes_).ReadAt(offset, buffer, length)
                      : file_.ReadAt(offset, buffer, length);
    }

  private:
    FileSource file_;
    std::string bytes_;
    bool whole_ = false;
};

platform::ReadOnlyFile Open(const std::string& path, const OpenEntryFile& open) {
    return open ? open(path) : platform::ReadOnlyFile(path);
}

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

bool ReadChromiumFiles(const std::string& path, const std::string& piecesPath, ReadEntry& read,
                       const OpenEntryFile& open) {
    read = ReadEntry{};
    const platform::ReadOnlyFile file = Open(path, open);
    if (!file.IsOpen()) {
        return false;
    }
    read.identity = file.Identity();
    ChromiumEntryFacts facts;
    if (!ReadChromiumEntry(SmallFileSource(file), facts)) {
        return false;
    }
    Entry& e = read.entry;
    e.file = path;
    e.url = facts.url;
    e.format = Format::Chromium;
    const std::uint64_t declared = facts.hasHead ? ResourceSizeOf(facts.head) : 0;
    std::string firstBytes = facts.firstBytes;
    if (facts.bodySize == 0 && !piecesPath.empty()) {
        const platform::ReadOnlyFile pieces = Open(piecesPath, open);
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

bool ReadFirefoxFile(const std::string& path, ReadEntry& read, const OpenEntryFile& open) {
    read = ReadEntry{};
    const platform::ReadOnlyFile file = Open(path, open);
    if (!file.IsOpen()) {
        return false;
    }
    read.identity = file.Identity();
    FirefoxEntryFacts facts;
    if (!ReadFirefoxEntry(SmallFileSource(file), facts)) {
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
