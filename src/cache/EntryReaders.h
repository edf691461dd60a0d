#pragma once

#include <functional>
#include <span>
#include <string>

#include "cache/CacheEntry.h"
#include "platform/ReadOnlyFile.h"

// From the files of one modern cache entry to an Entry the rest of the program uses.
namespace cache {

struct ReadEntry {
    Entry entry;
    bool media = false;  // listed: its type is media or its first bytes are
    // The files as they were read, to tell later whether they changed.
    platform::FileIdentity identity;
    platform::FileIdentity piecesIdentity;  // zero when there is no `_s`
};

// Opens an entry's file by its path. Unset: the path is opened as it is; a scan that holds
// the folder open opens its files relative to it.
using OpenEntryFile = std::function<platform::ReadOnlyFile(const std::string& path)>;

// What a scan already read of an entry's main file, so that it need not be opened again:
// the file as the folder's listing saw it, and its first and last bytes (`tail` ends at
// the file's size; `head` alone when it holds the whole file). What lies between is read
// from the file only while it is still the one the listing saw.
struct KnownEdges {
    platform::FileIdentity identity;
    std::span<const unsigned char> head;
    std::span<const unsigned char> tail;
};

// How much of an entry's main file the readers look at in one go: files up to `whole`
// bytes all of it, larger ones their first `head` and last `tail` bytes. A scan that reads
// these itself and hands them over as KnownEdges saves opening the file again.
struct EdgeSizes {
    std::size_t whole = 0;
    std::size_t head = 0;
    std::size_t tail = 0;
};
EdgeSizes EdgesReadOf(Format format);

// Reads Chromium's `<hash>_0` and, when `piecesPath` is not empty, its `<hash>_s`. False
// when they hold no entry that can be listed (unreadable, malformed, or no body).
bool ReadChromiumFiles(const std::string& path, const std::string& piecesPath, ReadEntry& read,
                       const OpenEntryFile& open = {}, const KnownEdges* edges = nullptr);

// Reads one Firefox cache2 entry file. False as above.
bool ReadFirefoxFile(const std::string& path, ReadEntry& read, const OpenEntryFile& open = {},
                     const KnownEdges* edges = nullptr);

}  // namespace cache
