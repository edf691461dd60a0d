#include "platform/PathNames.h"
#include "platform/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/PosixIo.h"

namespace platform {

namespace posix {

namespace {

// A name next to `path` that no one else is likely to use.
std::string TempNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const unsigned long tag = static_cast<unsigned long>(now.tv_nsec) ^
                              (static_cast<unsigned long>(::getpid()) << 20) ^ ++counter;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp%08lx", tag & 0xffffffffUL);
    return path + suffix;
}

// Gives a fresh file the old file's permissions (and owner, where we may) and its text,
// and flushes it to disk when asked.
bool Fill(int fd, std::string_view text, const struct stat* old, bool flush) {
    if (old != nullptr) {
        if (::fchmod(fd, old->st_mode & 07777) != 0) {
            return false;
        }
        if (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) {
            // Only the superuser may give a file away; for anyone else the new file is
            // theirs, like any file they write.
            if (::fchown(fd, old->st_uid, old->st_gid) != 0) {
                // not permitted: the file stays ours
            }
        }
    }
    return WriteAll(fd, text.data(), text.size()) && (!flush || ::fsync(fd) == 0);
}

enum class Outcome { kDone, kFailed, kUnsupported };

// The new contents go first into a file without a name (O_TMPFILE), which a writer killed
// half-way cannot leave behind; only the finished file gets a temporary name, to be
// renamed over the old one at once. New files get `mode`, less the umask as for any new
// file.
Outcome WriteUnnamed(const std::string& path, std::string_view text, const struct stat* old,
                     mode_t mode, bool flush, std::string* tempPath) {
    const int fd =
        OpenRetrying(FolderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0) {
        return (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) ? Outcome::kUnsupported
                                                                           : Outcome::kFailed;
    }
    Outcome result = Outcome::kFailed;
    if (Fill(fd, text, old, flush)) {
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        for (int attempt = 0; attempt < 100; ++attempt) {
            *tempPath = TempNameFor(path);
            if (::linkat(AT_FDCWD, self, AT_FDCWD, tempPath->c_str(), AT_SYMLINK_FOLLOW) == 0) {
                result = Outcome::kDone;
                break;
            }
            if (errno != EEXIST) {
                result = errno == ENOENT ? Outcome::kUnsupported : Outcome::kFailed;  // no /proc
                break;
            }
        }
    }
    if (result != Outcome::kDone) {
        tempPath->clear();  // no name was made ours: never unlink one
    }
    ::close(fd);
    return result;
}

// Where unnamed files are not supported: a named temporary file from the start.
Outcome WriteNamed(const std::string& path, std::string_view text, const struct stat* old,
                   mode_t mode, bool flush, std::string* tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tempPath = TempNameFor(path);
        const int fd = OpenRetrying(tempPath->c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd < 0 && errno == EEXIST) {
            continue;
        }
        if (fd < 0) {
            tempPath->clear();
            return Outcome::kFailed;
        }
        const bool filled = Fill(fd, text, old, flush);
        const bool closed = ::close(fd) == 0;
        return filled && closed ? Outcome::kDone : Outcome::kFailed;
    }
    tempPath->clear();
    return Outcome::kFailed;
}

}  // namespace

bool ReplaceFile(const std::string& path, std::string_view text, const struct stat* old,
                 mode_t mode, bool flush) {
    std::string tempPath;
    Outcome outcome = WriteUnnamed(path, text, old, mode, flush, &tempPath);
    if (outcome == Outcome::kUnsupported) {
        outcome = WriteNamed(path, text, old, mode, flush, &tempPath);
    }
    if (outcome != Outcome::kDone || ::rename(tempPath.c_str(), path.c_str()) != 0) {
        if (!tempPath.empty()) {
            ::unlink(tempPath.c_str());
        }
        return false;
    }
    if (!flush) {
        return true;
    }
    // The rename itself reaches the disk with the folder.
    const int dir = OpenRetrying(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace posix

bool ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& contents) {
    contents.clear();
    const int fd = posix::OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<unsigned long long>(info.st_size) <= maxSize;
    if (ok) {
        // The size is only a hint: the file may grow or shrink while it is read.
        contents.reserve(static_cast<std::size_t>(info.st_size));
        char buffer[16 * 1024];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0 || contents.size() + static_cast<std::size_t>(got) > maxSize) {
                ok = false;
                break;
            }
            if (got == 0) {
                break;
            }
            contents.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    if (!ok) {
        contents.clear();
    }
    return ok;
}

bool ReplaceWholeFile(const std::string& path, std::string_view contents, unsigned mode,
                      Durability durability) {
    if (path.empty()) {
        return false;
    }
    return posix::ReplaceFile(path, contents, nullptr, static_cast<mode_t>(mode) & 07777,
                              durability == Durability::kFlushed);
}

}  // namespace platform
