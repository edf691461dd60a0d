#include "platform/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/PosixIo.h"
#include "platform/ProfileText.h"

namespace platform {

namespace {

using posix::OpenRetrying;
using posix::WriteAll;

enum class LoadResult { kLoaded, kMissing, kFailed };

// Loads the whole file. O_NONBLOCK keeps a fifo in the file's place from blocking us; it
// is then refused together with directories and devices.
LoadResult Load(const std::string& path, std::string* text, struct stat* info) {
    text->clear();
    const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT ? LoadResult::kMissing : LoadResult::kFailed;
    }
    LoadResult result = LoadResult::kLoaded;
    if (::fstat(fd, info) != 0 || !S_ISREG(info->st_mode) ||
        static_cast<unsigned long long>(info->st_size) > kProfileMaxFileSize) {
        result = LoadResult::kFailed;
    } else {
        text->reserve(static_cast<std::size_t>(info->st_size));
        char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0 || text->size() + static_cast<std::size_t>(got) > kProfileMaxFileSize) {
                result = LoadResult::kFailed;
                break;
            }
            if (got == 0) {
                break;
            }
            text->append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    if (result != LoadResult::kLoaded) {
        text->clear();
    }
    return result;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A link to the settings file stays a link: the file it names is the one replaced, and
// created when it does not exist yet (a dotfile link made before its target). Empty for a
// chain of links that does not end.
std::string ResolveLink(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info;
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
            return {};
        }
        const std::string named(target, static_cast<std::size_t>(length));
        current = named.front() == '/' ? named : FolderOf(current) + "/" + named;
    }
    return {};
}

// A name next to `path` that no one else is likely to use.
std::string TempNameFor(const std::string& path) {
    static unsigned counter = 0;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const unsigned long tag = static_cast<unsigned long>(now.tv_nsec) ^
                              (static_cast<unsigned long>(::getpid()) << 20) ^ ++counter;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp%08lx", tag & 0xffffffffUL);
    return path + suffix;
}

// Gives a fresh file the old file's permissions (and owner, where we may), its text, and
// flushes it to disk.
bool Fill(int fd, const std::string& text, const struct stat* old) {
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
    return WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
}

enum class Outcome { kDone, kFailed, kUnsupported };

// The new contents go first into a file without a name (O_TMPFILE), which a writer killed
// half-way cannot leave behind; only the finished file gets a temporary name, to be
// renamed over the old one at once. New files are made with mode 0666 so that the umask
// applies as to any new file.
Outcome WriteUnnamed(const std::string& path, const std::string& text, const struct stat* old,
                     std::string* tempPath) {
    const int fd =
        OpenRetrying(FolderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        return (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) ? Outcome::kUnsupported
                                                                           : Outcome::kFailed;
    }
    Outcome result = Outcome::kFailed;
    if (Fill(fd, text, old)) {
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
Outcome WriteNamed(const std::string& path, const std::string& text, const struct stat* old,
                   std::string* tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tempPath = TempNameFor(path);
        const int fd = OpenRetrying(tempPath->c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && errno == EEXIST) {
            continue;
        }
        if (fd < 0) {
            tempPath->clear();
            return Outcome::kFailed;
        }
        const bool filled = Fill(fd, text, old);
        const bool closed = ::close(fd) == 0;
        return filled && closed ? Outcome::kDone : Outcome::kFailed;
    }
    tempPath->clear();
    return Outcome::kFailed;
}

bool ReplaceFile(const std::string& path, const std::string& text, const struct stat* old) {
    std::string tempPath;
    Outcome outcome = WriteUnnamed(path, text, old, &tempPath);
    if (outcome == Outcome::kUnsupported) {
        outcome = WriteNamed(path, text, old, &tempPath);
    }
    if (outcome != Outcome::kDone || ::rename(tempPath.c_str(), path.c_str()) != 0) {
        if (!tempPath.empty()) {
            ::unlink(tempPath.c_str());
        }
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int dir = OpenRetrying(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace

ProfileLookup ReadProfileString(const std::string& path, std::string_view section,
                                std::string_view key, std::string* value) {
    std::string text;
    struct stat info;
    switch (Load(path, &text, &info)) {
        case LoadResult::kMissing:
            return ProfileLookup::kNotFound;
        case LoadResult::kFailed:
            return ProfileLookup::kUnreadable;
        case LoadResult::kLoaded:
            break;
    }
    return FindProfileValue(text, section, key, value) ? ProfileLookup::kFound
                                                       : ProfileLookup::kNotFound;
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    return WriteProfileStrings(path, {ProfileValue{section, key, value}});
}

bool WriteProfileStrings(const std::string& path, const std::vector<ProfileValue>& values) {
    if (path.empty()) {
        return false;
    }
    const std::string target = ResolveLink(path);
    if (target.empty()) {
        return false;
    }
    std::string text;
    struct stat info;
    const LoadResult loaded = Load(target, &text, &info);
    if (loaded == LoadResult::kFailed) {
        return false;  // rewriting a file we could not read would lose what it holds
    }
    const bool exists = loaded == LoadResult::kLoaded;
    // A read-only file says "do not change me", even though its folder would allow the
    // rename that replaces it.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        return false;
    }
    const std::string before = text;
    bool all = true;
    for (const ProfileValue& v : values) {
        all = SetProfileValue(text, v.section, v.key, v.value) && all;
    }
    if ((exists || text.empty()) && text == before) {
        return all;
    }
    return ReplaceFile(target, text, exists ? &info : nullptr) && all;
}

}  // namespace platform
