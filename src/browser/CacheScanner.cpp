#include "browser/CacheScanner.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <limits>
#include <utility>

#include "browser/ScanThreads.h"
#include "cache/CacheLayout.h"
#include "platform/Collation.h"
#include "platform/FileTime.h"

namespace {

constexpr char kSeparator = '/';
constexpr char kAllFiles[] = "*.*";
// "/*.*": what a directory's pattern adds to the directory's own path.
constexpr std::size_t kPatternTail = 1 + sizeof(kAllFiles) - 1;

using EntryQueue = std::deque<OperaCacheEntry>;

bool StartsWithG(const platform::DirectoryEntry& entry) {
    return entry.nameLength >= 2 && entry.name[0] == 'g' && entry.name[1] == '_';
}

OperaCacheEntry MakeEntry(const std::string& directory, const platform::DirectoryEntry& entry) {
    OperaCacheEntry found;
    found.fileName.reserve(directory.size() + 1 + entry.nameLength);
    found.fileName.append(directory).append(1, kSeparator);
    found.fileName.append(entry.name, entry.nameLength);
    found.size = entry.size;
    found.timestamp =
        static_cast<std::int32_t>(platform::PackLocalDosDateTime(entry.lastWriteTime));
    return found;
}

// Collects the big enough files of one directory tree, depth first. A deque grows
// without copying what it holds, which keeps the peak memory of a big scan low.
class TreeScanner {
  public:
    TreeScanner(std::int64_t minimalFileSize, EntryQueue& out, ScanControl* control)
        : minimalFileSize_(minimalFileSize), out_(out), control_(control) {}

    void Add(const std::string& directory, const platform::DirectoryEntry& entry) {
        if (entry.size >= minimalFileSize_) {
            out_.push_back(MakeEntry(directory, entry));
        }
    }

    // `directory` is the path of the open `listing`; it is used as the scratch path of
    // the subtree and comes back unchanged.
    void Scan(platform::DirectoryListing& listing, std::string& directory) {
        const std::size_t patternLength = directory.size() + kPatternTail;
        platform::DirectoryEntry entry;
        while (listing.Next(entry)) {
            if (control_) {
                if (control_->stop.load(std::memory_order_relaxed)) {
                    return;
                }
                control_->looked.fetch_add(1, std::memory_order_relaxed);
            }
            if (entry.kind == platform::EntryKind::File) {
                Add(directory, entry);
            } else if (entry.kind == platform::EntryKind::Directory &&
                       FitsPathLimit(patternLength, entry.nameLength)) {
                platform::DirectoryListing sub(listing, entry.name);
                const std::size_t length = directory.size();
                directory.append(1, kSeparator).append(entry.name, entry.nameLength);
                Scan(sub, directory);
                directory.resize(length);
            }
        }
    }

