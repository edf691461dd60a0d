#include "cache/StreamAssembly.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "cache/ChromiumEntry.h"
#include "cache/MediaType.h"
#include "platform/ReadOnlyFile.h"

namespace cache {

namespace {

// Segment times of two qualities of one stream that differ by less than this are one slot.
constexpr double kSlotTolerance = 0.1;
// Present stretches closer than this are one.
constexpr double kJoinTolerance = 0.05;
constexpr double kPairTolerance = 0.5;
constexpr std::size_t kMaxInitBytes = 256u << 10;
constexpr std::size_t kHeadBytes = 4096;
// A folder with more files than this is not a pair of one video's tracks.
constexpr std::size_t kMaxProbesPerFolder = 64;

std::string_view WithoutFragment(std::string_view url) {
    return url.substr(0, url.find('#'));
}

bool IsHttp(std::string_view url) {
    const auto lower = [&](std::string_view prefix) {
        return url.size() >= prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), url.begin(),
                          [](char p, char c) { return p == (c | 0x20); });
    };
    return lower("http://") || lower("https://");
}

// scheme://host/folder/ of an address, and the rest.
std::pair<std::string_view, std::string_view> SplitFolder(std::string_view url) {
    const auto scheme = url.find("://");
    const auto pathEnd = url.find('?');
    const auto path = url.substr(0, pathEnd);
    auto slash = path.rfind('/');
    if (scheme == std::string_view::npos || slash == std::string_view::npos || slash < scheme + 3) {
        return {url.substr(0, 0), url};
    }
    return {url.substr(0, slash + 1), url.substr(slash + 1)};
}

// What "File name" shows for a stream. Players name their manifests "master.m3u8",
// "index.m3u8" or "stream.mpd" whatever the video: the folder they sit in tells videos
// apart, so a name of that kind is shown after it.
std::string StreamName(std::string_view url) {
    std::string name = DisplayNameFromUrl(url);
    std::string stem = name.substr(0, name.rfind('.'));
    for (char& c : stem) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    static constexpr std::string_view kPlain[] = {
        "master",     "index",     "playlist", "manifest", "stream", "media", "main", "video",
        "prog_index", "chunklist", "mono",     "init",     "dash",   "hls",   "live", "vod"};
    const auto [folder, rest] = SplitFolder(url);
    if (folder.size() < 2 ||
        std::find(std::begin(kPlain), std::end(kPlain), stem) == std::end(kPlain)) {
        return name;
    }
    const std::string_view parent = folder.substr(0, folder.size() - 1);
    if (parent.find('/', parent.find("://") + 3) == std::string_view::npos) {
        return name;  // at the host's root: the host would say nothing more
    }
    return DisplayNameFromUrl(parent) + " - " + name;
}

enum class ManifestType { None, Hls, Dash };

ManifestType ManifestTypeOf(std::string_view type) {
    if (type == "application/vnd.apple.mpegurl" || type == "application/x-mpegurl" ||
        type == "audio/mpegurl" || type == "audio/x-mpegurl") {
        return ManifestType::Hls;
    }
    if (type == "application/dash+xml") {
        return ManifestType::Dash;
    }
    return ManifestType::None;
}

// Whether an entry of no manifest type is worth reading for a manifest's first bytes.
bool MaySniffManifest(const Entry& e) {
    const std::string_view type = e.contentType;
    const bool textual =
        IsUnusableContentType(type) || type.starts_with("text/") || type == "application/xml";
    if (!textual || e.bodySize == 0 || e.bodySize > kMaxManifestBytes) {
        return false;
    }
    // The entry readers already know a manifest of any type by its first bytes; what is
    // left to look at is one whose name says so, its start hidden behind a long preamble.
    // Reading every small script and picture of the cache on every scan would cost more
    // than the whole scan.
    const std::string_view path = std::string_view(e.url).substr(0, e.url.find_first_of("?#"));
    return path.ends_with(".m3u8") || path.ends_with(".m3u") || path.ends_with(".mpd");
}

ManifestType SniffManifest(std::string_view text) {
    if (text.starts_with("\xef\xbb\xbf")) {
        text.remove_prefix(3);
    }
    while (!text.empty() && (text.front() == ' ' || text.front() == '\n' || text.front() == '\r' ||
                             text.front() == '\t')) {
        text.remove_prefix(1);
    }
    if (text.starts_with("#EXTM3U")) {
        return ManifestType::Hls;
    }
    if (text.starts_with("<")) {
        // An XML declaration and comments may come before the root.
        const std::string_view head = text.substr(0, 2048);
        const auto root = head.find("<MPD");
        if (root != std::string_view::npos &&
            (root + 4 == head.size() ||
             std::string_view(" \t\r\n>").find(head[root + 4]) != std::string_view::npos)) {
            return ManifestType::Dash;
        }
    }
    return ManifestType::None;
}

Container ContainerOfType(std::string_view type) {
    if (type == "video/mp2t") {
        return Container::MpegTs;
    }
    if (type.ends_with("/iso.segment") || type == "video/mp4" || type == "audio/mp4" ||
        type == "application/mp4") {
        return Container::Fmp4;
    }
    if (type == "video/webm" || type == "audio/webm") {
        return Container::WebM;
    }
    if (type == "audio/aac" || type == "audio/mpeg") {
        return Container::PackedAudio;
    }
    return Container::Unknown;
}

// ---- MP4 boxes: enough to tell an init section from a fragment and match their tracks.

std::uint32_t Be32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

