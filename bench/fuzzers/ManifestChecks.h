#pragma once

// What any manifest read from any text must hold, checked by both manifest fuzz targets.

#include <cmath>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "cache/ManifestSupport.h"
#include "cache/Stream.h"
#include "cache/Url.h"

namespace fuzz {

inline bool IsWebAddress(std::string_view url) {
    if (url.substr(0, 7) != "http://" && url.substr(0, 8) != "https://") {
        return false;
    }
    for (const char c : url) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == '#') {
            return false;
        }
    }
    return url.size() <= cache::manifest::kMaxUrlBytes;
}

inline void CheckResolved(std::string_view base, std::string_view reference) {
    const std::string url = cache::ResolveUrl(base, reference);
    Check(url.empty() || IsWebAddress(url) || url.size() > cache::manifest::kMaxUrlBytes,
          "a resolved address is an http(s) address without blanks or fragment",
          {{"base", base}, {"reference", reference}, {"url", url}});
    const std::size_t path = url.find('/', url.find("//") + 2);
    const std::string_view rest = std::string_view(url).substr(std::min(path, url.size()));
    const std::string_view pathOnly = rest.substr(0, rest.find('?'));
    Check(pathOnly.find("/../") == std::string_view::npos &&
              pathOnly.find("/./") == std::string_view::npos,
          "a resolved path holds no dot segments", {{"url", url}});
}

inline void CheckSegment(const cache::SegmentRef& s, std::string_view what) {
    Check(IsWebAddress(s.url), "every segment's address is an http(s) one",
          {{"url", s.url}, {"in", what}});
    Check(s.keyUrl.empty() || IsWebAddress(s.keyUrl), "every key's address is an http(s) one",
          {{"key", s.keyUrl}, {"in", what}});
    Check(s.length == cache::kWholeResource ||
              (s.length > 0 && s.offset <= cache::kWholeResource - s.length),
          "a byte range is not empty and ends inside 64 bits", {{"url", s.url}, {"in", what}});
    Check(std::isfinite(s.start) && s.start >= 0 && std::isfinite(s.duration) && s.duration >= 0,
          "times are finite and not negative", {{"url", s.url}, {"in", what}});
}

inline void CheckManifest(const cache::Manifest& m, std::string_view text) {
    Check(m.renditions.size() <= cache::kMaxRenditions, "renditions are bounded", {{"text", text}});
    Check(std::isfinite(m.length) && m.length >= 0, "the length is finite", {{"text", text}});
    for (const cache::Rendition& r : m.renditions) {
        Check(r.segments.size() <= cache::kMaxSegmentsPerRendition, "segments are bounded",
              {{"text", text}});
        Check(r.playlistUrl.empty() || (IsWebAddress(r.playlistUrl) && r.playlistUrl != m.url),
              "a variant names another http(s) playlist",
              {{"text", text}, {"playlist", r.playlistUrl}});
        Check(static_cast<unsigned char>(r.protection) <= static_cast<unsigned char>(m.protection),
              "the manifest's protection is the strongest", {{"text", text}});
        if (r.init) {
            CheckSegment(*r.init, text);
        }
        for (const cache::SegmentRef& s : r.segments) {
            CheckSegment(s, text);
        }
    }
}

}  // namespace fuzz
