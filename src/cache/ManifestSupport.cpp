#include "cache/ManifestSupport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

#include "cache/Url.h"

namespace cache::manifest {

namespace {

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    return out;
}

bool StartsWithAny(std::string_view text, std::initializer_list<std::string_view> prefixes) {
    for (const std::string_view p : prefixes) {
        if (text.substr(0, p.size()) == p) {
            return true;
        }
    }
    return false;
}

// A name of only these is one path segment that resolving leaves as it is: no scheme, no
// slash or backslash, no query or fragment, nothing to trim or percent-encode.
bool IsPlainName(std::string_view reference) {
    if (reference.empty() || reference == "." || reference == "..") {
        return false;
    }
    return std::all_of(reference.begin(), reference.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("-._~!$&'()*+,;=@%").find(c) != std::string_view::npos;
    });
}

}  // namespace

std::string Resolve(std::string_view base, std::string_view reference) {
    if (reference.size() > kMaxUrlBytes) {
        return {};
    }
    std::string url = ResolveUrl(base, reference);
    return url.size() > kMaxUrlBytes ? std::string() : url;
}

Resolver::Resolver(std::string_view base) : base_(base), folder_(ResolveUrl(base, "x")) {
    if (folder_.ends_with('x')) {
        folder_.pop_back();
    } else {
        folder_.clear();
    }
}

std::string Resolver::operator()(std::string_view reference) const {
    if (folder_.empty() || !IsPlainName(reference)) {
        return Resolve(base_, reference);
    }
    if (folder_.size() + reference.size() > kMaxUrlBytes) {
        return {};
    }
    std::string url;
    url.reserve(folder_.size() + reference.size());
    url.append(folder_).append(reference);
    return url;
}

bool ParseSeconds(std::string_view text, double& seconds) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    double value = 0;
    // from_chars, unlike strtod, reads "." as the decimal mark whatever the locale.
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value) || value < 0 || value > 3.2e9) {
        return false;
    }
    seconds = value;
    return true;
}

CodecKinds KindsOfCodecs(std::string_view codecs) {
    CodecKinds kinds;
    while (!codecs.empty()) {
        const std::size_t comma = std::min(codecs.find(','), codecs.size());
        std::string_view one = codecs.substr(0, comma);
        codecs.remove_prefix(std::min(comma + 1, codecs.size()));
        while (!one.empty() && one.front() == ' ') {
            one.remove_prefix(1);
        }
        const std::string codec = LowerCase(one);
        if (StartsWithAny(codec, {"avc", "hvc", "hev", "vp8", "vp9", "vp09", "av01", "dvh", "dva",
                                  "mp4v", "theora"})) {
            kinds.video = true;
        } else if (StartsWithAny(codec, {"mp4a", "ac-3", "ec-3", "ac-4", "opus", "vorbis", "flac",
                                         "mp3", "alac", "dtsc", "dtse"})) {
            kinds.audio = true;
        }
    }
    return kinds;
}

Container ContainerOfAddress(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    const std::size_t slash = url.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? url : url.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return Container::Unknown;
    }
    const std::string ext = LowerCase(name.substr(dot + 1));
    if (ext == "ts" || ext == "m2ts" || ext == "mts" || ext == "m2t") {
        return Container::MpegTs;
    }
    if (ext == "aac" || ext == "mp3" || ext == "ac3" || ext == "ec3") {
        return Container::PackedAudio;
    }
    if (ext == "mp4" || ext == "m4s" || ext == "m4v" || ext == "m4a" || ext == "cmfv" ||
        ext == "cmfa" || ext == "mp4a" || ext == "mp4v") {
        return Container::Fmp4;
    }
    if (ext == "webm") {
        return Container::WebM;
    }
    return Container::Unknown;
}

void SumUpProtection(Manifest& manifest) {
    for (const Rendition& r : manifest.renditions) {
        manifest.protection = Stronger(manifest.protection, r.protection);
    }
}

}  // namespace cache::manifest