  private:
    std::int64_t minimalFileSize_;
    EntryQueue& out_;
    ScanControl* control_;
};

// Scans the subdirectories `names` of the open `top` (path `directory`) with their
// subtrees, sharing them out among the threads.
void ScanSubtrees(const platform::DirectoryListing& top, const std::string& directory,
                  const std::vector<std::string>& names, std::int64_t minimalFileSize,
                  ScanControl* control, std::vector<EntryQueue>& results) {
    std::atomic<std::size_t> next{0};
    auto work = [&](EntryQueue& out) {
        TreeScanner scanner(minimalFileSize, out, control);
        std::string path;
        for (std::size_t i = next++; i < names.size(); i = next++) {
            platform::DirectoryListing sub(top, names[i].c_str());
            path.assign(directory).append(1, kSeparator).append(names[i]);
            scanner.Scan(sub, path);
        }
    };
    // The cache's g_ folders are independent of each other.
    const unsigned threads =
        static_cast<unsigned>(std::min<std::size_t>(scan::kThreads, names.size()));
    results.resize(std::max(1u, threads) + 1);
    scan::RunShared(threads, [&](unsigned slot) { work(results[slot + 1]); });
}

// Moves the found entries over, releasing the queues block by block as they empty.
void Gather(std::vector<EntryQueue>& results, std::vector<OperaCacheEntry>& entries) {
    std::size_t total = entries.size();
    for (const auto& queue : results) {
        total += queue.size();
    }
    entries.reserve(total);
    for (auto& queue : results) {
        while (!queue.empty()) {
            entries.push_back(std::move(queue.front()));
            queue.pop_front();
        }
    }
}

// Puts entries[order[i]] at position i, following each cycle once, so that no second
// copy of the entries is ever made.
void ApplyOrder(std::vector<OperaCacheEntry>& entries, const std::vector<std::uint32_t>& order) {
    std::vector<bool> placed(entries.size(), false);
    for (std::size_t start = 0; start < entries.size(); ++start) {
        if (placed[start] || order[start] == start) {
            placed[start] = true;
            continue;
        }
        OperaCacheEntry held = std::move(entries[start]);
        std::size_t to = start;
        for (;;) {
            placed[to] = true;
            const std::size_t from = order[to];
            if (from == start) {
                entries[to] = std::move(held);
                break;
            }
            entries[to] = std::move(entries[from]);
            to = from;
        }
    }
}

struct NumberKey {
    std::uint64_t key;
    std::uint32_t index;
};

using MediaKey = std::function<std::uint64_t(const OperaCacheEntry&, std::int32_t)>;

std::vector<std::uint32_t> SortByNumber(const std::vector<OperaCacheEntry>& entries,
                                        const SortOrder& order, const MediaKey& mediaKey) {
    std::vector<NumberKey> keys(entries.size());
    const bool media = order.sortColumn == kColumnLength || order.sortColumn == kColumnPicture;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const OperaCacheEntry& e = entries[i];
        // Signed sizes are biased so that unsigned order is numeric order.
        keys[i].key = media ? mediaKey(e, order.sortColumn)
                      : order.sortColumn == 1
                          ? static_cast<std::uint64_t>(e.size) ^ (std::uint64_t{1} << 63)
                          : static_cast<std::uint32_t>(e.timestamp);
        keys[i].index = static_cast<std::uint32_t>(i);
    }
    // Equal keys keep the order they had, so that a column of many unknowns (media facts
    // not read yet) does not shuffle the rest on every click.
    if (order.sortAscending) {
        std::sort(keys.begin(), keys.end(), [](const NumberKey& a, const NumberKey& b) {
            return a.key < b.key || (a.key == b.key && a.index < b.index);
        });
    } else {
        std::sort(keys.begin(), keys.end(), [](const NumberKey& a, const NumberKey& b) {
            return a.key > b.key || (a.key == b.key && a.index < b.index);
        });
    }
    std::vector<std::uint32_t> result(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        result[i] = keys[i].index;
    }
    return result;
}

// A window of a name's collation key: the bytes after the part that every key shares
// (the cache directory itself), enough to order almost all names without touching the
// names again. Names whose windows tie are collated in full.
constexpr std::size_t kNameKeyBytes = 27;
struct NameKey {
    unsigned char bytes[kNameKeyBytes];
    bool truncated;
    std::uint32_t index;
};

class KeyMaker {
  public:
    // The collation key of `text`, valid until the next call.
    const char* Make(const std::string& text, std::size_t& length) {
        length = platform::CollationKey(text.c_str(), buffer_.data(), buffer_.size());
        if (length >= buffer_.size()) {
            buffer_.resize(length + 1);
            length = platform::CollationKey(text.c_str(), buffer_.data(), buffer_.size());
        }
        return buffer_.data();
    }

  private:
    std::vector<char> buffer_ = std::vector<char>(1024);
};

std::size_t CommonPrefix(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    const std::size_t limit = std::min(aLength, bLength);
    std::size_t i = 0;
    while (i < limit && a[i] == b[i]) {
        ++i;
    }
    return i;
}

// Fills the key windows after `shared` bytes. Returns the length that all keys really
// share when it is less than `shared` (the windows are then useless), else `shared`.
std::size_t FillNameKeys(const std::vector<OperaCacheEntry>& entries, const std::string& reference,
                         std::size_t shared, std::vector<NameKey>& keys) {
    KeyMaker maker;
    std::size_t common = shared;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::size_t length = 0;
        const char* key = maker.Make(entries[i].fileName, length);
        common = std::min(common, CommonPrefix(key, length, reference.data(), reference.size()));
        NameKey& k = keys[i];
        const std::size_t available = length > shared ? length - shared : 0;
        const std::size_t used = std::min(available, kNameKeyBytes);
        if (used > 0) {
            std::memcpy(k.bytes, key + shared, used);
        }
        std::memset(k.bytes + used, 0, kNameKeyBytes - used);
        // A full window may hide more bytes, even when none follow in this key: a key
        // that fills it exactly must still be told from a longer one with its prefix.
        k.truncated = available >= kNameKeyBytes;
        k.index = static_cast<std::uint32_t>(i);
    }
    return common;
}

