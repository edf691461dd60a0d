// HLS playlists (RFC 8216): a master names media playlists, a media playlist its segments.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cache/HttpHead.h"
#include "cache/ManifestSupport.h"
#include "cache/Stream.h"

namespace cache {

namespace {

using manifest::Stronger;

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The lines of a playlist, blanks trimmed, read one at a time (a vector of them could
// be sixteen times the text).
class Lines {
  public:
    explicit Lines(std::string_view text) : rest_(text) {}
    bool Next(std::string_view& line) {
        if (rest_.empty()) {
            return false;
        }
        const std::size_t end = std::min(rest_.find_first_of("\r\n"), rest_.size());
        line = Trimmed(rest_.substr(0, end));
        rest_.remove_prefix(end);
        if (!rest_.empty()) {
            rest_.remove_prefix(StartsWith(rest_, "\r\n") ? 2 : 1);
        }
        return true;
    }
    std::string_view Rest() const { return rest_; }

  private:
    std::string_view rest_;
};

// How many lines of `text` are neither tags nor blank: about as many as the segments a
// media playlist names, so that room for them is made once.
std::size_t UriLines(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = Trimmed(text.substr(at, end - at));
        count += !line.empty() && line.front() != '#' ? 1 : 0;
        at = end + 1;
    }
    return count;
}

// An attribute list: NAME=VALUE pairs split at the commas outside quoted strings.
class Attributes {
  public:
    explicit Attributes(std::string_view text) {
        while (!text.empty()) {
            const std::size_t eq = text.find('=');
            if (eq == std::string_view::npos) {
                break;
            }
            const std::string_view name = Trimmed(text.substr(0, eq));
            text.remove_prefix(eq + 1);
            text = Trimmed(text);
            std::string_view value;
            if (!text.empty() && text.front() == '"') {
                const std::size_t close = text.find('"', 1);
                value = text.substr(1, close == std::string_view::npos ? text.npos : close - 1);
                text.remove_prefix(close == std::string_view::npos ? text.size() : close + 1);
                const std::size_t comma = text.find(',');
                text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
            } else {
                const std::size_t comma = std::min(text.find(','), text.size());
                value = Trimmed(text.substr(0, comma));
                text.remove_prefix(std::min(comma + 1, text.size()));
            }
            pairs_.emplace_back(name, value);
        }
    }

    std::string_view Get(std::string_view name) const {
        for (const auto& [n, v] : pairs_) {
            if (n == name) {
                return v;
            }
        }
        return {};
    }

  private:
    std::vector<std::pair<std::string_view, std::string_view>> pairs_;
};

std::uint64_t Number(std::string_view text) {
    std::uint64_t value = 0;
    return ParseDecimal(text, value) ? value : 0;
}

// "<length>[@<offset>]"; the offset is absent from `range` when unsaid.
struct ByteRange {
    std::uint64_t length = 0;
    std::optional<std::uint64_t> offset;
};

std::optional<ByteRange> ParseByteRange(std::string_view text) {
    const std::size_t at = text.find('@');
    ByteRange range;
    if (!ParseDecimal(text.substr(0, at), range.length) || range.length == 0) {
        return std::nullopt;
    }
    if (at != std::string_view::npos) {
        std::uint64_t offset = 0;
        if (!ParseDecimal(text.substr(at + 1), offset) || offset > UINT64_MAX - range.length) {
            return std::nullopt;
        }
        range.offset = offset;
    }
    return range;
}

// "0x" and up to 32 hex digits, right-aligned into 16 bytes.
std::optional<std::array<unsigned char, 16>> ParseIv(std::string_view text) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') ||
        text.size() > 34) {
        return std::nullopt;
    }
    std::array<unsigned char, 16> iv{};
    std::size_t nibble = 0;  // counted from the last digit
    for (std::size_t i = text.size(); i-- > 2; ++nibble) {
        const char c = text[i];
        int v = -1;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        }
        if (v < 0) {
            return std::nullopt;
        }
        iv[15 - nibble / 2] |= static_cast<unsigned char>(nibble % 2 ? v << 4 : v);
    }
    return iv;
}

// The encryption in force for the segments that follow an EXT-X-KEY.
struct Key {
    Protection protection = Protection::None;
    std::string url;
    std::optional<std::array<unsigned char, 16>> iv;
};

