// One track of an adaptive stream read as one body: its init section, then its pieces,
// each from the cached resource that holds it, decrypted where the playlist says so.

extern "C" {
#include <libavutil/aes.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstring>
#include <list>
#include <memory>
#include <vector>

#include "cache/StreamAssembly.h"

namespace cache {

namespace {

constexpr std::size_t kBlock = 16;
// Readers kept open at once: a track of thousands of segments must not hold as many files.
constexpr std::size_t kMaxOpenReaders = 8;
// Encrypted bytes decrypted per step of one read.
constexpr std::size_t kCryptChunk = 64 * 1024;

struct AesDeleter {
    void operator()(AVAES* aes) const { av_free(aes); }
};
using Aes = std::unique_ptr<AVAES, AesDeleter>;

Aes DecryptorFor(const StreamPiece& piece) {
    Aes aes(av_aes_alloc());
    if (aes && av_aes_init(aes.get(), piece.key.data(), 128, 1) != 0) {
        aes.reset();
    }
    return aes;
}

// Reads exactly `length` bytes of a body; what the body no longer has reads as zeros.
bool ReadFully(BodyReader& reader, std::uint64_t offset, unsigned char* out, std::size_t length) {
    const auto n = reader.ReadAt(offset, out, length);
    if (n < 0) {
        return false;
    }
    std::memset(out + n, 0, length - static_cast<std::size_t>(n));
    return true;
}

class TrackReader final : public BodyReader {
  public:
    explicit TrackReader(const StreamTrack& track) {
        if (track.init) {
            parts_.push_back({*track.init});
        }
        for (const StreamPiece& piece : track.pieces) {
            parts_.push_back({piece});
        }
        for (std::size_t i = 0; i < parts_.size(); ++i) {
            Part& part = parts_[i];
            part.at = size_;
            part.size = part.piece.encrypted ? DecryptedSize(i) : part.piece.length;
            size_ += part.size;
        }
    }

    std::uint64_t Size() const override { return size_; }

    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        if (offset >= size_) {
            return 0;
        }
        length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
        auto* out = static_cast<unsigned char*>(buffer);
        // The part that holds `offset`: the last one starting at or before it.
        auto part = std::upper_bound(parts_.begin(), parts_.end(), offset,
                                     [](std::uint64_t at, const Part& p) { return at < p.at; }) -
                    1;
        std::size_t done = 0;
        while (done < length) {
            while (part->size == 0) {
                ++part;
            }
            const std::uint64_t local = offset + done - part->at;
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(length - done, part->size - local));
            if (!ReadPart(static_cast<std::size_t>(part - parts_.begin()), local, out + done, n)) {
                return -1;
            }
            done += n;
            ++part;
        }
        return static_cast<std::int64_t>(length);
    }

  private:
    struct Part {
        StreamPiece piece;
        std::uint64_t at = 0;    // where it starts in the track
        std::uint64_t size = 0;  // its bytes in the track: decrypted, without padding
    };

    // PKCS#7: the last decrypted byte says how many bytes of padding end the piece. A
    // piece whose padding is wrong (a wrong key, a cut body) is kept whole: its bytes are
    // noise either way, and its length stays what the cache holds.
    std::uint64_t DecryptedSize(std::size_t index) {
        const StreamPiece& p = parts_[index].piece;
        if (p.length < kBlock || p.length % kBlock != 0) {
            return 0;
        }
        BodyReader* reader = Reader(index);
        Aes aes = DecryptorFor(p);
        unsigned char tail[2 * kBlock];
        std::array<unsigned char, kBlock> iv = p.iv;
        const bool first = p.length == kBlock;
        if (!reader || !aes ||
            !ReadFully(*reader, p.offset + p.length - (first ? kBlock : 2 * kBlock), tail,
                       first ? kBlock : 2 * kBlock)) {
            return 0;
        }
        const unsigned char* last = first ? tail : tail + kBlock;
        if (!first) {
            std::memcpy(iv.data(), tail, kBlock);
        }
        unsigned char plain[kBlock];
        av_aes_crypt(aes.get(), plain, last, 1, iv.data(), 1);
        const unsigned pad = plain[kBlock - 1];
        if (pad == 0 || pad > kBlock ||
            std::any_of(plain + kBlock - pad, plain + kBlock,
                        [&](unsigned char c) { return c != pad; })) {
            return p.length;
        }
        return p.length - pad;
    }

    bool ReadPart(std::size_t index, std::uint64_t local, unsigned char* out, std::size_t length) {
        BodyReader* reader = Reader(index);
        if (!reader) {
            // A segment gone since the scan is a gap the player steps over.
            std::memset(out, 0, length);
            return true;
        }
        const StreamPiece& p = parts_[index].piece;
        if (!p.encrypted) {
            return ReadFully(*reader, p.offset + local, out, length);
        }
        Aes aes = DecryptorFor(p);
        if (!aes) {
            return false;
        }
        std::vector<unsigned char> cipher;
        std::vector<unsigned char> plain;
        while (length > 0) {
            // CBC: a block's plain text needs the cipher block before it (or the IV).
            const std::uint64_t block = local / kBlock;
            const std::uint64_t from = block == 0 ? 0 : (block - 1) * kBlock;
            const std::uint64_t stop = std::min<std::uint64_t>(
                p.length, (local + std::min(length, kCryptChunk) + kBlock - 1) / kBlock * kBlock);
            cipher.resize(static_cast<std::size_t>(stop - from));
            if (!ReadFully(*reader, p.offset + from, cipher.data(), cipher.size())) {
                return false;
            }
            std::array<unsigned char, kBlock> iv = p.iv;
            const unsigned char* data = cipher.data();
            if (block > 0) {
                std::memcpy(iv.data(), data, kBlock);
                data += kBlock;
            }
            const auto blocks = static_cast<int>((stop - block * kBlock) / kBlock);
            plain.resize(static_cast<std::size_t>(blocks) * kBlock);
            av_aes_crypt(aes.get(), plain.data(), data, blocks, iv.data(), 1);
            const auto skip = static_cast<std::size_t>(local - block * kBlock);
            const auto n = std::min(length, plain.size() - skip);
            std::memcpy(out, plain.data() + skip, n);
            out += n;
            local += n;
            length -= n;
        }
        return true;
    }

    // The part's body reader, opened on first use; the least recently used one is closed
    // when too many are open.
    BodyReader* Reader(std::size_t index) {
        const auto it = std::find_if(open_.begin(), open_.end(),
                                     [&](const OpenReader& o) { return o.part == index; });
        if (it != open_.end()) {
            open_.splice(open_.begin(), open_, it);
            return open_.front().reader.get();
        }
        auto reader = OpenBody(parts_[index].piece.body);
        if (!reader) {
            return nullptr;
        }
        if (open_.size() >= kMaxOpenReaders) {
            open_.pop_back();
        }
        open_.push_front({index, std::move(reader)});
        return open_.front().reader.get();
    }

    struct OpenReader {
        std::size_t part;
        std::unique_ptr<BodyReader> reader;
    };

    std::vector<Part> parts_;
    std::uint64_t size_ = 0;
    std::list<OpenReader> open_;
};

}  // namespace

std::unique_ptr<BodyReader> OpenTrack(const StreamTrack& track) {
    if (!track.init && track.pieces.empty()) {
        return nullptr;
    }
    return std::make_unique<TrackReader>(track);
}

}  // namespace cache
