// The scanner's part for today's caches: Chromium's simple cache and Firefox's cache2.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

#include "browser/CacheScanner.h"
#include "browser/ScanThreads.h"
#include "cache/CacheLayout.h"
#include "cache/EntryReaders.h"
#include "cache/MediaType.h"
#include "cache/StreamAssembly.h"
#include "media/MediaFacts.h"
#include "platform/Collation.h"
#include "platform/FileEdges.h"
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
    bool present = false;   // false: gone, or no regular file, by the time it was looked at
    bool lookedAt = false;  // `identity` is known: the file was looked up
};

// The files of `dir` whose names `wanted` keeps, those that `lookUp` asks for with their
// identities. One look-up per file is most of what a rescan costs (a cache holds tens of
// thousands of files), so the look-ups are shared out over the scan's threads once there
// are enough of them. A file nothing is known of yet is opened and read anyway, which
// tells its identity: looking it up first would only cost more.
template <typename Wanted, typename LookUp>
std::vector<ListedFile> ListFiles(platform::DirectoryListing& listing, const Wanted& wanted,
                                  const LookUp& lookUp, ScanControl* control) {
    listing.SkipFileDetails();
    std::vector<ListedFile> files;
    platform::DirectoryEntry entry;
    while (listing.Next(entry)) {
        if (control) {
            if (control->stop.load(std::memory_order_relaxed)) {
                return {};
            }
            control->looked.fetch_add(1, std::memory_order_relaxed);
        }
        const std::string_view name(entry.name, entry.nameLength);
        if (entry.kind == platform::EntryKind::File && wanted(name)) {
            const bool look = lookUp(name);
            files.push_back({std::string(name), {}, !look, look});
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
                if (!file.lookedAt) {
                    continue;
                }
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

// Opens the files of the listed folder relative to it, whatever else by its path.
cache::OpenEntryFile OpenIn(const platform::DirectoryListing& listing, const std::string& dir) {
    return [&listing, folder = Join(dir, "")](const std::string& path) {
        return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0
                   ? listing.OpenFile(path.c_str() + folder.size())
                   : platform::ReadOnlyFile(path);
    };
}

}  // namespace

void CacheScanner::ScanChromium(const std::string& dir) {
    // `_1` files hold no body; `todelete_` files are on their way out; the index and
    // anything else of the browser's are no entries.
    platform::DirectoryListing listing(dir);
    // Batched reads want every file's size before they start.
    const bool lookUpAll = platform::EdgeReader::Supported();
    std::vector<ListedFile> files = ListFiles(
        listing,
        [](std::string_view name) {
            return name.substr(0, 9) != "todelete_" &&
                   (EndsWith(name, "_0") || EndsWith(name, "_s"));
        },
        [&](std::string_view name) {
            // An entry's pieces are looked up with the entry they belong to.
            if (lookUpAll) {
                return true;
            }
            std::string entry = Join(dir, name);
            entry.back() = '0';
            return remembered.count(entry) > 0;
        },
        control);
    std::unordered_map<std::string, platform::FileIdentity> pieces;
    for (ListedFile& file : files) {
        if (file.present && EndsWith(file.name, "_s")) {
            file.name.resize(file.name.size() - 2);
            pieces.emplace(std::move(file.name), file.identity);
        }
    }
    // Every entry is read, however small: the playlists and segments of a stream are
    // small, and only together do they reach the minimal size.
    std::vector<ModernFile> modern;
    for (const ListedFile& file : files) {
        if (!file.present || !EndsWith(file.name, "_0")) {
            continue;
        }
        const auto piecesIt = pieces.find(file.name.substr(0, file.name.size() - 2));
        const bool hasPieces = piecesIt != pieces.end();
        modern.push_back({Join(dir, file.name), file.identity,
                          hasPieces ? Join(dir, piecesIt->first + "_s") : std::string(),
                          hasPieces ? piecesIt->second : platform::FileIdentity{}, file.lookedAt});
    }
    TakeModernEntries(modern, listing, dir);
}

void CacheScanner::ScanFirefox(const std::string& dir) {
    platform::DirectoryListing listing(dir);
    const bool lookUpAll = platform::EdgeReader::Supported();
    const std::vector<ListedFile> files = ListFiles(
        listing, [](std::string_view) { return true; },
        [&](std::string_view name) { return lookUpAll || remembered.count(Join(dir, name)) > 0; },
        control);
    std::vector<ModernFile> modern;
    for (const ListedFile& file : files) {
        if (file.present) {
            modern.push_back({Join(dir, file.name), file.identity, {}, {}, file.lookedAt});
        }
    }
    TakeModernEntries(modern, listing, dir);
}

void CacheScanner::TakeModernEntries(const std::vector<ModernFile>& files,
                                     const platform::DirectoryListing& listing,
                                     const std::string& dir) {
    // What the last scan learnt of a file, where it is still the file it read.
    const auto learnt = [this](const ModernFile& file) -> Remembered* {
        const auto it = remembered.find(file.path);
        return file.lookedAt && it != remembered.end() && it->second.identity == file.identity &&
                       it->second.piecesIdentity == file.piecesIdentity
                   ? &it->second
                   : nullptr;
    };
    // The same files as last time, none of them changed: what that scan learnt stands as it
    // is, without being moved into a map of its own file by file.
    if (files.size() == remembered.size() &&
        std::all_of(files.begin(), files.end(),
                    [&](const ModernFile& file) { return learnt(file) != nullptr; })) {
        ListModernEntries(remembered, true);
        return;
    }
    std::unordered_map<std::string, Remembered> seen;
    seen.reserve(files.size());
    // What an earlier scan learnt is taken over; the rest is read, shared out over the
    // scan's threads, since a first scan opens every file of the cache.
    std::vector<std::pair<const ModernFile*, Remembered*>> toRead;
    for (const ModernFile& file : files) {
        Remembered* known = learnt(file);
        auto [placed, added] = seen.emplace(file.path, known ? std::move(*known) : Remembered{});
        if (added && !known) {
            toRead.emplace_back(&file, &placed->second);
        }
    }
    filesRead += toRead.size();
    constexpr std::size_t kChunk = platform::EdgeReader::kBatch;
    std::atomic<std::size_t> next{0};
    const cache::Format readAs = format;
    const cache::OpenEntryFile open = OpenIn(listing, dir);
    const std::size_t nameAt = Join(dir, "").size();
    const cache::EdgeSizes sizes = cache::EdgesReadOf(readAs);
    auto work = [&](unsigned) {
        // Each chunk's files are read in one batch where the system allows it, and their
        // entries are made from what came; the rest open their files one by one.
        platform::EdgeReader edges(listing, sizes.whole, sizes.head, sizes.tail);
        std::vector<platform::EdgeReader::File> batch;
        for (std::size_t first = next.fetch_add(kChunk); first < toRead.size();
             first = next.fetch_add(kChunk)) {
            const std::size_t last = std::min(toRead.size(), first + kChunk);
            if (Stopped()) {
                return;  // what is left unread is read by the next scan
            }
            batch.clear();
            if (edges.Available()) {
                for (std::size_t i = first; i < last; ++i) {
                    const ModernFile& file = *toRead[i].first;
                    batch.push_back({file.path.c_str() + nameAt,
                                     static_cast<std::uint64_t>(file.identity.size)});
                }
                edges.Read(batch);
            }
            for (std::size_t i = first; i < last; ++i) {
                const ModernFile& file = *toRead[i].first;
                cache::KnownEdges known;
                const cache::KnownEdges* held = nullptr;
                if (!batch.empty() && file.lookedAt && edges.Of(i - first).read) {
                    known = {file.identity, edges.Of(i - first).head, edges.Of(i - first).tail};
                    held = &known;
                }
                ReadModernEntry(readAs, file, *toRead[i].second, open, held);
            }
        }
    };
    scan::RunShared(toRead.size() > 2 * kChunk ? scan::kThreads : 1, work);
    if (!Stopped()) {
        // Every file known from the last scan and as many: the same files, unchanged.
        ListModernEntries(seen, toRead.empty() && seen.size() == remembered.size());
    }
    remembered = std::move(seen);
}

void CacheScanner::ReadModernEntry(cache::Format readAs, const ModernFile& file, Remembered& known,
                                   const cache::OpenEntryFile& open,
                                   const cache::KnownEdges* edges) {
    cache::ReadEntry read;
    const bool ok = readAs == cache::Format::Chromium
                        ? cache::ReadChromiumFiles(file.path, file.piecesPath, read, open, edges)
                        : cache::ReadFirefoxFile(file.path, read, open, edges);
    // Remembered by what the listing saw, so that the next listing finds it again; a
    // file that changed between the two simply reads again next time. A file the listing
    // did not look up is remembered as it was read.
    known.identity = file.lookedAt ? file.identity : read.identity;
    known.piecesIdentity = file.lookedAt ? file.piecesIdentity : read.piecesIdentity;
    // Only what has an address can be part of a stream.
    known.readable = ok && (read.media || !read.entry.url.empty());
    known.media = ok && read.media;
    if (known.readable) {
        known.detail.name = cache::DisplayNameFromUrl(read.entry.url);
        known.detail.entry = std::move(read.entry);
    }
}

namespace {

// What the Type column says of a stream.
std::string StreamTypeText(const cache::Stream& stream) {
    std::string text;
    switch (stream.kind) {
        case cache::StreamKind::Hls:
            text = "HLS stream";
            break;
        case cache::StreamKind::Dash:
            text = "DASH stream";
            break;
        case cache::StreamKind::Segments:
            text = "Stream segments";
            break;
        case cache::StreamKind::SplitFiles:
            text = "Video with separate sound";
            break;
    }
    if (stream.protection == cache::Protection::Drm) {
        text += ", protected";
    }
    return text;
}

// The row of a stream: its manifest's entry, standing for every part of it.
cache::Entry StreamEntry(std::shared_ptr<const cache::Stream> shared) {
    const cache::Stream& stream = *shared;
    cache::Entry entry = stream.manifest;
    entry.url = stream.url;
    entry.storage = cache::Storage::Stream;
    entry.contentType = StreamTypeText(stream);
    entry.bodyOffset = 0;
    entry.bodySize = stream.presentBytes;
    // The whole, where the manifest tells how many segments there are: the present
    // ones' average for each missing one.
    entry.complete = stream.segmentsTotal == 0 || stream.segmentsPresent >= stream.segmentsTotal;
    entry.resourceSize = entry.complete || stream.segmentsPresent == 0
                             ? stream.presentBytes
                             : stream.presentBytes / stream.segmentsPresent * stream.segmentsTotal;
    entry.lastWriteTime = std::max(entry.lastWriteTime, stream.lastWriteTime);
    entry.stream = std::move(shared);
    return entry;
}

}  // namespace

void CacheScanner::ListModernEntries(std::unordered_map<std::string, Remembered>& seen,
                                     bool unchanged) {
    // In the order of their files, so that the same cache always gives the same streams.
    std::vector<std::pair<const std::string*, Remembered*>> readable;
    for (auto& [path, known] : seen) {
        if (known.readable) {
            readable.emplace_back(&path, &known);
        }
    }
    std::sort(readable.begin(), readable.end(),
              [](const auto& a, const auto& b) { return *a.first < *b.first; });
    // Lent to the search and given back after it: copying every entry would cost as
    // much as the search itself.
    std::vector<cache::Entry> all;
    all.reserve(readable.size());
    for (const auto& [path, known] : readable) {
        all.push_back(std::move(known->detail.entry));
    }

    const auto readText = [](const cache::Entry& entry,
                             std::size_t limit) -> std::optional<std::string> {
        const std::unique_ptr<cache::BodyReader> body = cache::OpenBody(entry);
        if (!body || body->Size() > limit) {
            return std::nullopt;
        }
        std::string text(static_cast<std::size_t>(body->Size()), '\0');
        if (body->ReadAt(0, text.data(), text.size()) != static_cast<std::int64_t>(text.size())) {
            return std::nullopt;
        }
        return text;
    };
    // Asked only of the few files that may be a video and its sound kept apart; the
    // answer is kept with the file, found through a map made on the first question.
    std::unordered_map<std::string_view, Remembered*> byFile;
    const auto probe = [&byFile, &readable](const cache::Entry& entry) {
        if (byFile.empty()) {
            byFile.reserve(readable.size());
            for (const auto& [path, known] : readable) {
                byFile.emplace(*path, known);
            }
        }
        const auto it = byFile.find(entry.file);
        if (it == byFile.end()) {
            return cache::TrackProbe{};
        }
        Remembered& known = *it->second;
        if (!known.probed) {
            known.probed = true;
            if (const std::unique_ptr<cache::BodyReader> body = cache::OpenBody(entry)) {
                media::Limits limits;
                limits.time = std::chrono::milliseconds(500);
                const media::Facts facts = media::ReadFacts(*body, limits);
                known.tracks.video = facts.kind == media::Kind::Video;
                known.tracks.audio =
                    facts.kind == media::Kind::AudioOnly || !facts.audioCodec.empty();
                known.tracks.seconds =
                    facts.durationMs > 0 ? static_cast<double>(facts.durationMs) / 1000.0 : 0.0;
            }
        }
        return known.tracks;
    };
    // Nothing read anew and nothing gone: the streams are those of the last scan.
    if (!unchanged || !lastStreams.valid) {
        cache::StreamScan found = cache::FindStreams(all, readText, probe);
        lastStreams.streams.clear();
        for (cache::Stream& stream : found.streams) {
            lastStreams.streams.push_back(std::make_shared<const cache::Stream>(std::move(stream)));
        }
        lastStreams.consumed = std::move(found.consumed);
        lastStreams.valid = true;
    }
    for (std::size_t i = 0; i < readable.size(); ++i) {
        readable[i].second->detail.entry = std::move(all[i]);
    }

    std::vector<bool> consumed(all.size(), false);
    for (const std::size_t index : lastStreams.consumed) {
        if (index < consumed.size()) {
            consumed[index] = true;
        }
    }
    const auto minimal = static_cast<std::uint64_t>(std::max<std::int64_t>(minimalFileSize, 0));
    for (const auto& stream : lastStreams.streams) {
        if (stream->presentBytes < minimal || stream->manifest.file.empty()) {
            continue;
        }
        EntryDetail detail;
        detail.name = stream->name;
        detail.entry = StreamEntry(stream);
        AddRow(stream->manifest.file, std::move(detail));
    }
    for (std::size_t i = 0; i < readable.size(); ++i) {
        const Remembered& known = *readable[i].second;
        if (!consumed[i] && known.media && known.detail.entry.bodySize >= minimal) {
            AddRow(*readable[i].first, known.detail);
        }
    }
}

void CacheScanner::AddRow(const std::string& path, EntryDetail detail) {
    OperaCacheEntry row;
    row.fileName = path;
    row.size = static_cast<std::int64_t>(detail.entry.bodySize);
    row.timestamp =
        static_cast<std::int32_t>(platform::PackLocalDosDateTime(detail.entry.lastWriteTime));
    details.push_back(std::move(detail));
    row.detail = static_cast<std::uint32_t>(details.size());
    entries.push_back(std::move(row));
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