std::vector<std::uint32_t> SortByName(const std::vector<OperaCacheEntry>& entries,
                                      const SortOrder& order) {
    std::vector<NameKey> keys(entries.size());
    KeyMaker maker;
    std::size_t length = 0;
    const char* first = maker.Make(entries.front().fileName, length);
    const std::string reference(first, length);
    // A guess of the shared part from three names; the fill checks it against all.
    std::size_t shared = reference.size();
    for (std::size_t probe : {entries.size() / 2, entries.size() - 1}) {
        const char* key = maker.Make(entries[probe].fileName, length);
        shared = std::min(shared, CommonPrefix(key, length, reference.data(), reference.size()));
    }
    const std::size_t common = FillNameKeys(entries, reference, shared, keys);
    if (common < shared) {
        FillNameKeys(entries, reference, common, keys);
    }
    // Keys hold no zero byte, so zero padding sorts a shorter key first, as it should;
    // equal windows of which one is full means both are, and only the names can tell.
    auto less = [&entries](const NameKey& a, const NameKey& b) {
        const int c = std::memcmp(a.bytes, b.bytes, kNameKeyBytes);
        if (c != 0 || !a.truncated) {
            return c < 0;
        }
        return platform::Collate(entries[a.index].fileName.c_str(),
                                 entries[b.index].fileName.c_str()) < 0;
    };
    if (order.sortAscending) {
        std::sort(keys.begin(), keys.end(), less);
    } else {
        std::sort(keys.begin(), keys.end(),
                  [&less](const NameKey& a, const NameKey& b) { return less(b, a); });
    }
    std::vector<std::uint32_t> result(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        result[i] = keys[i].index;
    }
    return result;
}

}  // namespace

bool CompareEntries(const OperaCacheEntry& a, const OperaCacheEntry& b, const SortOrder& order) {
    switch (order.sortColumn) {
        case 0: {
            const int c = platform::Collate(a.fileName.c_str(), b.fileName.c_str());
            return order.sortAscending ? c < 0 : c > 0;
        }
        case 1:
            return order.sortAscending ? a.size < b.size : a.size > b.size;
        case 2: {
            // Packed years from 2044 on have the top bit set: unsigned keeps them last.
            const auto ta = static_cast<std::uint32_t>(a.timestamp);
            const auto tb = static_cast<std::uint32_t>(b.timestamp);
            return order.sortAscending ? ta < tb : ta > tb;
        }
        default:
            return false;
    }
}

std::string SubdirectoryPattern(const std::string& pattern, const std::string& name) {
    const std::size_t cut = pattern.rfind(kSeparator);
    const std::size_t tail = cut == std::string::npos ? 0 : cut + 1;
    std::string result;
    result.reserve(pattern.size() + name.size() + 1);
    result.append(pattern, 0, tail).append(name).append(1, kSeparator);
    result.append(pattern, tail, std::string::npos);
    return result;
}

std::string TopLevelPattern(const std::string& cacheDir) {
    if (!cacheDir.empty() && cacheDir.back() == kSeparator) {
        return cacheDir + kAllFiles;
    }
    return cacheDir + kSeparator + kAllFiles;
}

std::string PatternDirectory(const std::string& pattern) {
    const std::size_t cut = pattern.rfind(kSeparator);
    return cut == std::string::npos ? std::string() : pattern.substr(0, cut);
}

bool FitsPathLimit(std::size_t patternLength, std::size_t nameLength) {
    // The subdirectory's pattern is patternLength + nameLength + 1 long and needs one
    // more byte for its zero. Subtracting instead of adding keeps huge lengths from
    // wrapping around to a sum that looks small.
    return nameLength < platform::kMaxPath - 1 &&
           patternLength < platform::kMaxPath - 1 - nameLength;
}

void CacheScanner::SetOptions(const std::string& dir, std::int32_t minimalFileSizeKB,
                              bool onlyGxxxx) {
    cacheDir = dir;
    useOnlyGxxxx = onlyGxxxx;
    minimalFileSize = static_cast<std::int64_t>(minimalFileSizeKB) * 1024;
}