// Calls `f(type, payload)` for each box of `data`; stops at the first that does not fit.
template <typename F>
void ForEachBox(std::string_view data, F&& f) {
    while (data.size() >= 8) {
        const auto* p = reinterpret_cast<const unsigned char*>(data.data());
        std::uint64_t size = Be32(p);
        std::size_t header = 8;
        if (size == 1) {
            if (data.size() < 16) {
                return;
            }
            size = (std::uint64_t{Be32(p + 8)} << 32) | Be32(p + 12);
            header = 16;
        } else if (size == 0) {
            size = data.size();
        }
        if (size < header) {
            return;
        }
        // A box cut off by the end of what was read still shows its start.
        const auto end = static_cast<std::size_t>(std::min<std::uint64_t>(size, data.size()));
        f(data.substr(4, 4), data.substr(header, end - header));
        data.remove_prefix(end);
    }
}

struct Mp4Track {
    std::uint32_t id = 0;
    std::string handler;
};

// The tracks of an init section: nullopt when the data does not start with ftyp or moov.
std::optional<std::vector<Mp4Track>> InitTracks(std::string_view data) {
    if (data.size() < 8 || (data.substr(4, 4) != "ftyp" && data.substr(4, 4) != "moov")) {
        return std::nullopt;
    }
    std::vector<Mp4Track> tracks;
    ForEachBox(data, [&](std::string_view type, std::string_view moov) {
        if (type != "moov") {
            return;
        }
        ForEachBox(moov, [&](std::string_view t, std::string_view trak) {
            if (t != "trak") {
                return;
            }
            Mp4Track track;
            ForEachBox(trak, [&](std::string_view tt, std::string_view box) {
                const auto* b = reinterpret_cast<const unsigned char*>(box.data());
                if (tt == "tkhd" && box.size() >= 32) {
                    track.id = Be32(b + (b[0] == 1 ? 20 : 12));
                } else if (tt == "mdia") {
                    ForEachBox(box, [&](std::string_view mt, std::string_view hdlr) {
                        if (mt == "hdlr" && hdlr.size() >= 12) {
                            track.handler = std::string(hdlr.substr(8, 4));
                        }
                    });
                }
            });
            tracks.push_back(std::move(track));
        });
    });
    return tracks;
}

// The track a fragment carries (tfhd), 0 when unknown; nullopt when no moof starts it.
std::optional<std::uint32_t> FragmentTrack(std::string_view head) {
    bool fragment = false;
    std::uint32_t id = 0;
    ForEachBox(head, [&](std::string_view type, std::string_view moof) {
        if (type != "moof") {
            return;
        }
        fragment = true;
        ForEachBox(moof, [&](std::string_view t, std::string_view traf) {
            if (t != "traf") {
                return;
            }
            ForEachBox(traf, [&](std::string_view tt, std::string_view tfhd) {
                if (tt == "tfhd" && tfhd.size() >= 8 && id == 0) {
                    id = Be32(reinterpret_cast<const unsigned char*>(tfhd.data()) + 4);
                }
            });
        });
    });
    const bool leading =
        head.size() >= 8 &&
        (head.substr(4, 4) == "moof" || head.substr(4, 4) == "styp" || head.substr(4, 4) == "sidx");
    if (!fragment || !leading) {
        return std::nullopt;
    }
    return id;
}

// The first bytes of a body, for a signature.
std::string Head(const Entry& e, std::size_t length) {
    std::string bytes;
    if (auto reader = OpenBody(e)) {
        bytes.resize(length);
        const auto n = reader->ReadAt(0, bytes.data(), length);
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    return bytes;
}

// ---- Addresses of segments without a manifest.

struct AddressPattern {
    std::string key;  // the address with its number (or byte range) taken out
    std::uint64_t number = 0;
    bool byteRange = false;
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool ParseNumber(std::string_view digits, std::uint64_t& value) {
    return digits.size() <= 18 &&
           std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc{};
}

// "range=A-B" (also "range/A-B") or "bytestart=A...byteend=B" in an address: one resource
// fetched in ranges, each under its own address.
std::optional<AddressPattern> ByteRangePattern(std::string_view url) {
    for (const std::string_view marker : {"range=", "range/", "bytestart="}) {
        const auto at = url.rfind(marker);
        if (at == std::string_view::npos) {
            continue;
        }
        const auto from = at + marker.size();
        auto to = from;
        while (to < url.size() && IsDigit(url[to])) {
            ++to;
        }
        AddressPattern p;
        if (to == from || !ParseNumber(url.substr(from, to - from), p.number)) {
            continue;
        }
        auto rest = to;
        if (marker != "bytestart=") {
            if (rest >= url.size() || url[rest] != '-') {
                continue;
            }
            ++rest;
            while (rest < url.size() && IsDigit(url[rest])) {
                ++rest;
            }
        } else {
            const auto end = url.find("byteend=", to);
            if (end == std::string_view::npos) {
                continue;
            }
            std::string key = std::string(url.substr(0, from)) + '\x01' +
                              std::string(url.substr(to, end + 8 - to)) + '\x01';
            rest = end + 8;
            while (rest < url.size() && IsDigit(url[rest])) {
                ++rest;
            }
            p.key = key + std::string(url.substr(rest));
            p.byteRange = true;
            return p;
        }
        p.key = std::string(url.substr(0, from)) + '\x01' + std::string(url.substr(rest));
        p.byteRange = true;
        return p;
    }
    return std::nullopt;
}

// The last run of digits in the name before its extension (else in the query) is the
// segment's number; the rest of the address must match exactly.
std::optional<AddressPattern> NumberPattern(std::string_view url) {
    if (auto range = ByteRangePattern(url)) {
        return range;
    }
    const auto [folder, rest] = SplitFolder(url);
    if (folder.empty()) {
        return std::nullopt;
    }
    const auto query = rest.find('?');
    const std::string_view name = rest.substr(0, query);
    const auto dot = name.rfind('.');
    std::string_view stem = name.substr(0, dot);
    std::size_t base = folder.size();
    if (std::none_of(stem.begin(), stem.end(), IsDigit)) {
        if (query == std::string_view::npos) {
            return std::nullopt;
        }
        stem = rest.substr(query);
        base = folder.size() + query;
    }
    auto end = stem.size();
    while (end > 0 && !IsDigit(stem[end - 1])) {
        --end;
    }
    if (end == 0) {
        return std::nullopt;
    }
    auto begin = end;
    while (begin > 0 && IsDigit(stem[begin - 1])) {
        --begin;
    }
    AddressPattern p;
    if (!ParseNumber(stem.substr(begin, end - begin), p.number)) {
        return std::nullopt;
    }
    p.key = std::string(url.substr(0, base + begin)) + '\x01' + std::string(url.substr(base + end));
    return p;
}

// The words of a file name, for telling which init section goes with which fragments.
std::set<std::string> Tokens(std::string_view name) {
    std::set<std::string> tokens;
    std::string word;
    for (const char c : name.substr(0, name.find('?'))) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c)) {
            word += c;
        } else if (!word.empty()) {
            tokens.insert(std::exchange(word, {}));
        }
    }
    if (!word.empty()) {
        tokens.insert(word);
    }
    return tokens;
}

