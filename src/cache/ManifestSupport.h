#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cache/Stream.h"

// What the HLS and DASH readers share: numbers as manifests write them, what a codec
// list or an address says about the media, and the bound on what one manifest's result
// may hold.
namespace cache::manifest {

// Addresses longer than this are passed over: no browser fetches them, and one repeated
// for every segment (a key, a template) must not multiply into gigabytes.
inline constexpr std::size_t kMaxUrlBytes = 8192;

// ResolveUrl within kMaxUrlBytes: "" for a longer reference or result.
std::string Resolve(std::string_view base, std::string_view reference);

// Resolve for the many references of one document against its one base. A plain name (one
// path segment of characters an address carries as they are, the common segment line)
// only takes the place of the base's last segment, so the base is resolved once and the
// name appended; anything else goes through Resolve.
class Resolver {
  public:
    explicit Resolver(std::string_view base);
    std::string operator()(std::string_view reference) const;

  private:
    std::string_view base_;
    std::string folder_;  // what a plain name is appended to; empty when the base anchors none
};

// A decimal number of seconds ("10", "9.009", "1e1"), finite, not negative and below a
// century; false on anything else.
bool ParseSeconds(std::string_view text, double& seconds);

struct CodecKinds {
    bool video = false;
    bool audio = false;
};
// What the RFC 6381 codec list ("avc1.64001f,mp4a.40.2") names.
CodecKinds KindsOfCodecs(std::string_view codecs);

// The container a segment's address names by its extension; Unknown when it names none.
Container ContainerOfAddress(std::string_view url);

inline Protection Stronger(Protection a, Protection b) {
    return static_cast<unsigned char>(a) > static_cast<unsigned char>(b) ? a : b;
}

// Counts what a manifest's result holds. A segment template or a timeline repeat can name
// far more segments than its text is long; past kMaxSegmentsPerRendition segments in one
// rendition or kMaxResultBytes in all, further segments are left out (the stream is read
// as far as that).
class ResultBudget {
  public:
    static constexpr std::size_t kMaxResultBytes = 4 * kMaxManifestBytes;
    // True when one more segment of `rendition` fits; counts it.
    bool Take(const Rendition& rendition, const SegmentRef& segment) {
        const std::size_t cost = sizeof(SegmentRef) + segment.url.size() + segment.keyUrl.size();
        if (rendition.segments.size() >= kMaxSegmentsPerRendition ||
            cost > kMaxResultBytes - used_) {
            return false;
        }
        used_ += cost;
        return true;
    }

  private:
    std::size_t used_ = 0;
};

// The manifest's protection as the strongest of its renditions'.
void SumUpProtection(Manifest& manifest);

}  // namespace cache::manifest