void CacheScanner::Rescan() {
    entries.clear();
    entries.shrink_to_fit();
    details.clear();
    details.shrink_to_fit();
    filesRead = 0;
    format = cache::Format::Classic;
    entriesDir = cacheDir;
    if (!cacheDir.empty()) {
        // The folder's content says how to read it; the g_ option is the classic layout's.
        const cache::CacheFolder folder = cache::ResolveCacheFolder(cacheDir);
        format = folder.format;
        entriesDir = folder.entriesDir;
        switch (format) {
            case cache::Format::Classic:
                remembered.clear();
                lastStreams.valid = false;
                ScanTopLevel(TopLevelPattern(cacheDir), useOnlyGxxxx);
                break;
            case cache::Format::Chromium:
                ScanChromium(folder.entriesDir);
                break;
            case cache::Format::Firefox:
                ScanFirefox(folder.entriesDir);
                break;
        }
    } else {
        remembered.clear();
        lastStreams.valid = false;
    }
    if (!Stopped()) {
        SortEntries();
    }
}

CacheScanner::Listing CacheScanner::TakeListing() {
    Listing listing;
    listing.entries = std::move(entries);
    listing.details = std::move(details);
    listing.format = format;
    listing.entriesDir = entriesDir;
    listing.filesRead = filesRead;
    entries.clear();
    details.clear();
    return listing;
}

void CacheScanner::Adopt(Listing listing) {
    entries = std::move(listing.entries);
    details = std::move(listing.details);
    format = listing.format;
    entriesDir = std::move(listing.entriesDir);
    filesRead = listing.filesRead;
}

void CacheScanner::ScanDirectory(const std::string& pattern) {
    ScanTopLevel(pattern, false);
}

void CacheScanner::AddFile(const std::string& directory, const platform::DirectoryEntry& entry) {
    if (entry.size >= minimalFileSize) {
        entries.push_back(MakeEntry(directory, entry));
    }
}

void CacheScanner::ScanTopLevel(const std::string& pattern, bool onlyGxxxx) {
    const std::string directory = PatternDirectory(pattern);
    platform::DirectoryListing top(directory.empty() ? std::string(1, kSeparator) : directory);
    if (!top.IsOpen()) {
        return;
    }
    // results[0] takes the files of the top level itself, the rest one per thread.
    std::vector<EntryQueue> results(1);
    TreeScanner topFiles(minimalFileSize, results[0], control);
    std::vector<std::string> subtrees;
    platform::DirectoryEntry entry;
    while (top.Next(entry)) {
        if (onlyGxxxx) {
            // Only g_ folders count here; hidden and system entries are not even seen.
            if (!entry.IsHidden() && !entry.IsSystem() &&
                entry.kind == platform::EntryKind::Directory && StartsWithG(entry) &&
                FitsPathLimit(pattern.size(), entry.nameLength)) {
                subtrees.emplace_back(entry.name, entry.nameLength);
            }
        } else if (entry.kind == platform::EntryKind::File) {
            topFiles.Add(directory, entry);
        } else if (entry.kind == platform::EntryKind::Directory &&
                   FitsPathLimit(pattern.size(), entry.nameLength)) {
            subtrees.emplace_back(entry.name, entry.nameLength);
        }
    }
    if (!subtrees.empty()) {
        ScanSubtrees(top, directory, subtrees, minimalFileSize, control, results);
    }
    Gather(results, entries);
}

void CacheScanner::SortEntries() {
    if (entries.size() < 2) {
        return;
    }
    if (order.sortColumn == kColumnType || order.sortColumn == kColumnAddress ||
        (order.sortColumn == kColumnFileName && format != cache::Format::Classic)) {
        SortByText(order);
        return;
    }
    const bool media = order.sortColumn == kColumnLength || order.sortColumn == kColumnPicture;
    if (media && !mediaKey) {
        return;
    }
    if (entries.size() > std::numeric_limits<std::uint32_t>::max() ||
        (order.sortColumn != 0 && order.sortColumn != 1 && order.sortColumn != 2 && !media)) {
        std::sort(entries.begin(), entries.end(),
                  [this](const OperaCacheEntry& a, const OperaCacheEntry& b) {
                      return CompareEntries(a, b, order);
                  });
        return;
    }
    const std::vector<std::uint32_t> sorted =
        order.sortColumn == 0 ? SortByName(entries, order) : SortByNumber(entries, order, mediaKey);
    ApplyOrder(entries, sorted);
}

cache::Entry CacheScanner::Describe(const OperaCacheEntry& entry) const {
    if (const EntryDetail* detail = Detail(entry); detail && format != cache::Format::Classic) {
        return detail->entry;
    }
    cache::Entry described;
    described.file = entry.fileName;
    described.bodySize = static_cast<std::uint64_t>(entry.size);
    described.resourceSize = described.bodySize;
    if (const EntryDetail* detail = Detail(entry)) {
        described.contentType = detail->entry.contentType;
    }
    return described;
}