Key ReadKey(const Attributes& a, std::string_view playlistUrl) {
    Key key;
    const std::string_view method = a.Get("METHOD");
    if (method == "AES-128") {
        key.url = manifest::Resolve(playlistUrl, a.Get("URI"));
        key.iv = ParseIv(a.Get("IV"));
        // A key we cannot fetch from the cache (skd:, data:) locks the stream as surely
        // as a key system does.
        key.protection = key.url.empty() ? Protection::Drm : Protection::Aes128;
    } else if (method != "NONE" && !method.empty()) {
        key.protection = Protection::Drm;  // SAMPLE-AES, SAMPLE-AES-CTR and unknown ones
    }
    return key;
}

Manifest ReadMaster(Lines lines, std::string_view url) {
    Manifest m;
    m.url = std::string(url);
    m.master = true;
    std::vector<Rendition> audio;
    std::vector<Rendition> variants;
    const auto keep = [&](std::vector<Rendition>& into, Rendition r) {
        // A master that names itself would be read again and again by whoever follows it.
        if (!r.playlistUrl.empty() && r.playlistUrl != m.url &&
            audio.size() + variants.size() < kMaxRenditions) {
            r.id = r.playlistUrl;
            into.push_back(std::move(r));
        }
    };
    std::string_view line;
    while (lines.Next(line)) {
        if (StartsWith(line, "#EXT-X-STREAM-INF:")) {
            const Attributes a(line.substr(18));
            Rendition r;
            r.codecs = std::string(a.Get("CODECS"));
            r.bandwidth = Number(a.Get("BANDWIDTH"));
            const std::string_view resolution = a.Get("RESOLUTION");
            const std::size_t x = resolution.find_first_of("xX");
            std::uint64_t w = 0;
            std::uint64_t h = 0;
            if (x != std::string_view::npos && ParseDecimal(resolution.substr(0, x), w) &&
                ParseDecimal(resolution.substr(x + 1), h) && w <= 65535 && h <= 65535) {
                r.width = static_cast<int>(w);
                r.height = static_cast<int>(h);
            }
            r.audioGroup = std::string(a.Get("AUDIO"));
            // The variant's address is the next line that is neither a tag nor blank.
            std::string_view address;
            while (lines.Next(address) && (address.empty() || address[0] == '#')) {
            }
            if (!address.empty() && address[0] != '#') {
                r.playlistUrl = manifest::Resolve(url, address);
                keep(variants, std::move(r));
            }
        } else if (StartsWith(line, "#EXT-X-MEDIA:")) {
            const Attributes a(line.substr(13));
            if (a.Get("TYPE") == "AUDIO" && !a.Get("URI").empty()) {
                Rendition r;
                r.kind = TrackKind::Audio;
                r.audioGroup = std::string(a.Get("GROUP-ID"));
                r.playlistUrl = manifest::Resolve(url, a.Get("URI"));
                keep(audio, std::move(r));
            }
        } else if (StartsWith(line, "#EXT-X-SESSION-KEY:")) {
            m.protection =
                Stronger(m.protection, ReadKey(Attributes(line.substr(19)), url).protection);
        }
    }
    for (Rendition& v : variants) {
        const manifest::CodecKinds says = manifest::KindsOfCodecs(v.codecs);
        const bool soundApart = !v.audioGroup.empty() &&
                                std::any_of(audio.begin(), audio.end(), [&](const Rendition& a) {
                                    return a.audioGroup == v.audioGroup;
                                });
        if (says.audio && !says.video) {
            v.kind = TrackKind::Audio;
        } else if (soundApart) {
            v.kind = TrackKind::Video;
        }
        v.protection = m.protection;
    }
    for (Rendition& a : audio) {
        a.protection = m.protection;
    }
    m.renditions = std::move(variants);
    m.renditions.insert(m.renditions.end(), std::make_move_iterator(audio.begin()),
                        std::make_move_iterator(audio.end()));
    return m;
}

