#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "cache/CacheEntry.h"

// What a cached body holds as media: its length, picture size and codecs, and one frame of
// it. Read in the program with FFmpeg's libraries through the body reader, so that a body
// behind a header or in pieces is read where it lies.
namespace media {

enum class Kind : unsigned char {
    NotMedia,   // not recognised, unreadable, or given up on
    Video,      // has a picture (possibly sound as well)
    AudioOnly,  // sound and nothing else (a cover picture does not count)
};

struct Facts {
    Kind kind = Kind::NotMedia;
    std::int64_t durationMs = -1;  // -1 when unknown
    int width = 0;                 // of the picture as shown (sample aspect applied)
    int height = 0;
    std::string videoCodec;  // short display names: "H.264", "VP9", "AAC"...
    std::string audioCodec;

    bool operator==(const Facts&) const = default;
};

// What one entry may cost. A body that needs more is given up on: it reads as NotMedia
// (or keeps the facts found so far without a thumbnail).
struct Limits {
    std::chrono::milliseconds time{3000};  // wall time for the whole entry
    std::int64_t probeBytes = 4 << 20;     // read while looking for the streams
    std::int64_t analyzeMicroseconds = 4000000;
    int maxSide = 16384;                  // a larger picture is refused as absurd
    std::int64_t maxPixels = 64LL << 20;  // width x height
    int maxPackets = 600;                 // read while looking for the thumbnail frame
    // Set from another thread to give up on the entry at once (the worker is paused or the
    // entry is gone); null for none.
    const std::atomic<bool>* cancel = nullptr;
};

// A picture ready for the thumbnail cache: PNG bytes and the size they hold.
struct Thumbnail {
    std::string png;
    int width = 0;
    int height = 0;
};

// Text chunks to put into a thumbnail, in order (key, value); Latin-1 keys as PNG wants.
struct PngText {
    std::string key;
    std::string value;
};

// How an attempt ended, for the caller to tell "not media" from "stopped".
enum class Outcome : unsigned char {
    Done,       // the facts are what the body holds (NotMedia included)
    Cancelled,  // Limits::cancel was set: nothing is known
    TimedOut,   // the time limit ran out: reads as NotMedia
};

// The facts of the body behind `reader`. Never throws; libav's own messages are silenced.
Facts ReadFacts(cache::BodyReader& reader, const Limits& limits, Outcome* outcome = nullptr);

// The facts and, for video, thumbnails of one frame (about a tenth into it, or the first
// frame of a short one): one per entry of `sides`, scaled to at most that many pixels on
// its long side (never enlarged) and encoded as PNG with `texts` as tEXt chunks.
// `thumbnails` stays empty when no frame could be had.
Facts ReadFactsAndThumbnails(cache::BodyReader& reader, const Limits& limits,
                             const std::vector<int>& sides, const std::vector<PngText>& texts,
                             std::vector<Thumbnail>& thumbnails, Outcome* outcome = nullptr);

// The list's texts: "1:05:03", "4:07", or a dash where the length is unknown.
std::string LengthText(const Facts& facts);
// "640x360 H.264", "audio only", or a dash for anything that is not media.
std::string PictureText(const Facts& facts);
// The dash both show for "nothing to say" (UTF-8).
extern const char* const kDash;

}  // namespace media
