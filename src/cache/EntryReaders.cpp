#include "cache/EntryReaders.h"

#include <algorithm>
#include <optional>

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

platform::ReadOnlyFile Open(const std::string& path, const OpenEntryFile& open) {
    return open ? open(path) : platform::ReadOnlyFile(path);
}

// A file's bytes, from memory where its edges are held, else from the file itself: the
// one already open, or opened on first need and read only while it is still the file
// those edges came from.
class EdgeFirstSource final : public ByteSource {
  public:
    EdgeFirstSource(const KnownEdges& edges, platform::ReadOnlyFile file, const std::string& path,
                    const OpenEntryFile& open)
        : edges_(edges), file_(std::move(file)), path_(path), open_(open) {}

    std::uint64_t Size() const override {
        return static_cast<std::uint64_t>(std::max<std::int64_t>(0, edges_.identity.size));
    }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) const override {
        const std::uint64_t size = Size();
        if (offset >= size) {
            return 0;
        }
        length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size - offset));
        const std::uint64_t tailStart = size - edges_.tail.size();
        if (offset + length <= edges_.head.size()) {
            std::copy_n(edges_.head.data() + offset, length, static_cast<unsigned char*>(buffer));
            return static_cast<std::int64_t>(length);
        }
        if (!edges_.tail.empty() && offset >= tailStart) {
            std::copy_n(edges_.tail.data() + (offset - tailStart), length,
                        static_cast<unsigned char*>(buffer));
            return static_cast<std::int64_t>(length);
        }
        if (!file_.IsOpen()) {
            file_ = Open(path_, open_);
            if (file_.IsOpen() && file_.Identity() != edges_.identity) {
                file_ = {};
            }
        }
        return file_.IsOpen() ? file_.ReadAt(offset, buffer, length) : -1;
    }

  private:
    const KnownEdges& edges_;
    mutable platform::ReadOnlyFile file_;
    const std::string& path_;
    const OpenEntryFile& open_;
};

// The entry's main file as a source of bytes, with the identity it is read as: from the
// edges a scan holds, else opened now, and read whole when small.
struct MainFile {
    KnownEdges edges;
    std::string whole;
    std::optional<EdgeFirstSource> source;
};

bool OpenMainFile(const std::string& path, const OpenEntryFile& open, const KnownEdges* known,
                  MainFile& main) {
    if (known != nullptr) {
        main.edges = *known;
        main.source.emplace(main.edges, platform::ReadOnlyFile(), path, open);
        return true;
    }
    platform::ReadOnlyFile file = Open(path, open);
    if (!file.IsOpen()) {
        return false;
    }
    main.edges.identity = file.Identity();
    if (file.Size() <= static_cast<std::int64_t>(kWholeRead)) {
        main.whole.resize(static_cast<std::size_t>(file.Size()));
        // Short or failed (the file shrank): read as it comes instead.
        if (file.ReadAt(0, main.whole.data(), main.whole.size()) ==
            static_cast<std::int64_t>(main.whole.size())) {
            main.edges.head = {reinterpret_cast<const unsigned char*>(main.whole.data()),
                               main.whole.size()};
        }
    }
    main.source.emplace(main.edges, std::move(file), path, open);
    return true;
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

EdgeSizes EdgesReadOf(Format format) {
    // The body's first bytes tell its type; Firefox keeps everything else at the end.
    return format == Format::Firefox ? EdgeSizes{kWholeRead, kSniffBytes, kFirefoxTailRead}
                                     : EdgeSizes{kWholeRead, kChromiumEdgeRead, kChromiumEdgeRead};
}

bool ReadChromiumFiles(const std::string& path, const std::string& piecesPath, ReadEntry& read,
                       const OpenEntryFile& open, const KnownEdges* edges) {
    read = ReadEntry{};
    MainFile main;
    if (!OpenMainFile(path, open, edges, main)) {
        return false;
    }
    read.identity = main.edges.identity;
    ChromiumEntryFacts facts;
    if (!ReadChromiumEntry(*main.source, facts)) {
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

bool ReadFirefoxFile(const std::string& path, ReadEntry& read, const OpenEntryFile& open,
                     const KnownEdges* edges) {
    read = ReadEntry{};
    MainFile main;
    if (!OpenMainFile(path, open, edges, main)) {
        return false;
    }
    read.identity = main.edges.identity;
    FirefoxEntryFacts facts;
    if (!ReadFirefoxEntry(*main.source, facts)) {
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
