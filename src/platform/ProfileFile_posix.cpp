#include "platform/PathNames.h"
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
    return posix::ReplaceFile(target, text, exists ? &info : nullptr, 0666, true) && all;
}

}  // namespace platform
