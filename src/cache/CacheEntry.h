#pragma once

#include <cstdint>
#include <memory>
#include <string>

// What the program knows of one cached resource, whichever browser stored it and however.
// The scanner makes these, and playing, copying and reading media facts all start from
// one: none of them needs to know a cache format.
namespace cache {

enum class Format : unsigned char {
    Classic,   // a folder of whole-body files (g_XXXX folders and the like)
    Chromium,  // Chromium's simple cache (Cache_Data)
    Firefox,   // Firefox's cache2
};

// Where the body's bytes lie.
enum class Storage : unsigned char {
    Whole,   // `file` is the body, from its first byte to its last
    Span,    // the body is `bodySize` bytes of `file` from `bodyOffset`
    Pieces,  // ranges of the resource, each behind a range header in `piecesFile`
    Stream,  // an adaptive stream joined from many entries: `stream` says which
};

struct Stream;

struct Entry {
    std::string file;         // the entry's own file: what "Go to file" shows
    std::string piecesFile;   // Storage::Pieces: the file of ranges (Chromium's _s)
    std::string url;          // empty where the format keeps none
    std::string contentType;  // lower case, without parameters; empty when unknown
    std::uint64_t bodyOffset = 0;
    std::uint64_t bodySize = 0;      // bytes of the body present
    std::uint64_t resourceSize = 0;  // the whole resource's size where known, else 0
    std::int64_t lastWriteTime = 0;  // the entry file's, seconds since 1970, UTC
    Format format = Format::Classic;
    Storage storage = Storage::Whole;
    bool complete = true;  // false: only part of the resource is here
    // Storage::Stream: the stream this row stands for; `file` and `url` are its
    // manifest's (or first segment's).
    std::shared_ptr<const Stream> stream;
};

// The bytes of one body, read wherever they lie. Parts of a pieced resource that were
// never downloaded read as zeros. One reader belongs to one thread at a time.
class BodyReader {
  public:
    virtual ~BodyReader() = default;
    // The body's length: for pieces, the end of the last range present.
    virtual std::uint64_t Size() const = 0;
    // Reads up to `length` bytes at `offset`; fewer only at the end. -1 on an error.
    virtual std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) = 0;
};

// Opens the body of `entry`; null when its files cannot be opened or no longer match
// what the entry says (a file that shrank since the scan).
std::unique_ptr<BodyReader> OpenBody(const Entry& entry);

}  // namespace cache
