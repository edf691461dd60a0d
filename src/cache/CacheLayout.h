#pragma once

#include <cstdint>
#include <string>

#include "cache/CacheEntry.h"

namespace cache {

// The first eight bytes of a Chromium simple cache's `index` file and of every entry file.
inline constexpr std::uint64_t kChromiumMagic = 0xfcfb6d1ba7725c30ULL;

// A folder as the program reads it: its format, and the folder that holds the entries
// (Chromium's Cache_Data, Firefox's cache2/entries, or the classic folder itself).
struct CacheFolder {
    Format format = Format::Classic;
    std::string entriesDir;
};

// True when `dir` holds a Chromium simple cache: its `index` starts with the magic.
bool HasChromiumIndex(const std::string& dir);

// True when `dir` is a Firefox cache2 folder: an `entries` folder beside its `index`.
bool IsFirefoxCache2(const std::string& dir);

// Finds the format of the folder the user named, from its content: a Chromium Cache_Data,
// its parent Cache or the profile folder above it; a Firefox cache2, its entries folder or
// the profile folder holding it. Anything else is read as the classic layout, in place.
// Reads at most a few small files; never descends further than those names.
CacheFolder ResolveCacheFolder(const std::string& dir);

}  // namespace cache