// ---- Presentation of the results.

std::string Clock(double seconds) {
    const auto total = static_cast<long long>(std::max(0.0, std::round(seconds)));
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

std::string Rate(std::uint64_t bandwidth) {
    char text[32];
    if (bandwidth >= 1000000) {
        std::snprintf(text, sizeof text, "%.1f Mb/s", static_cast<double>(bandwidth) / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%llu kb/s",
                      static_cast<unsigned long long>(bandwidth / 1000));
    }
    return text;
}

std::string QualityName(const Rendition& r) {
    std::string text;
    if (r.width > 0 && r.height > 0) {
        text = std::to_string(r.width) + "x" + std::to_string(r.height);
    }
    if (r.bandwidth > 0) {
        text += text.empty() ? Rate(r.bandwidth) : " (" + Rate(r.bandwidth) + ")";
    }
    return text;
}

std::string ShortQualityName(const Rendition& r) {
    if (r.height > 0) {
        return std::to_string(r.height) + "p";
    }
    return r.bandwidth > 0 ? Rate(r.bandwidth) : r.id;
}

std::vector<std::pair<double, double>> PresentStretches(const std::vector<StreamPiece>& pieces) {
    std::vector<std::pair<double, double>> stretches;
    for (const StreamPiece& p : pieces) {
        if (!(p.duration > 0) || !std::isfinite(p.start) || !std::isfinite(p.duration)) {
            continue;
        }
        const double end = p.start + p.duration;
        if (!stretches.empty() && p.start <= stretches.back().second + kJoinTolerance &&
            p.start >= stretches.back().first) {
            stretches.back().second = std::max(stretches.back().second, end);
        } else {
            stretches.emplace_back(p.start, end);
        }
    }
    std::sort(stretches.begin(), stretches.end());
    std::vector<std::pair<double, double>> merged;
    for (const auto& s : stretches) {
        if (!merged.empty() && s.first <= merged.back().second + kJoinTolerance) {
            merged.back().second = std::max(merged.back().second, s.second);
        } else {
            merged.push_back(s);
        }
    }
    return merged;
}

StreamTrack TrackOf(const Rendition& r) {
    StreamTrack t;
    t.kind = r.kind;
    t.container = r.container;
    t.codecs = r.codecs;
    t.bandwidth = r.bandwidth;
    t.width = r.width;
    t.height = r.height;
    return t;
}

// The entries by their address without its fragment. Every segment of every manifest is
// looked up here, tens of thousands per scan: one flat table probed in place (linear
// probing, each slot keeping part of its address's hash) costs a fraction of a node per
// address.
class AddressIndex {
  public:
    explicit AddressIndex(const std::vector<Entry>& entries) : entries_(entries) {
        std::size_t size = 16;
        while (size < 2 * entries.size()) {
            size *= 2;
        }
        slots_.resize(size);
        // Slots are kept small for the cache's sake: entry counts past 32 bits do not
        // occur, and are left out rather than wrapped.
        for (std::size_t i = 0; i < std::min<std::size_t>(entries.size(), kEmpty); ++i) {
            if (!entries[i].url.empty()) {
                Add(static_cast<std::uint32_t>(i), WithoutFragment(entries[i].url));
            }
        }
    }

    std::optional<std::size_t> Find(std::string_view url) const {
        url = WithoutFragment(url);
        const std::uint64_t hash = std::hash<std::string_view>{}(url);
        for (std::size_t at = hash & Mask();; at = (at + 1) & Mask()) {
            const Slot& slot = slots_[at];
            if (slot.entry == kEmpty) {
                return std::nullopt;
            }
            if (Holds(slot, hash, url)) {
                return slot.entry;
            }
        }
    }

  private:
    static constexpr std::uint32_t kEmpty = UINT32_MAX;
    struct Slot {
        std::uint32_t hash = 0;  // the address's hash, cut short: most slots that are not
                                 // the one sought are told apart without the entry
        std::uint32_t entry = kEmpty;
    };

    std::size_t Mask() const { return slots_.size() - 1; }
    bool Holds(const Slot& slot, std::uint64_t hash, std::string_view url) const {
        return slot.hash == static_cast<std::uint32_t>(hash) &&
               WithoutFragment(entries_[slot.entry].url) == url;
    }

    void Add(std::uint32_t index, std::string_view url) {
        const std::uint64_t hash = std::hash<std::string_view>{}(url);
        for (std::size_t at = hash & Mask();; at = (at + 1) & Mask()) {
            Slot& slot = slots_[at];
            if (slot.entry == kEmpty) {
                slot = {static_cast<std::uint32_t>(hash), index};
                return;
            }
            if (Holds(slot, hash, url)) {
                // The same address cached twice (under two sites' partitions): the fuller
                // wins.
                const Entry& held = entries_[slot.entry];
                const Entry& e = entries_[index];
                if (e.complete > held.complete ||
                    (e.complete == held.complete && e.bodySize > held.bodySize)) {
                    slot.entry = index;
                }
                return;
            }
        }
    }

    const std::vector<Entry>& entries_;
    std::vector<Slot> slots_;  // a power of two of them, at most half full
};

// What of one rendition the cache holds.
struct Found {
    const Rendition* rendition = nullptr;
    std::optional<StreamPiece> init;
    std::vector<StreamPiece> pieces;
    double seconds = 0;     // presentation time present
    bool unusable = false;  // its init section is missing: its fragments cannot play
};

class Assembler {
  public:
    Assembler(const std::vector<Entry>& entries, const ReadBodyText& readText,
              const ProbeTracks& probe)
        : entries_(entries),
          readText_(readText),
          probe_(probe),
          consumed_(entries.size()),
          byUrl_(entries) {}

    StreamScan Run();

  private:
    void ReadManifests();
    void FillFromMediaPlaylists(Manifest& master, std::vector<std::size_t>& parts);
    const Manifest* MediaPlaylist(const std::string& url, std::size_t& index);
    void AssembleManifest(const Manifest& m, std::size_t index,
                          const std::vector<std::size_t>& parts);
    Found Find(const Rendition& r, std::vector<std::size_t>& used);
    bool PieceFor(const SegmentRef& ref, Protection protection, StreamPiece& piece,
                  std::vector<std::size_t>& used);
    bool Covers(std::size_t index, std::uint64_t offset, std::uint64_t length);
    const std::optional<std::array<unsigned char, 16>>& Key(const std::string& url,
                                                            std::vector<std::size_t>& used);
    std::vector<StreamPiece> JoinPerSlot(const std::vector<Found>& found,
                                         std::vector<const Rendition*>& from) const;
    void GroupSegments();
    Container SegmentContainer(std::size_t index, bool byteRange);
    std::optional<std::size_t> InitFor(std::size_t fragment, std::string_view name);
    const std::optional<std::vector<Mp4Track>>& InitTracksOf(std::size_t index);
    void PairSplitFiles();
    void Consume(std::size_t index) { consumed_[index] = true; }
    std::optional<std::size_t> Lookup(std::string_view url) const { return byUrl_.Find(url); }

    const std::vector<Entry>& entries_;
    const ReadBodyText& readText_;
    const ProbeTracks& probe_;
    std::vector<bool> consumed_;
    AddressIndex byUrl_;
    // Manifests by their entry, read once each.
    std::map<std::size_t, std::optional<Manifest>> manifests_;
    std::unordered_set<std::size_t> ownedByMaster_;
    std::unordered_map<std::size_t, std::optional<RangeWalk>> walks_;
    // Keys by their address: the entry that holds one, and its bytes where it is whole.
    struct HeldKey {
        std::size_t entry = 0;
        std::optional<std::array<unsigned char, 16>> bytes;
    };
    std::unordered_map<std::string, HeldKey> keys_;
    std::unordered_map<std::string, std::vector<std::size_t>> initsByFolder_;
    std::unordered_map<std::size_t, std::optional<std::vector<Mp4Track>>> initTracks_;
    bool initsIndexed_ = false;
    std::vector<Stream> streams_;
};

StreamScan Assembler::Run() {
    ReadManifests();
    // Masters first: the media playlists they name are parts of their rows.
    for (auto& [index, m] : manifests_) {
        if (m && m->master) {
            std::vector<std::size_t> parts;
            Manifest filled = *m;
            FillFromMediaPlaylists(filled, parts);
            AssembleManifest(filled, index, parts);
        }
    }
    for (auto& [index, m] : manifests_) {
        if (m && !m->master && !ownedByMaster_.contains(index)) {
            AssembleManifest(*m, index, {});
        }
    }
    GroupSegments();
    PairSplitFiles();
    StreamScan scan;
    scan.streams = std::move(streams_);
    for (std::size_t i = 0; i < consumed_.size(); ++i) {
        if (consumed_[i]) {
            scan.consumed.push_back(i);
        }
    }
    return scan;
}

void Assembler::ReadManifests() {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        ManifestType type = ManifestTypeOf(e.contentType);
        if (e.url.empty() || (type == ManifestType::None && !MaySniffManifest(e))) {
            continue;
        }
        const auto text = readText_(e, kMaxManifestBytes);
        if (!text) {
            continue;
        }
        if (type == ManifestType::None) {
            type = SniffManifest(*text);
        }
        if (type == ManifestType::Hls) {
            manifests_[i] = ReadHlsPlaylist(*text, WithoutFragment(e.url));
        } else if (type == ManifestType::Dash) {
            manifests_[i] = ReadDashManifest(*text, WithoutFragment(e.url));
        }
    }
}

