// The scanner's part for today's caches: Chromium's simple cache and Firefox's cache2.

#include <algorithm>
#include <atomic>
#include <string_view>

#include "browser/CacheScanner.h"
#include "browser/ScanThreads.h"
#include "cache/CacheLayout.h"
#include "cache/EntryReaders.h"
#include "cache/MediaType.h"
#include "platform/Collation.h"
#include "platform/FileTime.h"
#include "platform/ReadOnlyFile.h"

namespace {

platform::FileIdentity IdentityOf(const platform::DirectoryEntry& entry) {
    platform::FileIdentity identity;
    identity.device = entry.device;
    identity.inode = entry.inode;
    identity.size = entry.size;
    identity.lastWriteTimeNs = entry.lastWriteTimeNs;
    return identity;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string Join(const std::string& dir, std::string_view name) {
    std::string path = dir;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path.append(name);
}

const std::string kNothing;

struct ListedFile {
    std::string name;
    platform::FileIdentity identity;
    bool present = false;  // false: gone, or no regular file, by the time it was looked at
};

// The files of `dir` whose names `wanted` keeps, with their identities. One look-up per
// file is most of what a rescan costs (a cache holds tens of thousands of files), so the
// look-ups are shared out over the scan's threads once there are enough of them.
template <typename Wanted>
std::vector<ListedFile> ListFiles(const std::string& dir, const Wanted& wanted) {
    platform::DirectoryListing listing(dir);
    listing.SkipFileDetails();
    std::vector<ListedFile> files;
    platform::DirectoryEntry entry;
    while (listing.Next(entry)) {
        const std::string_view name(entry.name, entry.nameLength);
        if (entry.kind == platform::EntryKind::File && wanted(name)) {
            files.push_back({std::string(name), {}, false});
        }
    }
    constexpr std::size_t kChunk = 256;
    std::atomic<std::size_t> next{0};
    auto work = [&](unsigned) {
        platform::DirectoryEntry details;
        for (std::size_t first = next.fetch_add(kChunk); first < files.size();
             first = next.fetch_add(kChunk)) {
            const std::size_t last = std::min(files.size(), first + kChunk);
            for (std::size_t i = first; i < last; ++i) {
                ListedFile& file = files[i];
                file.present = listing.FileDetails(file.name.c_str(), details);
                if (file.present) {
                    file.identity = IdentityOf(details);
                }
            }
        }
    };
    scan::RunShared(files.size() > 2 * kChunk ? scan::kThreads : 1, work);
    return files;
}

}  // namespace

void CacheScanner::ScanChromium(const std::string& dir) {
    // `_1` files hold no body; `todelete_` files are on their way out; the index and
    // anything else of the browser's are no entries.
    std::vector<ListedFile> files = ListFiles(dir, [](std::string_view name) {
        return name.substr(0, 9) != "todelete_" && (EndsWith(name, "_0") || EndsWith(name, "_s"));
    });
    std::unordered_map<std::string, platform::FileIdentity> pieces;
    for (ListedFile& file : files) {
        if (file.present && EndsWith(file.name, "_s")) {
            file.name.resize(file.name.size() - 2);
            pieces.emplace(std::move(file.name), file.identity);
        }
    }
    std::unordered_map<std::string, Remembered> seen;
    for (const ListedFile& file : files) {
        if (!file.present || !EndsWith(file.name, "_0")) {
            continue;
        }
        const auto piecesIt = pieces.find(file.name.substr(0, file.name.size() - 2));
        const bool hasPieces = piecesIt != pieces.end();
        // A body is never larger than the file that holds it: files that cannot reach the
        // minimal size are not even opened.
        const std::int64_t largest =
            std::max(file.identity.size, hasPieces ? piecesIt->second.size : 0);
        if (largest < minimalFileSize) {
            continue;
        }
        TakeModernEntry(Join(dir, file.name), file.identity,
                        hasPieces ? Join(dir, piecesIt->first + "_s") : std::string(),
                        hasPieces ? piecesIt->second : platform::FileIdentity{}, seen);
    }
    remembered = std::move(seen);
}

void CacheScanner::ScanFirefox(const std::string& dir) {
    const std::vector<ListedFile> files = ListFiles(dir, [](std::string_view) { return true; });
    std::unordered_map<std::string, Remembered> seen;
    for (const ListedFile& file : files) {
        if (file.present && file.identity.size >= minimalFileSize) {
            TakeModernEntry(Join(dir, file.name), file.identity, std::string(),
                            platform::FileIdentity{}, seen);
        }
    }
    remembered = std::move(seen);
}

void CacheScanner::TakeModernEntry(const std::string& path, const platform::FileIdentity& identity,
                                   const std::string& piecesPath,
                                   const platform::FileIdentity& piecesIdentity,
                                   std::unordered_map<std::string, Remembered>& seen) {
    Remembered known;
    const auto it = remembered.find(path);
    if (it != remembered.end() && it->second.identity == identity &&
        it->second.piecesIdentity == piecesIdentity) {
        known = std::move(it->second);
    } else {
        ++filesRead;
        cache::ReadEntry read;
        const bool ok = format == cache::Format::Chromium
                            ? cache::ReadChromiumFiles(path, piecesPath, read)
                            : cache::ReadFirefoxFile(path, read);
        // Remembered by what the listing saw, so that the next listing finds it again;
        // a file that changed between the two simply reads again next time.
        known.identity = identity;
        known.piecesIdentity = piecesIdentity;
        known.listed = ok && read.media;
        if (known.listed) {
            known.detail.name = cache::DisplayNameFromUrl(read.entry.url);
            known.detail.entry = std::move(read.entry);
        }
    }
    if (known.listed &&
        known.detail.entry.bodySize >=
            static_cast<std::uint64_t>(std::max<std::int64_t>(minimalFileSize, 0))) {
        OperaCacheEntry row;
        row.fileName = path;
        row.size = static_cast<std::int64_t>(known.detail.entry.bodySize);
        row.timestamp = static_cast<std::int32_t>(
            platform::PackLocalDosDateTime(known.detail.entry.lastWriteTime));
        details.push_back(known.detail);
        row.detail = static_cast<std::uint32_t>(details.size());
        entries.push_back(std::move(row));
    }
    seen.emplace(path, std::move(known));
}

const EntryDetail* CacheScanner::Detail(const OperaCacheEntry& entry) const {
    return entry.detail == 0 || entry.detail > details.size() ? nullptr
                                                              : &details[entry.detail - 1];
}

const std::string& CacheScanner::DisplayName(const OperaCacheEntry& entry) const {
    const EntryDetail* detail = Detail(entry);
    return detail ? detail->name : kNothing;
}

const std::string& CacheScanner::Address(const OperaCacheEntry& entry) const {
    const EntryDetail* detail = Detail(entry);
    return detail ? detail->entry.url : kNothing;
}

const std::string& CacheScanner::ContentType(const OperaCacheEntry& entry) const {
    if (const EntryDetail* detail = Detail(entry)) {
        return detail->entry.contentType;
    }
    if (format != cache::Format::Classic || details.size() >= UINT32_MAX - 1) {
        return kNothing;
    }
    // A classic file: its first bytes tell, read once when it is first asked for.
    EntryDetail sniffed;
    sniffed.entry.file = entry.fileName;
    platform::ReadOnlyFile file(entry.fileName);
    unsigned char head[cache::kSniffBytes];
    const std::int64_t got = file.IsOpen() ? file.ReadAt(0, head, sizeof head) : -1;
    if (got > 0) {
        sniffed.entry.contentType = cache::SniffMediaType(head, static_cast<std::size_t>(got));
    }
    details.push_back(std::move(sniffed));
    entry.detail = static_cast<std::uint32_t>(details.size());
    return details.back().entry.contentType;
}

void CacheScanner::SortByText(const SortOrder& by) {
    // Keys made once: a modern cache has some thousands of rows, not hundreds of thousands.
    std::vector<std::pair<const std::string*, std::uint32_t>> keys(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const OperaCacheEntry& e = entries[i];
        const std::string* text = &e.fileName;
        if (by.sortColumn == kColumnType) {
            const EntryDetail* detail = Detail(e);
            text = detail ? &detail->entry.contentType : &kNothing;
        } else if (by.sortColumn == kColumnAddress) {
            text = &Address(e);
        } else if (Detail(e) != nullptr && format != cache::Format::Classic) {
            text = &Detail(e)->name;
        }
        keys[i] = {text, static_cast<std::uint32_t>(i)};
    }
    auto less = [](const auto& a, const auto& b) {
        return platform::Collate(a.first->c_str(), b.first->c_str()) < 0;
    };
    if (by.sortAscending) {
        std::stable_sort(keys.begin(), keys.end(), less);
    } else {
        std::stable_sort(keys.begin(), keys.end(),
                         [&less](const auto& a, const auto& b) { return less(b, a); });
    }
    std::vector<OperaCacheEntry> sorted;
    sorted.reserve(entries.size());
    for (const auto& key : keys) {
        sorted.push_back(std::move(entries[key.second]));
    }
    entries = std::move(sorted);
}
