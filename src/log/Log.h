#pragma once

#include <cstdarg>
#include <cstddef>
#include <functional>
#include <string>

#include "log/Singleton.h"
#include "platform/Clock.h"

// The process-wide logger. Every line carries a local timestamp with milliseconds, goes
// to the log file when one is set and to the line sink when one is connected. Log() may
// be called from any thread.
class CLog : public CSingleton<CLog> {
  public:
    // Receives the finished line (zero-terminated, ending in a line feed) on the thread
    // that logged it.
    using LineSink = std::function<void(const char* line)>;

    static constexpr std::size_t kBufferSize = 1024;
    // "YYYY-MM-DD hh:mm:ss.mmm " before the message.
    static constexpr std::size_t kPrefixLength = 24;
    static constexpr std::size_t kMaxMessageLength = kBufferSize - 2 - kPrefixLength;

    LineSink OnLog;

    // Sets the file every later line is appended to; the empty path means no file.
    // Returns 0 when the file could be opened for appending, else -1 (the path is kept:
    // every later line tries again).
    int SetLogFile(std::string path);

    // printf-style. Text from outside the program must go in as an argument ("%s"),
    // never as the format.
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Formats one line into `buffer` (kBufferSize bytes): timestamp of `when`, the
    // expanded message cut to kMaxMessageLength characters, a line feed and a zero.
    // Returns the line's length including the line feed.
    static std::size_t FormatLine(char* buffer, const platform::LocalTime& when, const char* format,
                                  va_list args) __attribute__((format(printf, 3, 0)));

  private:
    friend class CSingleton<CLog>;
    CLog() = default;

    std::string fileName;
};
