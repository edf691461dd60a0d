#include "log/Log.h"

#include <algorithm>
#include <cstdio>

#include "platform/FileAppend.h"

int CLog::SetLogFile(std::string path) {
    fileName = std::move(path);
    if (fileName.empty()) {
        return -1;
    }
    return platform::TouchForAppend(fileName) ? 0 : -1;
}

std::size_t CLog::FormatLine(char* buffer, const platform::LocalTime& when, const char* format,
                             va_list args) {
    std::size_t n = std::strftime(buffer, kBufferSize, "%Y-%m-%d %T", &when.fields);
    const int stamp = std::snprintf(buffer + n, kBufferSize - n, ".%03hu ", when.millis);
    if (stamp > 0) {
        n += static_cast<std::size_t>(stamp);
    }
    // vsnprintf reports the full expansion's length; keep what fits before the line feed.
    const std::size_t room = kBufferSize - 1 - n;
    const int expanded = std::vsnprintf(buffer + n, room, format, args);
    if (expanded > 0) {
        n += std::min(static_cast<std::size_t>(expanded), room - 1);
    }
    buffer[n] = '\n';
    buffer[n + 1] = '\0';
    return n + 1;
}

void CLog::Log(const char* format, ...) {
    char buffer[kBufferSize];
    va_list args;
    va_start(args, format);
    const std::size_t length = FormatLine(buffer, platform::NowLocal(), format, args);
    va_end(args);

    if (!fileName.empty()) {
        // A file that cannot be written is skipped silently; the sink still gets the line.
        (void)platform::AppendToFile(fileName, buffer, length);
    }
    if (OnLog) {
        OnLog(buffer);
    }
}
