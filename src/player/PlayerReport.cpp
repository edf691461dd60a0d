#include "player/PlayerReport.h"

#include <charconv>
#include <cstring>

namespace {

bool StartsWith(const std::string& line, const char* prefix) {
    return line.compare(0, std::strlen(prefix), prefix) == 0;
}

bool Contains(const std::string& line, const char* part) {
    return line.find(part) != std::string::npos;
}

// A decimal number at `at` in `line`, moved past; none beyond `limit`.
bool ReadNumber(const std::string& line, std::size_t& at, int limit, int& value) {
    const char* first = line.data() + at;
    const char* last = line.data() + line.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end == first || value <= 0 || value > limit) {
        return false;
    }
    at += static_cast<std::size_t>(end - first);
    return true;
}

bool Expect(const std::string& line, std::size_t& at, const char* text) {
    if (line.compare(at, std::strlen(text), text) != 0) {
        return false;
    }
    at += std::strlen(text);
    return true;
}

}  // namespace

PlayerReport::News PlayerReport::PictureSizeOf(const std::string& line) {
    // Far beyond any screen; a number past it is not a picture size.
    constexpr int kLimit = 1 << 16;
    if (!StartsWith(line, "VO: [")) {
        return {};
    }
    std::size_t at = line.find("] ");
    if (at == std::string::npos) {
        return {};
    }
    at += 2;
    int sourceWidth = 0, sourceHeight = 0, width = 0, height = 0;
    if (!ReadNumber(line, at, kLimit, sourceWidth) || !Expect(line, at, "x") ||
        !ReadNumber(line, at, kLimit, sourceHeight) || !Expect(line, at, " => ") ||
        !ReadNumber(line, at, kLimit, width) || !Expect(line, at, "x") ||
        !ReadNumber(line, at, kLimit, height)) {
        return {};
    }
    return {News::kPictureSize, width, height};
}

bool PlayerReport::IsErrorLine(const std::string& line) {
    if (StartsWith(line, "Failed to open ")) {
        // Not about the file: no infrared remote set up (said on every start), or a video
        // back end missing, after which the player tries its next output.
        return !Contains(line, "LIRC") && !Contains(line, " backend ");
    }
    return StartsWith(line, "File not found: ") ||
           StartsWith(line, "Failed to recognize file format") ||
           StartsWith(line, "No stream found to handle url") ||
           StartsWith(line, "Cannot find codec") || StartsWith(line, "Cannot open file") ||
           StartsWith(line, "Error opening/initializing") ||
           StartsWith(line, "Video: Cannot read properties") ||
           StartsWith(line, "Could not open/initialize audio device") ||
           Contains(line, "av_open_input_stream() failed");
}

PlayerReport::News PlayerReport::Take(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock);
    if (StartsWith(line, "Starting playback...")) {
        started = true;
    } else if (StartsWith(line, "Video: no video")) {
        const bool first = !audioOnly;
        audioOnly = true;
        return first ? News{News::kAudioOnly} : News{};
    } else if (errorLine.empty() && IsErrorLine(line)) {
        errorLine = line;
    } else if (StartsWith(line, "Exiting... (End of file)")) {
        // Also said after "File not found": only the end of a playback that began counts.
        played = played || started;
    } else if (StartsWith(line, "VO: ")) {
        const News news = PictureSizeOf(line);
        // The player may open an output while it probes a file it then cannot play.
        played = played || (started && news.kind == News::kPictureSize);
        return news;
    }
    return {};
}

void PlayerReport::Finish() {
    {
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
    }
    finishedChanged.notify_all();
}

bool PlayerReport::WaitFinished(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> guard(lock);
    return finishedChanged.wait_for(guard, bound, [this] { return finished; });
}

std::string PlayerReport::ErrorLine() const {
    std::lock_guard<std::mutex> guard(lock);
    return errorLine;
}

bool PlayerReport::PlaybackStarted() const {
    std::lock_guard<std::mutex> guard(lock);
    return started;
}

bool PlayerReport::Played() const {
    std::lock_guard<std::mutex> guard(lock);
    return played;
}

bool PlayerReport::AudioOnly() const {
    std::lock_guard<std::mutex> guard(lock);
    return audioOnly;
}
