#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cache/CacheEntry.h"

// Adaptive streams (HLS, DASH): what a playlist or manifest says, and what of it a cache
// holds. A page's script fetches the manifest, then the media in segments of a few
// seconds, often with the sound apart; every one of those replies is cached under its own
// address. These types carry a stream from its manifest to the one file the player and
// the copy read.
namespace cache {

inline constexpr std::uint64_t kWholeResource = UINT64_MAX;

// Bounds on what one manifest may make us hold: manifests are outside data.
inline constexpr std::size_t kMaxManifestBytes = 16u << 20;
inline constexpr std::size_t kMaxRenditions = 256;
inline constexpr std::size_t kMaxSegmentsPerRendition = 100000;

enum class StreamKind : unsigned char {
    Hls,
    Dash,
    Segments,    // numbered segments of one address pattern whose manifest is not cached
    SplitFiles,  // a video-only and an audio-only file of one site, of the same length
};

enum class Container : unsigned char { Unknown, MpegTs, Fmp4, WebM, PackedAudio, Other };

enum class Protection : unsigned char {
    None,
    Aes128,  // HLS whole-segment AES-128: plays where the key is cached
    Drm,     // SAMPLE-AES, cenc/cbcs with a key system: never plays here
};

enum class TrackKind : unsigned char { Muxed, Video, Audio };

// One fetch the page made: a resource by its absolute address, whole or a byte range.
struct SegmentRef {
    std::string url;
    std::uint64_t offset = 0;
    std::uint64_t length = kWholeResource;
    double start = 0;                 // seconds from the presentation's start
    double duration = 0;              // seconds; 0 where the manifest does not say (init sections)
    std::uint32_t discontinuity = 0;  // HLS: the discontinuity sequence it belongs to
    // HLS AES-128: the key's address (empty when the segment is clear) and its IV.
    std::string keyUrl;
    std::array<unsigned char, 16> iv{};
};

// One quality of one track: an HLS media playlist, or a DASH Representation.
struct Rendition {
    TrackKind kind = TrackKind::Muxed;
    Container container = Container::Unknown;
    std::string id;  // DASH: the Representation's id; HLS: the media playlist's address
    std::string codecs;
    std::uint64_t bandwidth = 0;
    int width = 0;
    int height = 0;
    std::optional<SegmentRef> init;    // EXT-X-MAP, Initialization, SegmentBase's init range
    std::vector<SegmentRef> segments;  // in presentation order
    Protection protection = Protection::None;
    // An HLS master's variant or EXT-X-MEDIA rendition: the media playlist to read for
    // its segments (`segments` is empty until then). Empty for a DASH Representation.
    std::string playlistUrl;
    std::string audioGroup;  // HLS: the AUDIO group a variant plays with, or its own GROUP-ID
};

struct Manifest {
    StreamKind kind = StreamKind::Hls;
    std::string url;
    bool master = false;                       // HLS: names media playlists rather than segments
    bool live = false;                         // HLS without EXT-X-ENDLIST, DASH type="dynamic"
    double length = 0;                         // seconds; 0 where unknown
    Protection protection = Protection::None;  // the strongest any rendition has
    std::vector<Rendition> renditions;
};

// The manifest that `text`, fetched from `url`, holds; nullopt when it is none (no
// #EXTM3U / no MPD root) or breaks the bounds above. Every address comes out absolute,
// resolved against `url` (and the manifest's own BaseURL elements) as a browser would;
// addresses that are not http(s) are dropped.
std::optional<Manifest> ReadHlsPlaylist(std::string_view text, std::string_view url);
std::optional<Manifest> ReadDashManifest(std::string_view text, std::string_view url);

// A piece of a joined track as the cache holds it.
struct StreamPiece {
    Entry body;                // the cached resource that holds it
    std::uint64_t offset = 0;  // within that resource
    std::uint64_t length = 0;  // bytes, never past what the body has
    double start = 0;
    double duration = 0;
    std::uint32_t discontinuity = 0;
    bool encrypted = false;  // AES-128-CBC with `key` and `iv`, PKCS#7 padded
    std::array<unsigned char, 16> key{};
    std::array<unsigned char, 16> iv{};
};

// One track of the joined stream: its pieces in time order, present ones only.
struct StreamTrack {
    TrackKind kind = TrackKind::Muxed;
    Container container = Container::Unknown;
    std::string codecs;
    std::uint64_t bandwidth = 0;
    int width = 0;
    int height = 0;
    std::optional<StreamPiece> init;
    std::vector<StreamPiece> pieces;
};

// One row of the list: a video the user watched, whole or in part.
struct Stream {
    StreamKind kind = StreamKind::Hls;
    std::string url;                  // the manifest's address, or the first segment's
    Entry manifest;                   // the manifest's entry (what "Go to file" shows); the first
                                      // segment's where there is no manifest
    std::string name;                 // what "File name" shows
    std::vector<StreamTrack> tracks;  // one muxed track, or a video and an audio track
    Protection protection = Protection::None;
    double length = 0;  // the whole stream's seconds, where known
    std::uint64_t presentBytes = 0;
    std::size_t segmentsPresent = 0;
    std::size_t segmentsTotal = 0;  // 0 where the whole is unknown (no manifest)
    // Stretches of presentation time that are present, in seconds, sorted, disjoint.
    std::vector<std::pair<double, double>> present;
    std::string qualityNote;         // which quality or qualities were joined, for the tooltip
    std::int64_t lastWriteTime = 0;  // the newest of its pieces', seconds since 1970, UTC
};

}  // namespace cache
