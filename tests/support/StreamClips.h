#pragma once

// Adaptive streams made at test time: ffmpeg cuts a clip into HLS segments (MPEG-TS, or
// fMP4 with an init section), the segments are stored as Chromium cache entries, and a
// cache::Stream is put together from them by hand, as the scan would.

#include <cstdio>
#include <string>
#include <vector>

#include "cache/EntryReaders.h"
#include "cache/Stream.h"
#include "support/CacheWriters.h"
#include "support/MediaClips.h"

namespace testsupport {

enum class Rendition { Ts, Fmp4, Fmp4Video, Fmp4Audio };

// The bodies of one rendition: the init section (fMP4 only) and the segments in order.
struct SegmentFiles {
    std::string init;
    std::vector<std::string> segments;
};

// Cuts `seconds` of test picture and sound into segments of `segment` seconds in
// `folder`; `extra` goes to ffmpeg before the output (e.g. "-output_ts_offset"). Empty
// segments when ffmpeg failed.
inline SegmentFiles MakeSegments(const std::string& folder, Rendition rendition, int seconds,
                                 int segment, const std::vector<std::string>& extra = {}) {
    std::filesystem::create_directories(folder);
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    for (const std::string& input : TestSource(seconds, 160, 120)) {
        argv.push_back(input);
    }
    const bool fmp4 = rendition != Rendition::Ts;
    if (rendition != Rendition::Fmp4Audio) {
        argv.insert(argv.end(), {"-map", "0:v", "-c:v", "libx264", "-preset", "ultrafast", "-g",
                                 std::to_string(25 * segment)});
    }
    if (rendition != Rendition::Fmp4Video) {
        argv.insert(argv.end(), {"-map", "1:a", "-c:a", "aac"});
    }
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(),
                {"-f", "hls", "-hls_time", std::to_string(segment), "-hls_list_size", "0",
                 "-hls_segment_filename", folder + (fmp4 ? "/seg%d.m4s" : "/seg%d.ts")});
    if (fmp4) {
        argv.insert(argv.end(),
                    {"-hls_segment_type", "fmp4", "-hls_fmp4_init_filename", "init.mp4"});
    }
    argv.push_back(folder + "/index.m3u8");
    SegmentFiles files;
    if (RunProgram(argv) != 0) {
        return files;
    }
    if (fmp4) {
        files.init = folder + "/init.mp4";
    }
    for (int i = 0;; ++i) {
        const std::string path = folder + "/seg" + std::to_string(i) + (fmp4 ? ".m4s" : ".ts");
        if (!std::filesystem::exists(path)) {
            break;
        }
        files.segments.push_back(path);
    }
    return files;
}

// `body` stored in `dir` as one Chromium entry for `url`, read back as the scan reads it.
inline cache::Entry StoreChromiumEntry(const std::string& dir, const std::string& url,
                                       const std::string& body) {
    static unsigned counter = 0;
    char name[32];
    std::snprintf(name, sizeof name, "%016x_0", counter++);
    const std::string path = dir + "/" + name;
    WriteFile(path, ChromiumEntryFile(ChromiumKey(url), body, ChromiumStream0(ChromiumHttp(""))));
    cache::ReadEntry read;
    cache::ReadChromiumFiles(path, "", read);
    return read.entry;
}

inline cache::StreamPiece WholePiece(const cache::Entry& entry, double start, double duration) {
    cache::StreamPiece piece;
    piece.body = entry;
    piece.length = entry.bodySize;
    piece.start = start;
    piece.duration = duration;
    return piece;
}

// A track of `files` stored in `dir`: one entry per segment, or with `oneBody` all
// segments in one entry and each piece a byte range of it (as EXT-X-BYTERANGE fetches).
inline cache::StreamTrack StoreTrack(const std::string& dir, const SegmentFiles& files,
                                     cache::TrackKind kind, cache::Container container, int segment,
                                     bool oneBody = false) {
    cache::StreamTrack track;
    track.kind = kind;
    track.container = container;
    static unsigned stream = 0;
    const std::string base = "https://media.test/s" + std::to_string(stream++) + "/";
    if (!files.init.empty()) {
        track.init =
            WholePiece(StoreChromiumEntry(dir, base + "init.mp4", ReadFile(files.init)), 0, 0);
    }
    std::string whole;
    std::vector<std::uint64_t> offsets;
    for (std::size_t i = 0; i < files.segments.size(); ++i) {
        const std::string body = ReadFile(files.segments[i]);
        const double start = static_cast<double>(i) * segment;
        if (oneBody) {
            offsets.push_back(whole.size());
            whole += body;
            continue;
        }
        track.pieces.push_back(WholePiece(
            StoreChromiumEntry(dir, base + "seg" + std::to_string(i), body), start, segment));
    }
    if (oneBody) {
        const cache::Entry entry = StoreChromiumEntry(dir, base + "all", whole);
        offsets.push_back(whole.size());
        for (std::size_t i = 0; i + 1 < offsets.size(); ++i) {
            cache::StreamPiece piece = WholePiece(entry, static_cast<double>(i) * segment, segment);
            piece.offset = offsets[i];
            piece.length = offsets[i + 1] - offsets[i];
            track.pieces.push_back(piece);
        }
    }
    return track;
}

}  // namespace testsupport
