#include "platform/FileAppend.h"
#include "platform/PosixIo.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

namespace platform {

namespace {

// Non-blocking, so that a fifo in place of the log file (nobody reading it, or a reader
// that stalls) skips the line instead of freezing every thread that logs.
int OpenForAppend(const std::string& path) {
    return posix::OpenRetrying(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
}

}  // namespace

bool AppendToFile(const std::string& path, const char* data, std::size_t size) {
    const int fd = OpenForAppend(path);
    if (fd < 0) {
        return false;
    }
    // One write per line: with O_APPEND the kernel places it atomically at the end, so
    // lines from two threads (or two processes) never interleave inside a line.
    ssize_t written;
    do {
        written = ::write(fd, data, size);
    } while (written < 0 && errno == EINTR);
    const bool closed = ::close(fd) == 0;
    return written == static_cast<ssize_t>(size) && closed;
}

bool TouchForAppend(const std::string& path) {
    const int fd = OpenForAppend(path);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace platform
