#include "player/PlayerReport.h"

#include <cstring>

namespace {

bool StartsWith(const std::string& line, const char* prefix) {
    return line.compare(0, std::strlen(prefix), prefix) == 0;
}

bool Contains(const std::string& line, const char* part) {
    return line.find(part) != std::string::npos;
}

}  // namespace

bool PlayerReport::IsErrorLine(const std::string& line) {
    if (StartsWith(line, "Failed to open ")) {
        // Said on every start where no infrared remote is set up.
        return !Contains(line, "LIRC");
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

bool PlayerReport::Take(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock);
    if (StartsWith(line, "Starting playback...")) {
        started = true;
    } else if (StartsWith(line, "Video: no video")) {
        const bool first = !audioOnly;
        audioOnly = true;
        return first;
    } else if (errorLine.empty() && IsErrorLine(line)) {
        errorLine = line;
    }
    return false;
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

bool PlayerReport::AudioOnly() const {
    std::lock_guard<std::mutex> guard(lock);
    return audioOnly;
}
