// A stand-in for the track reader while the real one (with decryption) is written apart:
// clear pieces only. Removed when the two meet.
#include <algorithm>
#include <vector>

#include "cache/StreamAssembly.h"

namespace cache {

namespace {

class ConcatenatedTrack final : public BodyReader {
  public:
    struct Part {
        const StreamPiece* piece;
        std::uint64_t at;  // where it starts in the track
    };

    ConcatenatedTrack(std::vector<Part> parts, std::uint64_t size)
        : parts_(std::move(parts)), size_(size) {}

    std::uint64_t Size() const override { return size_; }

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        auto* out = static_cast<char*>(buffer);
        std::size_t done = 0;
        while (done < length && offset < size_) {
            auto it = std::upper_bound(parts_.begin(), parts_.end(), offset,
                                       [](std::uint64_t at, const Part& p) { return at < p.at; });
            const std::size_t index = static_cast<std::size_t>(it - parts_.begin()) - 1;
            const Part& part = parts_[index];
            if (index != openIndex_) {
                open_ = OpenBody(part.piece->body);
                openIndex_ = index;
            }
            if (!open_) {
                return -1;
            }
            const std::uint64_t within = offset - part.at;
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(length - done, part.piece->length - within));
            const std::int64_t got = open_->ReadAt(part.piece->offset + within, out + done, n);
            if (got != static_cast<std::int64_t>(n)) {
                return -1;
            }
            done += n;
            offset += n;
        }
        return static_cast<std::int64_t>(done);
    }

  private:
    std::vector<Part> parts_;
    std::uint64_t size_;
    std::unique_ptr<BodyReader> open_;
    std::size_t openIndex_ = SIZE_MAX;
};

}  // namespace

std::unique_ptr<BodyReader> OpenTrack(const StreamTrack& track) {
    std::vector<ConcatenatedTrack::Part> parts;
    std::uint64_t size = 0;
    auto add = [&](const StreamPiece& piece) {
        if (piece.encrypted) {
            return false;
        }
        if (piece.length > 0) {
            parts.push_back({&piece, size});
            size += piece.length;
        }
        return true;
    };
    if (track.init && !add(*track.init)) {
        return nullptr;
    }
    for (const StreamPiece& piece : track.pieces) {
        if (!add(piece)) {
            return nullptr;
        }
    }
    if (parts.empty()) {
        return nullptr;
    }
    return std::make_unique<ConcatenatedTrack>(std::move(parts), size);
}

}  // namespace cache