const Manifest* Assembler::MediaPlaylist(const std::string& url, std::size_t& index) {
    const auto found = Lookup(url);
    if (!found) {
        return nullptr;
    }
    index = *found;
    auto it = manifests_.find(index);
    if (it == manifests_.end()) {
        // Named by a master but served under no playlist type: read it once here.
        const auto text = readText_(entries_[index], kMaxManifestBytes);
        it = manifests_.emplace(index, text ? ReadHlsPlaylist(*text, url) : std::nullopt).first;
    }
    // A master naming itself or another master gives no segments: no loop can start.
    if (!it->second || it->second->master || it->second->renditions.empty()) {
        return nullptr;
    }
    return &*it->second;
}

void Assembler::FillFromMediaPlaylists(Manifest& master, std::vector<std::size_t>& parts) {
    for (Rendition& r : master.renditions) {
        std::size_t index = 0;
        const Manifest* media =
            r.playlistUrl.empty() ? nullptr : MediaPlaylist(r.playlistUrl, index);
        if (!media) {
            continue;
        }
        ownedByMaster_.insert(index);
        parts.push_back(index);
        const Rendition& m = media->renditions.front();
        r.segments = m.segments;
        r.init = m.init;
        r.protection = std::max(r.protection, m.protection);
        if (r.container == Container::Unknown) {
            r.container = m.container;
        }
        master.protection = std::max(master.protection, r.protection);
        master.length = std::max(master.length, media->length);
        master.live = master.live || media->live;
    }
}

