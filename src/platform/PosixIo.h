#pragma once

// Descriptor helpers shared by the POSIX implementation files. Not a service of its own:
// nothing outside src/platform includes it.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

namespace platform::posix {

// open(2), resumed when a signal interrupts it.
inline int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Writes all `size` bytes, resuming after signals and short writes. Async-signal-safe, so
// a freshly forked child may use it.
inline bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Writes `text` to a new file beside `path` and renames it over `path`. The new file takes
// the permissions and owner of `old` when given, else `mode` less the umask; `flush` puts
// the data and the rename on the disk first. False on any failure, `path` untouched.
bool ReplaceFile(const std::string& path, std::string_view text, const struct stat* old,
                 mode_t mode, bool flush);

}  // namespace platform::posix
