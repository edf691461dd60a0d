#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

// What one playback's output tells beyond the log: the line that says why the player gave
// up on the file, whether playback ever started, and whether the file has no picture.
// The reader thread fills it line by line; the wait thread waits (a bounded time) until
// the reader has seen the end of the output, so that the stop notification on the user
// interface thread finds the whole story.
class PlayerReport {
  public:
    // Reader thread: one line of output. True exactly once: for the line that says the
    // file has no video.
    bool Take(const std::string& line);
    // Reader thread: the output has ended.
    void Finish();
    // Until Finish() has been called, at most `bound`; true when it was.
    bool WaitFinished(std::chrono::milliseconds bound);

    // The first line that told why the file cannot be played, or empty.
    std::string ErrorLine() const;
    bool PlaybackStarted() const;
    bool AudioOnly() const;

    // Lines the real player prints when it cannot play a file (not its warnings about
    // remote controls or sockets, which come on every start).
    static bool IsErrorLine(const std::string& line);

  private:
    mutable std::mutex lock;
    std::condition_variable finishedChanged;
    bool finished = false;
    bool started = false;
    bool audioOnly = false;
    std::string errorLine;
};
