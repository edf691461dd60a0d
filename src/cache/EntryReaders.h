#pragma once

#include <functional>
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

// Reads Chromium's `<hash>_0` and, when `piecesPath` is not empty, its `<hash>_s`. False
// when they hold no entry that can be listed (unreadable, malformed, or no body).
bool ReadChromiumFiles(const std::string& path, const std::string& piecesPath, ReadEntry& read,
                       const OpenEntryFile& open = {});

// Reads one Firefox cache2 entry file. False as above.
bool ReadFirefoxFile(const std::string& path, ReadEntry& read, const OpenEntryFile& open = {});

}  // namespace cache
