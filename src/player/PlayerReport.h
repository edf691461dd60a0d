#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
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

    // The player's answers to the time queries: where playback is and how long the file
    // is, in seconds. `length` 0: not known (yet, or the file does not say).
    struct Clock {
        double position = 0;
        double length = 0;
        std::uint64_t positionAnswers = 0;  // how many position answers have come so far
    };
    enum class Query { kPosition, kLength };
    // User interface thread: `count` more queries of ours are on their way (-1: one was
    // not sent after all), so their answers are ours to take rather than lines for the log.
    void Asked(Query query, int count);
    // Reader thread: true when `line` answers a query of ours (it is then not logged).
    bool TakeAnswer(const std::string& line);
    Clock Time() const;
    // The player said it reached the end of the file it had begun to play.
    bool ReachedEnd() const;

    // The seconds of an "ANS_TIME_POSITION=12.3" or "ANS_LENGTH=20.00" line; false for
    // any other line or a value no file has (negative, not finite, over a year).
    static bool AnswerOf(const std::string& line, Query& query, double& seconds);

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
    bool reachedEnd = false;
    std::string errorLine;
    int pendingPositions = 0;
    int pendingLengths = 0;
    Clock clock;
};
