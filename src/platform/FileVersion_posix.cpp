#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileVersion.h"

namespace platform {

namespace {

bool ReadFully(int fd, std::uint64_t offset, void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::pread(fd, bytes, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

}  // namespace

std::string GetFileVersion(const std::string& path) {
    // Non-blocking so that a fifo given by mistake cannot hang the about box.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return {};
    }
    std::string version;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        const ReadAt read = [fd](std::uint64_t offset, void* buffer, std::size_t size) {
            return ReadFully(fd, offset, buffer, size);
        };
        version = ParseFileVersion(read, static_cast<std::uint64_t>(info.st_size));
    }
    ::close(fd);
    return version;
}

}  // namespace platform
