#pragma once

#include <cstdint>
#include <string>

#include "cache/ByteSource.h"
#include "cache/HttpHead.h"

// Firefox's cache2: one file per entry, the body first, the metadata after it, the
// body's length in the last four bytes. All fields are big-endian.
namespace cache {

inline constexpr std::uint64_t kFirefoxChunkSize = 256 * 1024;
// Metadata larger than this is not read (real ones are a few kilobytes).
inline constexpr std::uint64_t kFirefoxMaxMetadata = 1024 * 1024;
// The reader takes this much from the end of a file at once: the metadata, mostly.
inline constexpr std::size_t kFirefoxTailRead = 16 * 1024;

struct FirefoxEntryFacts {
    std::string url;             // the key after its tags
    std::uint64_t bodySize = 0;  // the body's bytes in the file (alt-data excluded)
    std::uint32_t lastModified = 0;
    bool hasHead = false;  // a response-head was found and understood
    HttpHead head;
    std::string firstBytes;  // up to kSniffBytes of the body
};

// Reads an entry file from its end: the metadata offset, the chunk hashes skipped, the
// header (version 1 without flags, later versions with), the key and its tags, the
// elements. False when the file is no entry: offset beyond the file, a key that does not
// end where it says or is no clean UTF-8, elements that run off the end.
bool ReadFirefoxEntry(const ByteSource& file, FirefoxEntryFacts& facts);

// The URL in a cache2 key `[tag,]...:URL`; a comma inside a tag is written twice. False
// when no ":" ends the tags.
bool FirefoxKeyUrl(std::string_view key, std::string& url);

}  // namespace cache
