#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "cache/CacheEntry.h"
#include "cache/EntryReaders.h"
#include "cache/StreamAssembly.h"
#include "platform/DirectoryListing.h"
#include "platform/ReadOnlyFile.h"

// One cached file that is big enough to be offered for playing.
struct OperaCacheEntry {
    std::string fileName;        // full path: the scanned directory, "/", the name as listed
    std::int64_t size = 0;       // the file's size; for a modern cache the body's bytes present
    std::int32_t timestamp = 0;  // local last-write time, packed in the DOS date-time format
    // 0, or 1 + the index of what else is known of it in CacheScanner::details. It sits in
    // what would be padding, so a classic entry costs no more than its three fields. A
    // classic file's type is learnt when its row is first shown, hence mutable.
    mutable std::uint32_t detail = 0;
};

// The list's columns, in their order.
enum CacheColumn : std::int32_t {
    kColumnFileName = 0,
    kColumnSize = 1,
    kColumnTimestamp = 2,
    kColumnType = 3,
    kColumnAddress = 4,
    // Media facts: sorted by the keys CacheScanner::mediaKey gives.
    kColumnLength = 5,
    kColumnPicture = 6,
    kCacheColumnCount = 7,
};

// The sort state of the list: a CacheColumn and the direction.
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

// What a row of a modern cache (or a classic file whose type has been looked at) holds
// beyond OperaCacheEntry.
struct EntryDetail {
    cache::Entry entry;
    std::string name;  // what "File name" shows: made from the address
};

// Lets another thread stop a scan early and follow how far it got.
struct ScanControl {
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> looked{0};  // files looked at so far
};

// Finds the files of the browser's disk cache and reports nothing: an unreadable
// directory simply contributes no entries. Runs synchronously on the calling thread. The
// folder's format is found from its content: in the classic layout no file is opened; in
// Chromium's and Firefox's caches each entry that may reach the minimal size is read
// with a few small reads, once: what was learnt is kept by the file's identity, so a
// rescan reads only what changed.
class CacheScanner {
  public:
    std::string cacheDir;
    bool useOnlyGxxxx = true;
    std::int64_t minimalFileSize = 307200;
    std::vector<OperaCacheEntry> entries;
    SortOrder order;
    // The format of the last scan and the folder that held its entries.
    cache::Format format = cache::Format::Classic;
    std::string entriesDir;
    // The sort key of an entry in a media facts column (bigger is longer or larger; 0 for
    // what is not known). Unset: those columns keep the order as it is.
    std::function<std::uint64_t(const OperaCacheEntry&, std::int32_t column)> mediaKey;

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

    // The texts of a row's own columns: the name that "File name" shows for a modern
    // entry (empty for a classic file, shown by its path), the address, and the type.
    // A classic file's type is read from its first bytes on the first call.
    const std::string& DisplayName(const OperaCacheEntry& entry) const;
    const std::string& Address(const OperaCacheEntry& entry) const;
    const std::string& ContentType(const OperaCacheEntry& entry) const;
    // The detail of a row, or null.
    const EntryDetail* Detail(const OperaCacheEntry& entry) const;

    // Appends file `entry` of `directory` when it reaches the minimal size.
    void AddFile(const std::string& directory, const platform::DirectoryEntry& entry);

    // How many entry files the last scan opened (a rescan of an unchanged cache: none).
    std::size_t filesRead = 0;

    // Set while a scan may be stopped from another thread: a stopped scan's entries are
    // a part of the cache's, never to be shown.
    ScanControl* control = nullptr;
    bool Stopped() const { return control && control->stop.load(std::memory_order_relaxed); }

    // What a scan found, moved whole from the scanner that made it to the one that shows
    // it, so that the two never share it.
    struct Listing {
        std::vector<OperaCacheEntry> entries;
        std::vector<EntryDetail> details;
        cache::Format format = cache::Format::Classic;
        std::string entriesDir;
        std::size_t filesRead = 0;
    };
    Listing TakeListing();
    void Adopt(Listing listing);

  private:
    // What an earlier scan learnt of one entry file, valid while its identity holds.
    struct Remembered {
        platform::FileIdentity identity;
        platform::FileIdentity piecesIdentity;
        bool readable = false;  // `detail` holds the entry, media or a part of a stream
        bool media = false;     // listed on its own unless it is part of a stream
        bool probed = false;    // `tracks` is known
        cache::TrackProbe tracks;
        EntryDetail detail;
    };

    void ScanTopLevel(const std::string& pattern, bool onlyGxxxx);
    void ScanChromium(const std::string& dir);
    void ScanFirefox(const std::string& dir);
    // A file of a modern cache as the listing saw it.
    struct ModernFile {
        std::string path;
        platform::FileIdentity identity;
        std::string piecesPath;  // Chromium's `_s`, or empty
        platform::FileIdentity piecesIdentity;
        bool lookedAt = true;  // false: the identities are not known until it is read
    };
    // Reads (or recalls) the entries of a modern cache and lists them.
    void TakeModernEntries(const std::vector<ModernFile>& files,
                           const platform::DirectoryListing& listing, const std::string& dir);
    // Reads one entry into `known`, from `edges` where the scan read them; safe on several
    // threads at once.
    static void ReadModernEntry(cache::Format readAs, const ModernFile& file, Remembered& known,
                                const cache::OpenEntryFile& open, const cache::KnownEdges* edges);
    // Lists what the modern scan read: each stream as one row, then the media entries
    // that are no part of one.
    void ListModernEntries(std::unordered_map<std::string, Remembered>& seen, bool unchanged);
    void AddRow(const std::string& path, EntryDetail detail);
    void SortByText(const SortOrder& order);

    mutable std::vector<EntryDetail> details;
    std::unordered_map<std::string, Remembered> remembered;
    // The streams the last modern scan found among `remembered`'s entries, and which of
    // those (in the order of their files) they take up.
    struct FoundStreams {
        std::vector<std::shared_ptr<const cache::Stream>> streams;
        std::vector<std::size_t> consumed;
        bool valid = false;
    };
    FoundStreams lastStreams;
};
