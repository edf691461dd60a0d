#include "platform/DirectoryListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstring>

namespace platform {

const std::size_t kMaxPath = PATH_MAX;

namespace {

DIR* AsDir(void* stream) {
    return static_cast<DIR*>(stream);
}

DIR* OpenStream(int fd) {
    if (fd < 0) {
        return nullptr;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
    }
    return dir;
}

int OpenDirectoryAt(int dirFd, const char* name, int extraFlags) {
    int fd;
    do {
        fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void TakeFileDetails(const struct stat& st, DirectoryEntry& entry) {
    entry.size = static_cast<std::int64_t>(st.st_size);
    entry.lastWriteTime = static_cast<std::int64_t>(st.st_mtime);
    entry.lastWriteTimeNs =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    entry.device = static_cast<std::uint64_t>(st.st_dev);
    entry.inode = static_cast<std::uint64_t>(st.st_ino);
}

// Classifies a link by what it ends at: only a regular file counts; a directory behind
// a link is never entered, which is what keeps link loops finite.
void ClassifyLink(int dirFd, const char* name, DirectoryEntry& entry) {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, 0) == 0 && S_ISREG(st.st_mode)) {
        entry.kind = EntryKind::File;
        TakeFileDetails(st, entry);
    } else {
        entry.kind = EntryKind::Other;
    }
}

// Returns false when the entry has gone since it was listed.
bool Classify(int dirFd, const dirent& de, bool fileDetails, DirectoryEntry& entry) {
    entry.size = 0;
    entry.lastWriteTime = 0;
    entry.lastWriteTimeNs = 0;
    entry.device = 0;
    entry.inode = 0;
    struct stat st {};
    switch (de.d_type) {
        case DT_DIR:
            entry.kind = EntryKind::Directory;
            return true;
        case DT_REG:
            if (!fileDetails) {
                entry.kind = EntryKind::File;
                return true;
            }
            if (::fstatat(dirFd, de.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                return false;
            }
            break;  // re-checked below: the name may have been replaced meanwhile
        case DT_LNK:
            ClassifyLink(dirFd, de.d_name, entry);
            return true;
        case DT_UNKNOWN:
            if (::fstatat(dirFd, de.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                return false;
            }
            break;
        default:
            entry.kind = EntryKind::Other;
            return true;
    }
    if (S_ISREG(st.st_mode)) {
        entry.kind = EntryKind::File;
        TakeFileDetails(st, entry);
    } else if (S_ISDIR(st.st_mode)) {
        entry.kind = EntryKind::Directory;
    } else if (S_ISLNK(st.st_mode)) {
        ClassifyLink(dirFd, de.d_name, entry);
    } else {
        entry.kind = EntryKind::Other;
    }
    return true;
}

}  // namespace

DirectoryListing::DirectoryListing(const std::string& path)
    : stream_(OpenStream(OpenDirectoryAt(AT_FDCWD, path.c_str(), 0))) {}

DirectoryListing::DirectoryListing(const DirectoryListing& parent, const char* name) {
    if (parent.stream_ != nullptr) {
        stream_ = OpenStream(OpenDirectoryAt(::dirfd(AsDir(parent.stream_)), name, O_NOFOLLOW));
    }
}

DirectoryListing::~DirectoryListing() {
    if (stream_ != nullptr) {
        ::closedir(AsDir(stream_));
    }
}

DirectoryListing::DirectoryListing(DirectoryListing&& other) noexcept
    : stream_(other.stream_), fileDetails_(other.fileDetails_) {
    other.stream_ = nullptr;
}

DirectoryListing& DirectoryListing::operator=(DirectoryListing&& other) noexcept {
    if (this != &other) {
        if (stream_ != nullptr) {
            ::closedir(AsDir(stream_));
        }
        stream_ = other.stream_;
        fileDetails_ = other.fileDetails_;
        other.stream_ = nullptr;
    }
    return *this;
}

bool DirectoryListing::Next(DirectoryEntry& entry) {
    if (stream_ == nullptr) {
        return false;
    }
    DIR* dir = AsDir(stream_);
    const int fd = ::dirfd(dir);
    while (const dirent* de = ::readdir(dir)) {
        if (IsDotOrDotDot(de->d_name) || !Classify(fd, *de, fileDetails_, entry)) {
            continue;
        }
        entry.name = de->d_name;
        entry.nameLength = std::strlen(de->d_name);
        return true;
    }
    return false;
}

int DirectoryListing::Descriptor() const {
    return stream_ == nullptr ? -1 : ::dirfd(AsDir(stream_));
}

bool DirectoryListing::FileDetails(const char* name, DirectoryEntry& entry) const {
    if (stream_ == nullptr) {
        return false;
    }
    struct stat st {};
    if (::fstatat(::dirfd(AsDir(stream_)), name, &st, 0) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    entry.kind = EntryKind::File;
    TakeFileDetails(st, entry);
    return true;
}

ReadOnlyFile DirectoryListing::OpenFile(const char* name) const {
    if (stream_ == nullptr) {
        return {};
    }
    return ReadOnlyFile(::dirfd(AsDir(stream_)), name);
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FolderState ProbeFolder(const std::string& path) {
    struct stat st;
    if (path.empty()) {
        return FolderState::Missing;
    }
    if (::stat(path.c_str(), &st) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? FolderState::Missing : FolderState::Unreadable;
    }
    if (!S_ISDIR(st.st_mode)) {
        return FolderState::NotAFolder;
    }
    return DirectoryListing(path).IsOpen() ? FolderState::Readable : FolderState::Unreadable;
}

}  // namespace platform