bool Assembler::Covers(std::size_t index, std::uint64_t offset, std::uint64_t length) {
    const Entry& e = entries_[index];
    if (offset > UINT64_MAX - length) {
        return false;
    }
    if (e.storage != Storage::Pieces) {
        return offset + length <= e.bodySize;
    }
    // Which ranges a pieced entry holds is read only for entries named by a range.
    auto it = walks_.find(index);
    if (it == walks_.end()) {
        std::optional<RangeWalk> walk;
        platform::ReadOnlyFile file(e.piecesFile);
        RangeWalk w;
        if (file.IsOpen() && WalkChromiumRanges(FileSource(file), w)) {
            walk = std::move(w);
        }
        it = walks_.emplace(index, std::move(walk)).first;
    }
    if (!it->second) {
        return false;
    }
    const auto& ranges = it->second->ranges;
    auto r = std::upper_bound(ranges.begin(), ranges.end(), offset,
                              [](std::uint64_t at, const ChromiumRange& range) {
                                  return at < range.offset + range.length;
                              });
    std::uint64_t at = offset;
    const std::uint64_t end = offset + length;
    for (; r != ranges.end() && r->offset <= at && at < end; ++r) {
        at = r->offset + r->length;
    }
    return at >= end;
}

const std::optional<std::array<unsigned char, 16>>& Assembler::Key(const std::string& url,
                                                                   std::vector<std::size_t>& used) {
    auto it = keys_.find(url);
    if (it == keys_.end()) {
        HeldKey key;
        if (const auto index = Lookup(url)) {
            key.entry = *index;
            const auto text = readText_(entries_[*index], 16);
            if (text && text->size() == 16) {
                key.bytes.emplace();
                std::copy(text->begin(), text->end(), key.bytes->begin());
            }
        }
        it = keys_.emplace(url, key).first;
    }
    if (it->second.bytes) {
        used.push_back(it->second.entry);
    }
    return it->second.bytes;
}

// Fills `piece` (a fresh one, in place where it is kept) with what the cache holds of
// `ref`; false when it holds none of it.
bool Assembler::PieceFor(const SegmentRef& ref, Protection protection, StreamPiece& piece,
                         std::vector<std::size_t>& used) {
    const auto index = Lookup(ref.url);
    if (!index) {
        return false;
    }
    const Entry& e = entries_[*index];
    piece.offset = ref.offset;
    if (ref.length == kWholeResource) {
        // A whole resource cut short is a gap, not a piece.
        if (!e.complete || e.bodySize <= ref.offset) {
            return false;
        }
        piece.length = e.bodySize - ref.offset;
    } else {
        if (ref.length == 0 || !Covers(*index, ref.offset, ref.length)) {
            return false;
        }
        piece.length = ref.length;
    }
    if (!ref.keyUrl.empty() && protection == Protection::Aes128) {
        const auto& key = Key(ref.keyUrl, used);
        if (!key || piece.length % 16 != 0) {
            return false;
        }
        piece.encrypted = true;
        piece.key = *key;
        piece.iv = ref.iv;
    }
    piece.body = e;
    // Times are the manifest's word: outside data, kept only when they make sense.
    piece.start = std::isfinite(ref.start) && ref.start >= 0 ? ref.start : 0;
    piece.duration = std::isfinite(ref.duration) && ref.duration > 0 ? ref.duration : 0;
    piece.discontinuity = ref.discontinuity;
    used.push_back(*index);
    return true;
}

Found Assembler::Find(const Rendition& r, std::vector<std::size_t>& used) {
    Found found;
    found.rendition = &r;
    // An on-demand file (SegmentBase) is its own one segment, init section included:
    // that init is checked for but not put in front of the file a second time.
    const bool initInsideSegment = r.init && r.segments.size() == 1 &&
                                   r.segments.front().url == r.init->url &&
                                   r.segments.front().offset <= r.init->offset;
    if (r.init) {
        StreamPiece init;
        found.unusable = !PieceFor(*r.init, Protection::None, init, used);
        if (!found.unusable && !initInsideSegment) {
            found.init = std::move(init);
        }
    }
    const std::size_t count = std::min(r.segments.size(), kMaxSegmentsPerRendition);
    found.pieces.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        StreamPiece& piece = found.pieces.emplace_back();
        if (PieceFor(r.segments[i], r.protection, piece, used)) {
            found.seconds += piece.duration;
        } else {
            found.pieces.pop_back();
        }
    }
    if (found.unusable) {
        found.pieces.clear();
        found.seconds = 0;
    }
    return found;
}

