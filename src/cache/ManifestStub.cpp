// A stand-in for the manifest readers while they are written on their own: the plain HLS
// that the assembly's tests and benchmark use, nothing more. No DASH.

#include <charconv>
#include <cstdlib>
#include <string>

#include "cache/Stream.h"

namespace cache {

namespace {

std::string Resolve(std::string_view uri, std::string_view base) {
    if (uri.find("://") != std::string_view::npos) {
        return std::string(uri);
    }
    const auto scheme = base.find("://");
    if (scheme == std::string_view::npos) {
        return {};
    }
    if (!uri.empty() && uri.front() == '/') {
        const auto slash = base.find('/', scheme + 3);
        return std::string(base.substr(0, slash)) + std::string(uri);
    }
    const auto cut = base.substr(0, base.find_first_of("?#")).rfind('/');
    return std::string(base.substr(0, cut + 1)) + std::string(uri);
}

// The value of NAME= in an attribute list, quotes removed.
std::string Attribute(std::string_view list, std::string_view name) {
    std::size_t at = 0;
    while ((at = list.find(name, at)) != std::string_view::npos) {
        const bool starts = at == 0 || list[at - 1] == ',' || list[at - 1] == ':';
        at += name.size();
        if (starts && at < list.size() && list[at] == '=') {
            std::string_view v = list.substr(at + 1);
            if (!v.empty() && v.front() == '"') {
                v = v.substr(
                    1, v.find('"', 1) == std::string_view::npos ? v.size() : v.find('"', 1) - 1);
            } else {
                v = v.substr(0, v.find(','));
            }
            return std::string(v);
        }
    }
    return {};
}

std::uint64_t Number(std::string_view text) {
    std::uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

Container ContainerOfUri(std::string_view uri) {
    uri = uri.substr(0, uri.find_first_of("?#"));
    if (uri.ends_with(".ts")) {
        return Container::MpegTs;
    }
    if (uri.ends_with(".m4s") || uri.ends_with(".mp4")) {
        return Container::Fmp4;
    }
    return Container::Unknown;
}

}  // namespace

std::optional<Manifest> ReadHlsPlaylist(std::string_view text, std::string_view url) {
    if (!text.starts_with("#EXTM3U") || text.size() > kMaxManifestBytes) {
        return std::nullopt;
    }
    Manifest m;
    m.url = std::string(url);
    Rendition media;
    media.id = m.url;
    std::optional<Rendition> variant;
    double duration = 0;
    double at = 0;
    std::uint64_t rangeLength = kWholeResource;
    std::uint64_t rangeOffset = 0;
    std::uint64_t sequence = 0;
    std::uint32_t discontinuity = 0;
    std::string keyUrl;
    std::string iv;
    while (!text.empty()) {
        std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(std::min(text.size(), line.size() + 1));
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::string_view attrs = line.substr(std::min(line.size(), line.find(':') + 1));
        if (line.starts_with("#EXT-X-STREAM-INF:")) {
            variant = Rendition{};
            variant->bandwidth = Number(Attribute(attrs, "BANDWIDTH"));
            variant->codecs = Attribute(attrs, "CODECS");
            variant->audioGroup = Attribute(attrs, "AUDIO");
            const std::string res = Attribute(attrs, "RESOLUTION");
            variant->width = static_cast<int>(Number(res));
            variant->height = static_cast<int>(Number(res.substr(res.find('x') + 1)));
        } else if (line.starts_with("#EXT-X-MEDIA:") && Attribute(attrs, "TYPE") == "AUDIO" &&
                   !Attribute(attrs, "URI").empty()) {
            Rendition audio;
            audio.kind = TrackKind::Audio;
            audio.playlistUrl = Resolve(Attribute(attrs, "URI"), url);
            audio.id = audio.playlistUrl;
            audio.audioGroup = Attribute(attrs, "GROUP-ID");
            m.renditions.push_back(std::move(audio));
            m.master = true;
        } else if (line.starts_with("#EXTINF:")) {
            duration = std::strtod(std::string(attrs).c_str(), nullptr);
        } else if (line.starts_with("#EXT-X-BYTERANGE:")) {
            rangeLength = Number(attrs);
            const auto atSign = attrs.find('@');
            rangeOffset =
                atSign == std::string_view::npos ? rangeOffset : Number(attrs.substr(atSign + 1));
        } else if (line.starts_with("#EXT-X-MEDIA-SEQUENCE:")) {
            sequence = Number(attrs);
        } else if (line.starts_with("#EXT-X-DISCONTINUITY")) {
            ++discontinuity;
        } else if (line.starts_with("#EXT-X-ENDLIST")) {
            m.live = false;
        } else if (line.starts_with("#EXT-X-KEY:")) {
            const std::string method = Attribute(attrs, "METHOD");
            keyUrl = method == "NONE" ? std::string() : Resolve(Attribute(attrs, "URI"), url);
            iv = Attribute(attrs, "IV");
            if (method == "AES-128") {
                media.protection = Protection::Aes128;
            } else if (method != "NONE") {
                media.protection = Protection::Drm;
            }
        } else if (line.starts_with("#EXT-X-MAP:")) {
            media.init = SegmentRef{};
            media.init->url = Resolve(Attribute(attrs, "URI"), url);
        } else if (!line.empty() && line.front() != '#') {
            const std::string address = Resolve(line, url);
            if (variant) {
                variant->playlistUrl = address;
                variant->id = address;
                m.renditions.push_back(std::move(*variant));
                variant.reset();
                m.master = true;
                continue;
            }
            SegmentRef s;
            s.url = address;
            s.start = at;
            s.duration = duration;
            s.discontinuity = discontinuity;
            if (rangeLength != kWholeResource) {
                s.offset = rangeOffset;
                s.length = rangeLength;
                rangeOffset += rangeLength;
                rangeLength = kWholeResource;
            }
            s.keyUrl = keyUrl;
            if (!keyUrl.empty()) {
                std::uint64_t n = sequence + media.segments.size();
                if (iv.size() == 34) {
                    for (int i = 0; i < 16; ++i) {
                        s.iv[i] = static_cast<unsigned char>(
                            std::strtoul(iv.substr(2 + 2 * i, 2).c_str(), nullptr, 16));
                    }
                } else {
                    for (int i = 15; i >= 8; --i, n >>= 8) {
                        s.iv[i] = static_cast<unsigned char>(n & 0xff);
                    }
                }
            }
            at += duration;
            media.segments.push_back(std::move(s));
        }
    }
    if (!m.master) {
        media.container = media.segments.empty() ? Container::Unknown
                                                 : ContainerOfUri(media.segments.front().url);
        m.protection = media.protection;
        m.length = at;
        m.renditions.push_back(std::move(media));
    } else {
        for (Rendition& r : m.renditions) {
            if (r.kind != TrackKind::Audio && !r.audioGroup.empty()) {
                r.kind = TrackKind::Video;
            }
        }
    }
    return m;
}

std::optional<Manifest> ReadDashManifest(std::string_view, std::string_view) {
    return std::nullopt;
}

}  // namespace cache
