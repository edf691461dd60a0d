#include <algorithm>

#include <cstring>

#include "cache/ByteSource.h"
#include "cache/CacheEntry.h"
#include "cache/ChromiumEntry.h"
#include "cache/Stream.h"
#include "cache/StreamAssembly.h"
#include "platform/ReadOnlyFile.h"

namespace cache {

namespace {

// A contiguous stretch of one file: a whole classic or Firefox file, or a Chromium body
// between its key and its end records.
class SpanReader final : public BodyReader {
  public:
    SpanReader(platform::ReadOnlyFile file, std::uint64_t offset, std::uint64_t size)
        : file_(std::move(file)), offset_(offset), size_(size) {}

    std::uint64_t Size() const override { return size_; }

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        if (offset >= size_) {
            return 0;
        }
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
        return file_.ReadAt(offset_ + offset, buffer, wanted);
    }

  private:
    platform::ReadOnlyFile file_;
    std::uint64_t offset_;
    std::uint64_t size_;
};

// A resource pieced together from the ranges of a `_s` file; what no range covers reads
// as zeros.
class PiecesReader final : public BodyReader {
  public:
    PiecesReader(platform::ReadOnlyFile file, RangeWalk walk)
        : file_(std::move(file)), walk_(std::move(walk)) {}

    std::uint64_t Size() const override { return walk_.end; }

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        if (offset >= walk_.end) {
            return 0;
        }
        length = static_cast<std::size_t>(std::min<std::uint64_t>(length, walk_.end - offset));
        auto* out = static_cast<char*>(buffer);
        std::memset(out, 0, length);
        const auto& ranges = walk_.ranges;
        // The first range that ends after `offset`.
        auto it = std::upper_bound(
            ranges.begin(), ranges.end(), offset,
            [](std::uint64_t at, const ChromiumRange& r) { return at < r.offset + r.length; });
        const std::uint64_t stop = offset + length;
        for (; it != ranges.end() && it->offset < stop; ++it) {
            const std::uint64_t from = std::max(offset, it->offset);
            const std::uint64_t to = std::min(stop, it->offset + it->length);
            const auto n = static_cast<std::size_t>(to - from);
            if (file_.ReadAt(it->fileOffset + (from - it->offset), out + (from - offset), n) !=
                static_cast<std::int64_t>(n)) {
                return -1;
            }
        }
        return static_cast<std::int64_t>(length);
    }

  private:
    platform::ReadOnlyFile file_;
    RangeWalk walk_;
};

}  // namespace

std::unique_ptr<BodyReader> OpenPiecesBody(const Entry& entry);

std::unique_ptr<BodyReader> OpenBody(const Entry& entry) {
    if (entry.storage == Storage::Pieces) {
        return OpenPiecesBody(entry);
    }
    if (entry.storage == Storage::Stream) {
        // A stream reads as its picture: what media facts and thumbnails want of it.
        if (!entry.stream) {
            return nullptr;
        }
        const auto& tracks = entry.stream->tracks;
        const auto video = std::find_if(tracks.begin(), tracks.end(), [](const StreamTrack& t) {
            return t.kind != TrackKind::Audio;
        });
        return video == tracks.end() ? nullptr : OpenTrack(*video);
    }
    platform::ReadOnlyFile file(entry.file);
    if (!file.IsOpen()) {
        return nullptr;
    }
    const auto fileSize = static_cast<std::uint64_t>(file.Size());
    std::uint64_t offset = 0;
    std::uint64_t size = fileSize;
    if (entry.storage == Storage::Span) {
        if (entry.bodyOffset > fileSize || entry.bodySize > fileSize - entry.bodyOffset) {
            return nullptr;
        }
        offset = entry.bodyOffset;
        size = entry.bodySize;
    }
    return std::make_unique<SpanReader>(std::move(file), offset, size);
}

std::unique_ptr<BodyReader> OpenPiecesBody(const Entry& entry) {
    platform::ReadOnlyFile file(entry.piecesFile);
    if (!file.IsOpen()) {
        return nullptr;
    }
    // Walked again: the ranges may have changed since the scan, and a reader must never
    // read past what the file holds now.
    RangeWalk walk;
    if (!WalkChromiumRanges(FileSource(file), walk) || walk.ranges.empty()) {
        return nullptr;
    }
    return std::make_unique<PiecesReader>(std::move(file), std::move(walk));
}

}  // namespace cache