// MPEG-TS segments of different qualities can follow each other: for each slot of time
// the best quality the cache holds. A slot begins where the last chosen piece ends.
std::vector<StreamPiece> Assembler::JoinPerSlot(const std::vector<Found>& found,
                                                std::vector<const Rendition*>& from) const {
    std::vector<StreamPiece> joined;
    std::vector<std::size_t> next(found.size(), 0);
    double t = -INFINITY;
    while (true) {
        const Found* best = nullptr;
        std::size_t bestIndex = 0;
        bool bestAligned = false;
        double earliest = INFINITY;
        for (std::size_t k = 0; k < found.size(); ++k) {
            const auto& pieces = found[k].pieces;
            auto& i = next[k];
            while (i < pieces.size() &&
                   pieces[i].start + pieces[i].duration <= t + kSlotTolerance) {
                ++i;
            }
            if (i == pieces.size()) {
                continue;
            }
            const StreamPiece& p = pieces[i];
            earliest = std::min(earliest, p.start);
            if (p.start > t + kSlotTolerance) {
                continue;
            }
            const bool aligned = std::abs(p.start - t) <= kSlotTolerance;
            if (!best || aligned > bestAligned ||
                (aligned == bestAligned &&
                 found[k].rendition->bandwidth > best->rendition->bandwidth)) {
                best = &found[k];
                bestIndex = k;
                bestAligned = aligned;
            }
        }
        if (!best) {
            if (earliest == INFINITY) {
                break;
            }
            t = earliest;  // a gap no quality fills
            continue;
        }
        const StreamPiece& p = best->pieces[next[bestIndex]];
        joined.push_back(p);
        from.push_back(best->rendition);
        // Durations of zero still move on.
        t = std::max(p.start + p.duration, std::nextafter(t, INFINITY));
        ++next[bestIndex];
    }
    return joined;
}

void Assembler::AssembleManifest(const Manifest& m, std::size_t index,
                                 const std::vector<std::size_t>& parts) {
    std::vector<std::size_t> used;
    std::vector<Found> video;
    std::vector<Found> audio;
    const std::size_t count = std::min(m.renditions.size(), kMaxRenditions);
    for (std::size_t i = 0; i < count; ++i) {
        const Rendition& r = m.renditions[i];
        Found f = Find(r, used);
        if (f.pieces.empty()) {
            continue;
        }
        (r.kind == TrackKind::Audio ? audio : video).push_back(std::move(f));
    }
    // A manifest none of whose segments are cached gives no row and takes nothing: its
    // stray segments may still make a row of their own by their addresses.
    if (video.empty() && audio.empty()) {
        return;
    }
    Stream s;
    s.kind = m.kind;
    s.url = m.url;
    s.manifest = entries_[index];
    s.name = StreamName(m.url);
    s.protection = m.protection;
    const auto moreTime = [](const Found& a, const Found& b) {
        return a.seconds != b.seconds ? a.seconds > b.seconds
                                      : a.rendition->bandwidth > b.rendition->bandwidth;
    };
    std::size_t total = 0;
    const Rendition* chosen = nullptr;
    if (!video.empty()) {
        const bool allTs = std::all_of(video.begin(), video.end(), [](const Found& f) {
            return f.rendition->container == Container::MpegTs;
        });
        std::sort(video.begin(), video.end(), moreTime);
        chosen = video.front().rendition;
        StreamTrack track = TrackOf(*chosen);
        if (allTs && video.size() > 1) {
            std::vector<const Rendition*> from;
            std::vector<StreamPiece> pieces = JoinPerSlot(video, from);
            // The picture the row shows is the quality that gives the most time.
            std::map<const Rendition*, double> share;
            for (std::size_t i = 0; i < from.size(); ++i) {
                share[from[i]] += pieces[i].duration;
            }
            chosen = std::max_element(share.begin(), share.end(), [](const auto& a, const auto& b) {
                         return a.second < b.second;
                     })->first;
            track = TrackOf(*chosen);
            track.pieces = std::move(pieces);
            std::string note;
            std::size_t runs = 0;
            for (std::size_t i = 0; i < from.size();) {
                std::size_t j = i;
                while (j + 1 < from.size() && from[j + 1] == from[i]) {
                    ++j;
                }
                if (++runs <= 4) {
                    note += (note.empty() ? "" : ", ") + ShortQualityName(*from[i]) + " for " +
                            Clock(track.pieces[i].start) + "-" +
                            Clock(track.pieces[j].start + track.pieces[j].duration);
                }
                i = j + 1;
            }
            s.qualityNote = runs <= 1 ? QualityName(*chosen)
                            : runs <= 4
                                ? note
                                : note + " and " + std::to_string(runs - 4) + " more changes";
            for (const Found& f : video) {
                total = std::max(total, f.rendition->segments.size());
            }
        } else {
            track.init = video.front().init;
            track.pieces = std::move(video.front().pieces);
            s.qualityNote = QualityName(*chosen);
            total = chosen->segments.size();
        }
        if (!audio.empty() && track.kind == TrackKind::Muxed) {
            track.kind = TrackKind::Video;
        }
        s.tracks.push_back(std::move(track));
    }
    if (!audio.empty()) {
        // The audio the chosen picture was made to play with, where times are equal.
        std::sort(audio.begin(), audio.end(), [&](const Found& a, const Found& b) {
            const bool ga = chosen && a.rendition->audioGroup == chosen->audioGroup;
            const bool gb = chosen && b.rendition->audioGroup == chosen->audioGroup;
            return a.seconds != b.seconds ? a.seconds > b.seconds : ga != gb ? ga : moreTime(a, b);
        });
        StreamTrack track = TrackOf(*audio.front().rendition);
        track.init = audio.front().init;
        track.pieces = std::move(audio.front().pieces);
        total += audio.front().rendition->segments.size();
        s.tracks.push_back(std::move(track));
    }
    for (const StreamTrack& t : s.tracks) {
        if (t.init) {
            s.presentBytes += t.init->length;
            s.lastWriteTime = std::max(s.lastWriteTime, t.init->body.lastWriteTime);
        }
        for (const StreamPiece& p : t.pieces) {
            s.presentBytes += p.length;
            s.lastWriteTime = std::max(s.lastWriteTime, p.body.lastWriteTime);
        }
        s.segmentsPresent += t.pieces.size();
    }
    s.segmentsTotal = std::max(total, s.segmentsPresent);
    s.present = PresentStretches(s.tracks.front().pieces);
    s.length = m.length;
    if (!(s.length > 0)) {
        for (const Rendition& r : m.renditions) {
            if (!r.segments.empty()) {
                s.length = std::max(s.length, r.segments.back().start + r.segments.back().duration);
            }
        }
    }
    if (!std::isfinite(s.length) || s.length < 0) {
        s.length = 0;
    }
    Consume(index);
    for (const std::size_t i : parts) {
        Consume(i);
    }
    for (const std::size_t i : used) {
        Consume(i);
    }
    streams_.push_back(std::move(s));
}

