#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cache/CacheEntry.h"
#include "cache/Stream.h"

// From the entries of one cache to the streams they make up: manifests read and their
// segments found by address, qualities chosen, and segments whose manifest is gone
// grouped by their addresses.
namespace cache {

// The text of a small cached body (a playlist, a manifest, a key): at most `limit`
// bytes; nullopt when it cannot be read or is longer.
using ReadBodyText = std::function<std::optional<std::string>(const Entry&, std::size_t limit)>;

// What a file holds, for pairing a video-only and an audio-only file without a manifest.
struct TrackProbe {
    bool video = false;
    bool audio = false;
    double seconds = 0;  // 0 where unknown
};
using ProbeTracks = std::function<TrackProbe(const Entry&)>;

struct StreamScan {
    std::vector<Stream> streams;
    // Indices into the entries that are parts of a listed stream (manifests, init
    // sections, segments, keys): never listed on their own, whatever their size.
    std::vector<std::size_t> consumed;
};

// `entries`: every readable entry of the cache that has an address, whatever its size
// or type. Reads manifests and keys through `readText`; asks `probe` only about
// candidates for pairing.
StreamScan FindStreams(const std::vector<Entry>& entries, const ReadBodyText& readText,
                       const ProbeTracks& probe);

// The bytes of one track as one body: its init section, then its pieces in order,
// decrypted where they are encrypted. What the media facts, the thumbnail and a join by
// concatenation read.
std::unique_ptr<BodyReader> OpenTrack(const StreamTrack& track);

}  // namespace cache
