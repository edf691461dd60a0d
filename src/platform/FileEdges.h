#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/DirectoryListing.h"

namespace platform {

// The first and the last bytes of many files of one folder, read in batches. A first scan
// of a cache reads two small pieces of each of tens of thousands of files; made one file
// and one piece at a time that is four or five system calls per file, most of the scan's
// cost. Where the kernel offers io_uring, a whole batch is opened, read and closed with
// one call; elsewhere Available() is false and the caller reads file by file.
//
// One reader belongs to one thread; several threads each use their own over one folder.
class EdgeReader {
  public:
    static constexpr std::size_t kBatch = 64;

    // Long enough for a slow disk to serve a batch; what takes longer is not a disk.
    static constexpr std::chrono::milliseconds kPatience{10000};

    // Files up to `wholeBytes` are read whole; of larger ones the first `headBytes` and the
    // last `tailBytes`. A batch that makes no progress for `patience` is called off.
    // `folder` must outlive the reader.
    EdgeReader(const DirectoryListing& folder, std::size_t wholeBytes, std::size_t headBytes,
               std::size_t tailBytes, std::chrono::milliseconds patience = kPatience);
    ~EdgeReader();
    EdgeReader(const EdgeReader&) = delete;
    EdgeReader& operator=(const EdgeReader&) = delete;

    // Whether this system batches at all: asked once, before files are listed for it.
    static bool Supported();
    bool Available() const { return ring_ != nullptr; }

    struct File {
        const char* name = nullptr;  // in the folder
        std::uint64_t size = 0;      // as the folder's listing saw it
    };
    struct Edges {
        bool read = false;  // every byte asked for came: else read the file by other means
        std::span<const unsigned char> head;  // from the start: the whole file when small
        std::span<const unsigned char> tail;  // ending at the file's size; empty when whole
    };

    // Reads up to kBatch files (the rest are left); what was read stays until the next call.
    // Only while Available().
    void Read(std::span<const File> files);
    const Edges& Of(std::size_t index) const { return edges_[index]; }

  private:
    struct Ring;
    template <typename Take>
    unsigned Reap(unsigned wanted, const Take& take);
    void Abandon(std::size_t count);

    const DirectoryListing& folder_;
    std::size_t wholeBytes_;
    std::size_t headBytes_;
    std::size_t tailBytes_;
    std::size_t slotBytes_;
    std::chrono::milliseconds patience_;
    std::unique_ptr<Ring> ring_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::vector<Edges> edges_;
};

}  // namespace platform
