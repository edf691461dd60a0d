// Random tracks through the stream join, as cached segments would reach it: whatever the
// bytes, the join ends, and either writes a file or says why not and leaves none.
//
// Input: one byte of layout, then the tracks' bytes. Layout bits 0-1: the container the
// tracks claim (MPEG-TS, fMP4, WebM, unknown); bit 2: saved rather than played; bit 3:
// a separate sound track from the second half of the bytes; bit 4: the first piece of
// each track is its init section. Each track is cut into pieces of 4 KiB.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzSupport.h"
#include "join/StreamJoin.h"

namespace {

using fuzz::Check;

constexpr std::size_t kPiece = 4096;

const std::string& Folder() {
    // Never destroyed: the handler at exit still needs it.
    static const std::string& folder = *[] {
        auto* path = new std::string(std::filesystem::temp_directory_path() /
                                     ("fuzz-stream-join-" + std::to_string(::getpid())));
        std::filesystem::create_directories(*path);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(Folder(), ignored);
        });
        return path;
    }();
    return folder;
}

cache::StreamTrack Track(const cache::Entry& body, std::uint64_t from, std::uint64_t to,
                         cache::TrackKind kind, cache::Container container, bool init) {
    cache::StreamTrack track;
    track.kind = kind;
    track.container = container;
    for (std::uint64_t at = from; at < to; at += kPiece) {
        cache::StreamPiece piece;
        piece.body = body;
        piece.offset = at;
        piece.length = std::min<std::uint64_t>(kPiece, to - at);
        if (init && !track.init) {
            track.init = piece;
        } else {
            track.pieces.push_back(piece);
        }
    }
    return track;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint8_t layout = data[0];
    const std::string bodyPath = Folder() + "/body";
    std::ofstream(bodyPath, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    cache::Entry body;
    body.file = bodyPath;
    body.bodySize = size - 1;

    static constexpr cache::Container kContainers[] = {
        cache::Container::MpegTs, cache::Container::Fmp4, cache::Container::WebM,
        cache::Container::Unknown};
    const cache::Container container = kContainers[layout & 3];
    const join::Purpose purpose = (layout & 4) != 0 ? join::Purpose::Save : join::Purpose::Play;
    const bool split = (layout & 8) != 0;
    const bool init = (layout & 16) != 0;
    cache::Stream stream;
    stream.length = 60;
    const std::uint64_t half = split ? body.bodySize / 2 : body.bodySize;
    stream.tracks.push_back(Track(
        body, 0, half, split ? cache::TrackKind::Video : cache::TrackKind::Muxed, container, init));
    if (split) {
        stream.tracks.push_back(
            Track(body, half, body.bodySize, cache::TrackKind::Audio, container, init));
    }

    const std::string extension = join::JoinedExtension(stream, purpose);
    Check(extension == "ts" || extension == "mp4" || extension == "mkv" || extension == "webm",
          "a known extension", {{"extension", extension}});
    const std::string target = Folder() + "/joined";
    std::string error;
    const bool ok = join::JoinStream(stream, purpose, target, error);
    const bool exists = std::filesystem::exists(target);
    Check(ok ? exists && error.empty() : !exists && !error.empty(),
          "a file, or a reason and no file", {{"error", error}});
    std::filesystem::remove(target);
    return 0;
}
