// The join of a 10-minute stream of separate picture and sound tracks (fMP4 segments in
// Chromium cache entries), against `ffmpeg -c copy` joining the same tracks read from
// files of the same bytes. Target: at most half of ffmpeg's time.
//
//   stream_join_bench [--minutes N]

#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "PeerRun.h"
#include "join/StreamJoin.h"
#include "support/StreamClips.h"

namespace {

constexpr int kSegment = 4;
constexpr int kRounds = 3;

std::string Concatenated(const testsupport::SegmentFiles& files, const std::string& path) {
    std::string bytes = testsupport::ReadFile(files.init);
    for (const std::string& segment : files.segments) {
        bytes += testsupport::ReadFile(segment);
    }
    testsupport::WriteFile(path, bytes);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    int minutes = 10;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--minutes") == 0) {
            minutes = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    const int seconds = minutes * 60;
    testsupport::TempDir dir;
    std::printf("cutting a %d-minute stream with ffmpeg...\n", minutes);
    std::fflush(stdout);
    const auto video = testsupport::MakeSegments(dir / "video", testsupport::Rendition::Fmp4Video,
                                                 seconds, kSegment);
    const auto audio = testsupport::MakeSegments(dir / "audio", testsupport::Rendition::Fmp4Audio,
                                                 seconds, kSegment);
    if (video.segments.empty() || audio.segments.empty()) {
        std::fprintf(stderr, "ffmpeg could not cut the stream\n");
        return 1;
    }
    std::filesystem::create_directories(dir / "cache");
    cache::Stream stream;
    stream.length = seconds;
    stream.tracks.push_back(testsupport::StoreTrack(dir / "cache", video, cache::TrackKind::Video,
                                                    cache::Container::Fmp4, kSegment));
    stream.tracks.push_back(testsupport::StoreTrack(dir / "cache", audio, cache::TrackKind::Audio,
                                                    cache::Container::Fmp4, kSegment));
    const std::string videoFile = Concatenated(video, dir / "video.mp4");
    const std::string audioFile = Concatenated(audio, dir / "audio.mp4");
    std::printf("%zu video and %zu audio segments, %.1f MB\n", video.segments.size(),
                audio.segments.size(),
                static_cast<double>(std::filesystem::file_size(videoFile) +
                                    std::filesystem::file_size(audioFile)) /
                    1e6);

    bool failed = false;
    for (const join::Purpose purpose : {join::Purpose::Play, join::Purpose::Save}) {
        const std::string extension = join::JoinedExtension(stream, purpose);
        double ours = 1e300;
        double peer = 1e300;
        // The first round warms the page cache for both.
        for (int round = 0; round <= kRounds; ++round) {
            const std::string target = dir / ("ours." + extension);
            const std::string peerTarget = dir / ("peer." + extension);
            std::string error;
            bool ok = true;
            const double o =
                bench::Seconds([&] { ok = join::JoinStream(stream, purpose, target, error); });
            const double p = bench::Seconds([&] {
                ok = bench::RunQuiet({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", videoFile,
                                      "-i", audioFile, "-map", "0:v", "-map", "1:a", "-c", "copy",
                                      peerTarget}) &&
                     ok;
            });
            if (!ok) {
                std::fprintf(stderr, "join failed: %s\n", error.c_str());
                return 1;
            }
            std::filesystem::remove(target);
            std::filesystem::remove(peerTarget);
            if (round > 0) {
                ours = std::min(ours, o);
                peer = std::min(peer, p);
            }
        }
        const double ratio = ours / peer;
        std::printf(
            "%s (.%s): JoinStream %.3f s, ffmpeg -c copy %.3f s, ratio %.2f (target at most "
            "0.5)\n",
            purpose == join::Purpose::Play ? "play" : "save", extension.c_str(), ours, peer, ratio);
        failed = failed || ratio > 0.5;
    }
    return failed ? 2 : 0;
}
