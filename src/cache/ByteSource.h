#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/ReadOnlyFile.h"

namespace cache {

// Where a cache reader takes its bytes from: an open file in the program, a buffer in
// the tests and fuzzers. Readers never trust a length they read: every read says where
// it reads and gets fewer bytes (never more) at the end.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Up to `length` bytes at `offset`; fewer only at the end; -1 on an error.
    virtual std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) const = 0;

    // True when exactly `length` bytes at `offset` could be read.
    bool ReadExactly(std::uint64_t offset, void* buffer, std::size_t length) const {
        return ReadAt(offset, buffer, length) == static_cast<std::int64_t>(length);
    }
};

class FileSource final : public ByteSource {
  public:
    explicit FileSource(const platform::ReadOnlyFile& file) : file_(file) {}
    std::uint64_t Size() const override {
        return static_cast<std::uint64_t>(std::max<std::int64_t>(0, file_.Size()));
    }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) const override {
        // A file that grew after it was opened is read as it was then.
        if (offset >= Size()) {
            return 0;
        }
        return file_.ReadAt(
            offset, buffer,
            static_cast<std::size_t>(std::min<std::uint64_t>(length, Size() - offset)));
    }

  private:
    const platform::ReadOnlyFile& file_;
};

class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) const override {
        if (offset >= bytes_.size()) {
            return 0;
        }
        const std::size_t n = std::min<std::uint64_t>(length, bytes_.size() - offset);
        std::memcpy(buffer, bytes_.data() + offset, n);
        return static_cast<std::int64_t>(n);
    }

  private:
    std::string_view bytes_;
};

}  // namespace cache