Container Assembler::SegmentContainer(std::size_t index, bool byteRange) {
    const Entry& e = entries_[index];
    Container c = ContainerOfType(e.contentType);
    if (byteRange && c != Container::Unknown) {
        // The ranges of one resource: whatever it is, its pieces follow each other.
        return c;
    }
    if (c == Container::MpegTs) {
        return c;
    }
    if (c == Container::Unknown && !IsUnusableContentType(e.contentType)) {
        return Container::Unknown;
    }
    if (c != Container::Unknown && c != Container::Fmp4) {
        // Numbered WebM or audio files are separate recordings more often than segments.
        return Container::Unknown;
    }
    const std::string head = Head(e, kHeadBytes);
    if (byteRange || e.contentType.ends_with("/iso.segment") || c == Container::Unknown) {
        const auto* b = reinterpret_cast<const unsigned char*>(head.data());
        if (SniffMediaType(b, head.size()) == "video/mp2t") {
            return Container::MpegTs;
        }
    }
    return FragmentTrack(head) ? Container::Fmp4 : Container::Unknown;
}

std::optional<std::size_t> Assembler::InitFor(std::size_t fragment, std::string_view pattern) {
    if (!initsIndexed_) {
        initsIndexed_ = true;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const Entry& e = entries_[i];
            const auto c = ContainerOfType(e.contentType);
            if (!consumed_[i] && IsHttp(e.url) && e.bodySize > 0 && e.bodySize <= kMaxInitBytes &&
                (c == Container::Fmp4 || IsUnusableContentType(e.contentType))) {
                initsByFolder_[std::string(SplitFolder(e.url).first)].push_back(i);
            }
        }
    }
    const auto it = initsByFolder_.find(std::string(SplitFolder(entries_[fragment].url).first));
    if (it == initsByFolder_.end()) {
        return std::nullopt;
    }
    const auto track = FragmentTrack(Head(entries_[fragment], kHeadBytes)).value_or(0);
    const std::string_view fragmentType = entries_[fragment].contentType;
    const std::string wantHandler = fragmentType.starts_with("audio/")   ? "soun"
                                    : fragmentType.starts_with("video/") ? "vide"
                                                                         : "";
    const auto names = Tokens(SplitFolder(pattern).second);
    std::optional<std::size_t> best;
    std::size_t bestScore = 0;
    for (const std::size_t i : it->second) {
        const auto& tracks = InitTracksOf(i);
        const auto carried = [&](const Mp4Track& t) { return track == 0 || t.id == track; };
        if (!tracks || consumed_[i] || std::none_of(tracks->begin(), tracks->end(), carried)) {
            continue;
        }
        // Of several inits carrying the track (a picture's and a sound's init, both of
        // track 1), the one whose name shares most with the fragments', then whose kind
        // their type names.
        std::size_t score = 0;
        for (const auto& token : Tokens(SplitFolder(entries_[i].url).second)) {
            score += 2 * static_cast<std::size_t>(names.contains(token));
        }
        score += static_cast<std::size_t>(
            std::any_of(tracks->begin(), tracks->end(),
                        [&](const Mp4Track& t) { return carried(t) && t.handler == wantHandler; }));
        if (!best || score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    return best;
}

const std::optional<std::vector<Mp4Track>>& Assembler::InitTracksOf(std::size_t index) {
    auto it = initTracks_.find(index);
    if (it == initTracks_.end()) {
        const auto text = readText_(entries_[index], kMaxInitBytes);
        it = initTracks_.emplace(index, text ? InitTracks(*text) : std::nullopt).first;
    }
    return it->second;
}

void Assembler::GroupSegments() {
    struct Member {
        std::uint64_t number;
        std::size_t index;
    };
    std::unordered_map<std::string, std::vector<Member>> groups;
    std::unordered_map<std::string, bool> byteRange;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (consumed_[i] || e.bodySize == 0 || !IsHttp(e.url) ||
            !(IsMediaContentType(e.contentType) || IsUnusableContentType(e.contentType))) {
            continue;
        }
        if (auto p = NumberPattern(WithoutFragment(e.url))) {
            byteRange[p->key] = p->byteRange;
            groups[p->key].push_back({p->number, i});
        }
    }
    // Groups in the order of their first entry, for a stable list.
    std::vector<std::pair<std::size_t, const std::string*>> order;
    for (auto& [key, members] : groups) {
        if (members.size() >= 2) {
            std::sort(members.begin(), members.end(), [](const Member& a, const Member& b) {
                return a.number != b.number ? a.number < b.number : a.index < b.index;
            });
            order.emplace_back(
                std::min_element(members.begin(), members.end(),
                                 [](const Member& a, const Member& b) { return a.index < b.index; })
                    ->index,
                &key);
        }
    }
    std::sort(order.begin(), order.end());
    for (const auto& [first, key] : order) {
        const auto& members = groups[*key];
        const bool ranges = byteRange[*key];
        StreamTrack track;
        std::vector<std::size_t> used;
        std::uint64_t lastNumber = 0;
        for (const Member& m : members) {
            if (!used.empty() && m.number == lastNumber) {
                continue;  // the same segment twice: the first is kept
            }
            const Container c = SegmentContainer(m.index, ranges);
            if (c == Container::Unknown || (!used.empty() && c != track.container)) {
                continue;
            }
            const Entry& e = entries_[m.index];
            if (!e.complete && e.storage == Storage::Pieces) {
                continue;
            }
            track.container = c;
            StreamPiece piece;
            piece.body = e;
            piece.length = e.bodySize;
            track.pieces.push_back(std::move(piece));
            used.push_back(m.index);
            lastNumber = m.number;
        }
        if (used.size() < 2) {
            continue;
        }
        std::vector<std::size_t> parts = used;
        if (track.container == Container::Fmp4 && !ranges) {
            const auto init = InitFor(used.front(), *key);
            if (!init) {
                continue;  // fragments without their init section do not play
            }
            StreamPiece piece;
            piece.body = entries_[*init];
            piece.length = piece.body.bodySize;
            track.init = std::move(piece);
            parts.push_back(*init);
            const auto& tracks = InitTracksOf(*init);
            if (tracks && tracks->size() == 1) {
                const auto& handler = tracks->front().handler;
                track.kind = handler == "vide"   ? TrackKind::Video
                             : handler == "soun" ? TrackKind::Audio
                                                 : TrackKind::Muxed;
            }
        }
        Stream s;
        s.kind = StreamKind::Segments;
        s.url = entries_[used.front()].url;
        s.manifest = entries_[used.front()];
        s.name = StreamName(s.url);
        s.segmentsPresent = track.pieces.size();
        for (const std::size_t i : parts) {
            s.presentBytes += entries_[i].bodySize;
            s.lastWriteTime = std::max(s.lastWriteTime, entries_[i].lastWriteTime);
            Consume(i);
        }
        s.tracks.push_back(std::move(track));
        streams_.push_back(std::move(s));
    }
}

