#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

// What one playback's output tells beyond the log: the line that says why the player gave
// up on the file, whether playback ever started, whether the file has no picture, and the
// size its picture is shown at.
// The reader thread fills it line by line; the wait thread waits (a bounded time) until
// the reader has seen the end of the output, so that the stop notification on the user
// interface thread finds the whole story.
class PlayerReport {
  public:
    // What a line told that the window must act on at once.
    struct News {
        enum Kind { kNothing, kAudioOnly, kPictureSize };
        Kind kind = kNothing;
        // kPictureSize: the picture's width and height as it is meant to be seen (its
        // display aspect applied), for the window to keep that aspect.
        int width = 0;
        int height = 0;
    };

    // Reader thread: one line of output. kAudioOnly exactly once, for the line that says
    // the file has no video; kPictureSize for each line where the video output is set up.
    News Take(const std::string& line);
    // Reader thread: the output has ended.
    void Finish();
    // Until Finish() has been called, at most `bound`; true when it was.
    bool WaitFinished(std::chrono::milliseconds bound);

    // The first line that told why the file cannot be played, or empty.
    std::string ErrorLine() const;
    bool PlaybackStarted() const;
    // Playback began and then showed a picture or reached the end of the file: whatever
    // the player said on the way, the file played.
    bool Played() const;
    bool AudioOnly() const;

    // Lines the real player prints when it cannot play a file (not its warnings about
    // remote controls or sockets, which come on every start).
    static bool IsErrorLine(const std::string& line);

    // The picture size of the player's "VO: [x11] 480x360 => 640x360 Planar YV12" line
    // (what comes after "=>"), or kNothing for any other line or absurd numbers.
    static News PictureSizeOf(const std::string& line);

  private:
    mutable std::mutex lock;
    std::condition_variable finishedChanged;
    bool finished = false;
    bool started = false;
    bool played = false;
    bool audioOnly = false;
    std::string errorLine;
};
