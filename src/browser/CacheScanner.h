#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cache/CacheEntry.h"
#include "platform/DirectoryListing.h"

// One cached file that is big enough to be offered for playing.
struct OperaCacheEntry {
    std::string fileName;  // full path: the scanned directory, "/", the name as listed
    std::int64_t size = 0;
    std::int32_t timestamp = 0;  // local last-write time, packed in the DOS date-time format
};

// The sort state of the list: 0 file name, 1 size, 2 timestamp.
struct SortOrder {
    std::int32_t sortColumn = 2;
    bool sortAscending = false;
};

// True when `a` must come before `b`. Names collate by the user's locale
// (case-sensitive); sizes compare as numbers; timestamps as unsigned numbers.
bool CompareEntries(const OperaCacheEntry& a, const OperaCacheEntry& b, const SortOrder& order);

// The search pattern of subdirectory `name` of the directory that `pattern` searches:
// "/cache/*.*" with "g_0001" gives "/cache/g_0001/*.*".
std::string SubdirectoryPattern(const std::string& pattern, const std::string& name);

// The search pattern of the whole cache directory: "/cache" and "/cache/" both give
// "/cache/*.*".
std::string TopLevelPattern(const std::string& cacheDir);

// The directory that `pattern` searches, as entry paths begin: "/cache/*.*" gives
// "/cache", the root's "/*.*" gives "" so that its entries read "/name".
std::string PatternDirectory(const std::string& pattern);

// Whether subdirectory `nameLength` long of the directory that a pattern `patternLength`
// long searches may be scanned: its own pattern (one separator longer than the sum) must
// still fit a path buffer of the system's limit with its terminating zero.
bool FitsPathLimit(std::size_t patternLength, std::size_t nameLength);

// Finds the files of the browser's disk cache. Runs synchronously on the calling thread,
// never opens a file and reports nothing: an unreadable directory simply contributes no
// entries.
class CacheScanner {
  public:
    std::string cacheDir;
    bool useOnlyGxxxx = true;
    std::int64_t minimalFileSize = 307200;
    std::vector<OperaCacheEntry> entries;
    SortOrder order;

    // Stores the options (the size in kB, widened before multiplying) without scanning.
    void SetOptions(const std::string& dir, std::int32_t minimalFileSizeKB, bool onlyGxxxx);

    // Throws away the entries, scans cacheDir again and sorts the result.
    void Rescan();

    // Sorts `entries` by `order`.
    void SortEntries();

    // Appends every big enough file below the directory that `pattern` searches, its
    // whole subtree included. Order within the entries is not defined until sorted.
    void ScanDirectory(const std::string& pattern);

    // What is known of a listed entry, for playing, copying and reading its media facts.
    cache::Entry Describe(const OperaCacheEntry& entry) const;

    // Appends file `entry` of `directory` when it reaches the minimal size.
    void AddFile(const std::string& directory, const platform::DirectoryEntry& entry);

  private:
    void ScanTopLevel(const std::string& pattern, bool onlyGxxxx);
};
