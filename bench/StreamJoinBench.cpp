// The join of a 10-minute stream of separate picture and sound tracks (fMP4 segments in
// Chromium cache entries), against `ffmpeg -c copy` joining the same tracks read from
// files of the same bytes. Target: at most half of ffmpeg's time. And Enter to the first
// picture of that stream: the join for playing, then the real player up to its video
// output. Target: under 1 s.
//
//   stream_join_bench [--minutes N]

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

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

// Seconds from the start of `args` until it prints a line that begins with `prefix`
// (the real player's "VO:" line: its video output is set up for the first picture);
// negative when it never does.
double UntilLine(const std::vector<std::string>& args, const std::string& prefix) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return -1;
    }
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    double seen = -1;
    std::string pending;
    char buffer[4096];
    ssize_t n = 0;
    while (rc == 0 && seen < 0 && (n = ::read(out[0], buffer, sizeof buffer)) > 0) {
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t at = 0; (at = pending.find('\n')) != std::string::npos;
             pending.erase(0, at + 1)) {
            if (pending.compare(0, prefix.size(), prefix) == 0) {
                seen =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                break;
            }
        }
    }
    ::close(out[0]);
    if (rc == 0) {
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
        }
    }
    return seen;
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

    // Enter to the first picture: what the program does between the key and the player's
    // video output, the join for playing, then the real player on the joined file (its
    // picture to no window, its sound to nowhere).
    double firstPicture = 1e300;
    for (int round = 0; round <= kRounds; ++round) {
        const std::string target =
            dir / ("first." + join::JoinedExtension(stream, join::Purpose::Play));
        std::string error;
        const double joinTime =
            bench::Seconds([&] { join::JoinStream(stream, join::Purpose::Play, target, error); });
        const double playerTime = UntilLine({"mplayer", "-slave", "-identify", "-quiet", "-vo",
                                             "null", "-ao", "null", "-nolirc", target},
                                            "VO:");
        std::filesystem::remove(target);
        if (playerTime < 0) {
            std::fprintf(stderr, "the player showed no picture of the joined stream\n");
            return 1;
        }
        if (round > 0) {
            firstPicture = std::min(firstPicture, joinTime + playerTime);
        }
    }
    std::printf(
        "Enter to first picture: %.3f s (the join, then mplayer to its video output; "
        "target under 1 s)\n",
        firstPicture);
    failed = failed || firstPicture >= 1.0;
    return failed ? 2 : 0;
}