void Assembler::PairSplitFiles() {
    std::unordered_map<std::string_view, std::vector<std::size_t>> byFolder;
    std::vector<std::string_view> folders;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        const std::string_view type = e.contentType;
        if (consumed_[i] || e.bodySize == 0 || !IsHttp(e.url) ||
            !(type == "video/mp4" || type == "audio/mp4" || type == "video/webm" ||
              type == "audio/webm")) {
            continue;
        }
        auto& list = byFolder[SplitFolder(WithoutFragment(e.url)).first];
        if (list.empty()) {
            folders.push_back(SplitFolder(WithoutFragment(e.url)).first);
        }
        list.push_back(i);
    }
    for (const std::string_view folder : folders) {
        const auto& candidates = byFolder[folder];
        if (candidates.size() < 2 || candidates.size() > kMaxProbesPerFolder || !probe_) {
            continue;
        }
        std::vector<std::pair<std::size_t, double>> videos;
        std::multimap<double, std::size_t> audios;
        for (const std::size_t i : candidates) {
            const TrackProbe p = probe_(entries_[i]);
            if (!(p.seconds > 0) || !std::isfinite(p.seconds)) {
                continue;
            }
            if (p.video && !p.audio) {
                videos.emplace_back(i, p.seconds);
            } else if (p.audio && !p.video) {
                audios.emplace(p.seconds, i);
            }
        }
        for (const auto& [v, seconds] : videos) {
            auto best = audios.end();
            for (auto it = audios.lower_bound(seconds - kPairTolerance);
                 it != audios.end() && it->first <= seconds + kPairTolerance; ++it) {
                if (best == audios.end() ||
                    std::abs(it->first - seconds) < std::abs(best->first - seconds)) {
                    best = it;
                }
            }
            if (best == audios.end()) {
                continue;
            }
            const std::size_t a = best->second;
            audios.erase(best);
            Stream s;
            s.kind = StreamKind::SplitFiles;
            s.url = entries_[v].url;
            s.manifest = entries_[v];
            s.name = DisplayNameFromUrl(s.url);
            s.length = seconds;
            for (const auto& [index, kind] :
                 {std::pair{v, TrackKind::Video}, std::pair{a, TrackKind::Audio}}) {
                const Entry& e = entries_[index];
                StreamTrack t;
                t.kind = kind;
                t.container = ContainerOfType(e.contentType);
                StreamPiece piece;
                piece.body = e;
                piece.length = e.bodySize;
                piece.duration = seconds;
                t.pieces.push_back(std::move(piece));
                s.tracks.push_back(std::move(t));
                s.presentBytes += e.bodySize;
                s.lastWriteTime = std::max(s.lastWriteTime, e.lastWriteTime);
                Consume(index);
            }
            s.segmentsPresent = 2;
            s.present = {{0.0, seconds}};
            streams_.push_back(std::move(s));
        }
    }
}

}  // namespace

StreamScan FindStreams(const std::vector<Entry>& entries, const ReadBodyText& readText,
                       const ProbeTracks& probe) {
    return Assembler(entries, readText, probe).Run();
}

}  // namespace cache
