#include <algorithm>

#include "cache/CacheEntry.h"
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

}  // namespace

std::unique_ptr<BodyReader> OpenPiecesBody(const Entry& entry);

std::unique_ptr<BodyReader> OpenBody(const Entry& entry) {
    if (entry.storage == Storage::Pieces) {
        return OpenPiecesBody(entry);
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

// Until the range walker exists: pieced entries have no reader.
std::unique_ptr<BodyReader> OpenPiecesBody(const Entry&) {
    return nullptr;
}

}  // namespace cache
