#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
};