Manifest ReadMedia(Lines lines, std::string_view url) {
    Manifest m;
    m.url = std::string(url);
    m.live = true;
    Rendition r;
    r.id = m.url;
    r.segments.reserve(std::min(UriLines(lines.Rest()), kMaxSegmentsPerRendition));
    manifest::ResultBudget budget;
    const manifest::Resolver resolve(url);
    std::uint64_t mediaSequence = 0;
    std::uint32_t discontinuity = 0;
    std::uint64_t index = 0;  // of the next segment, every one counted
    double start = 0;
    double duration = 0;
    std::optional<ByteRange> range;
    Key key;
    // Where the last range of each resource ended: an EXT-X-BYTERANGE without an offset
    // goes on from there.
    std::unordered_map<std::string, std::uint64_t> rangeEnds;
    bool full = false;
    std::string_view line;
    while (lines.Next(line)) {
        if (line.empty()) {
            continue;
        }
        if (line[0] != '#') {
            if (full) {
                continue;
            }
            SegmentRef s;
            s.url = resolve(line);
            s.start = start;
            s.duration = duration;
            s.discontinuity = discontinuity;
            if (range && !s.url.empty()) {
                std::uint64_t& end = rangeEnds[s.url];
                s.offset = range->offset.value_or(end);
                s.offset = std::min(s.offset, UINT64_MAX - 1);  // kWholeResource stays unsaid
                s.length = std::min(range->length, UINT64_MAX - 1 - s.offset);
                end = s.offset + s.length;
            }
            if (key.protection == Protection::Aes128) {
                s.keyUrl = key.url;
                if (key.iv) {
                    s.iv = *key.iv;
                } else {
                    const std::uint64_t sequence = mediaSequence + index;
                    for (int b = 0; b < 8; ++b) {
                        s.iv[15 - b] = static_cast<unsigned char>(sequence >> (8 * b));
                    }
                }
            }
            r.protection = Stronger(r.protection, key.protection);
            start += duration;
            ++index;
            duration = 0;
            range.reset();
            if (!s.url.empty()) {
                full = !budget.Take(r, s);
                if (!full) {
                    r.segments.push_back(std::move(s));
                }
            }
            if (!full) {
                m.length = start;
            }
        } else if (StartsWith(line, "#EXTINF:")) {
            const std::string_view value = line.substr(8);
            if (!manifest::ParseSeconds(value.substr(0, value.find(',')), duration)) {
                duration = 0;
            }
        } else if (StartsWith(line, "#EXT-X-BYTERANGE:")) {
            range = ParseByteRange(Trimmed(line.substr(17)));
        } else if (StartsWith(line, "#EXT-X-MAP:")) {
            const Attributes a(line.substr(11));
            // One init section per rendition: the first one, which the stream opens with.
            if (!r.init) {
                SegmentRef init;
                init.url = manifest::Resolve(url, a.Get("URI"));
                const std::optional<ByteRange> mapRange = ParseByteRange(a.Get("BYTERANGE"));
                if (mapRange) {
                    init.offset = mapRange->offset.value_or(0);
                    init.length = mapRange->length;
                    rangeEnds[init.url] = init.offset + init.length;
                }
                if (!init.url.empty()) {
                    r.init = std::move(init);
                }
            }
        } else if (StartsWith(line, "#EXT-X-KEY:")) {
            key = ReadKey(Attributes(line.substr(11)), url);
        } else if (line == "#EXT-X-DISCONTINUITY") {
            discontinuity += discontinuity < UINT32_MAX ? 1 : 0;
        } else if (StartsWith(line, "#EXT-X-DISCONTINUITY-SEQUENCE:")) {
            discontinuity = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(Number(line.substr(30)), UINT32_MAX));
        } else if (StartsWith(line, "#EXT-X-MEDIA-SEQUENCE:")) {
            mediaSequence = Number(line.substr(22));
        } else if (line == "#EXT-X-ENDLIST" || line == "#EXT-X-PLAYLIST-TYPE:VOD") {
            m.live = false;
        }
    }
    if (r.init) {
        r.container = Container::Fmp4;
    } else {
        r.container = Container::MpegTs;  // what segments without an init section are
        if (!r.segments.empty() &&
            manifest::ContainerOfAddress(r.segments.front().url) == Container::PackedAudio) {
            r.container = Container::PackedAudio;
            r.kind = TrackKind::Audio;
        }
    }
    m.renditions.push_back(std::move(r));
    manifest::SumUpProtection(m);
    return m;
}

}  // namespace

std::optional<Manifest> ReadHlsPlaylist(std::string_view text, std::string_view url) {
    if (text.size() > kMaxManifestBytes) {
        return std::nullopt;
    }
    if (StartsWith(text, "\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    Lines lines(text);
    std::string_view first;
    while (lines.Next(first) && first.empty()) {
    }
    if (!StartsWith(first, "#EXTM3U")) {
        return std::nullopt;
    }
    // A master names its variants in EXT-X-STREAM-INF lines; a media playlist never does.
    const bool master = StartsWith(text, "#EXT-X-STREAM-INF:") ||
                        text.find("\n#EXT-X-STREAM-INF:") != text.npos ||
                        text.find("\r#EXT-X-STREAM-INF:") != text.npos;
    return master ? ReadMaster(lines, url) : ReadMedia(lines, url);
}

}  // namespace cache
