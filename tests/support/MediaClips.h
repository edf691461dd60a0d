#pragma once

// Real media made at test time with the real `ffmpeg`, for the tests and benchmarks of the
// media facts. Each clip is made once per folder; the expected facts are what was asked
// of ffmpeg.

#include <sys/wait.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "support/TempDir.h"

namespace testsupport {

// Runs `argv` without a shell; its output is read and thrown away. The exit status, or
// -1 when it could not start.
inline int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr) {
    platform::PipeEnd inRead, inWrite, outRead, outWrite;
    if (!platform::CreatePipe(inRead, inWrite)) {
        return -1;
    }
    if (!platform::CreatePipe(outRead, outWrite)) {
        platform::ClosePipe(inRead);
        platform::ClosePipe(inWrite);
        return -1;
    }
    platform::ProcessHandle child = platform::SpawnProcess(argv, inRead, outWrite);
    platform::ClosePipe(inRead);
    platform::ClosePipe(inWrite);
    platform::ClosePipe(outWrite);
    char buffer[4096];
    for (long got; (got = platform::ReadPipe(outRead, buffer, sizeof buffer)) > 0;) {
        if (output != nullptr) {
            output->append(buffer, static_cast<std::size_t>(got));
        }
    }
    platform::ClosePipe(outRead);
    if (!child) {
        return -1;
    }
    const int status = child->Wait();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Clip {
    std::string name;                    // file name in the folder
    std::vector<std::string> arguments;  // ffmpeg's, between the inputs and the output name
    int seconds;
    int width;  // 0: audio only
    int height;
    const char* video;  // expected display names
    const char* audio;
};

inline std::vector<std::string> TestSource(int seconds, int width, int height) {
    const std::string length = std::to_string(seconds);
    std::vector<std::string> inputs;
    if (width > 0) {
        inputs = {"-f", "lavfi", "-i",
                  "testsrc=size=" + std::to_string(width) + "x" + std::to_string(height) +
                      ":rate=25:duration=" + length};
    }
    inputs.insert(inputs.end(),
                  {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + length});
    return inputs;
}

// The kinds of clip a browser caches: MP4 with its index first and last, WebM, FLV, sound.
inline std::vector<Clip> StandardClips() {
    return {
        {"faststart.mp4",
         {"-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-c:a", "aac", "-movflags",
          "+faststart"},
         6,
         320,
         240,
         "H.264",
         "AAC"},
        {"indexlast.mp4",
         {"-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-c:a", "aac"},
         5,
         352,
         288,
         "H.264",
         "AAC"},
        {"clip.webm",
         {"-c:v", "libvpx", "-deadline", "realtime", "-cpu-used", "8", "-b:v", "300k", "-c:a",
          "libopus"},
         4,
         320,
         180,
         "VP8",
         "Opus"},
        {"clip.flv",
         {"-c:v", "flv1", "-b:v", "300k", "-c:a", "libmp3lame", "-ar", "44100"},
         7,
         176,
         144,
         "FLV1",
         "MP3"},
        {"sound.mp3", {"-c:a", "libmp3lame", "-b:a", "64k"}, 9, 0, 0, "", "MP3"},
    };
}

// Makes `clip` in `folder`; false when ffmpeg failed.
inline bool MakeClip(const std::string& folder, const Clip& clip) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    for (const std::string& input : TestSource(clip.seconds, clip.width, clip.height)) {
        argv.push_back(input);
    }
    argv.insert(argv.end(), clip.arguments.begin(), clip.arguments.end());
    argv.insert(argv.end(), {"-shortest", folder + "/" + clip.name});
    return RunProgram(argv) == 0;
}

// `size` bytes that no demuxer takes for media.
inline std::string RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xff);
    }
    return bytes;
}

}  // namespace testsupport
