#include "platform/ReadOnlyFile.h"

#include <sys/stat.h>

#include <utility>

#include "platform/PosixIo.h"

namespace platform {

namespace {

FileIdentity IdentityOf(const struct stat& st) {
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(st.st_dev);
    identity.inode = static_cast<std::uint64_t>(st.st_ino);
    identity.size = static_cast<std::int64_t>(st.st_size);
    identity.lastWriteTimeNs =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return identity;
}

// O_NONBLOCK so that a fifo put where a cache file was expected cannot hold the caller;
// it is refused right after, as is anything else but a regular file.
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

// `fd` when it is open on a regular file, with its identity; else closed, and -1.
int RegularFile(int fd, FileIdentity& identity) {
    struct stat st;
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    identity = IdentityOf(st);
    return fd;
}

}  // namespace

ReadOnlyFile::ReadOnlyFile(const std::string& path) {
    fd_ = RegularFile(posix::OpenRetrying(path.c_str(), kOpenFlags), identity_);
}

ReadOnlyFile::ReadOnlyFile(int directory, const char* name) {
#if defined(__SANITIZE_THREAD__)
    // GCC 12's libtsan does not see openat: closing a descriptor it never saw open would
    // look like a race with whoever last closed the same number. Under it the file is
    // opened through a path it does see.
    const std::string path = "/proc/self/fd/" + std::to_string(directory) + "/" + name;
    fd_ = RegularFile(posix::OpenRetrying(path.c_str(), kOpenFlags), identity_);
#else
    int fd;
    do {
        fd = ::openat(directory, name, kOpenFlags);
    } while (fd < 0 && errno == EINTR);
    fd_ = RegularFile(fd, identity_);
#endif
}

ReadOnlyFile::~ReadOnlyFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), identity_(other.identity_) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        identity_ = other.identity_;
    }
    return *this;
}

std::int64_t ReadOnlyFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) const {
    if (fd_ < 0) {
        return -1;
    }
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const std::uint64_t at = offset + done;
        if (at > static_cast<std::uint64_t>(INT64_MAX)) {
            break;
        }
        const ssize_t got = ::pread(fd_, out + done, length - done, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

bool StatFile(const std::string& path, FileIdentity& identity) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    identity = IdentityOf(st);
    return true;
}

}  // namespace platform
