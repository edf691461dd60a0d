#include "platform/WritableFile.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/PosixIo.h"

namespace platform {

WritableFile::WritableFile(const std::string& path)
    : fd_(posix::OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                              0600)) {}

WritableFile::~WritableFile() {
    Close();
}

WritableFile::WritableFile(WritableFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

WritableFile& WritableFile::operator=(WritableFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool WritableFile::SetSize(std::uint64_t size) {
    if (fd_ < 0 || size > static_cast<std::uint64_t>(INT64_MAX)) {
        return false;
    }
    int result;
    do {
        result = ::ftruncate(fd_, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool WritableFile::WriteAt(std::uint64_t offset, const void* data, std::size_t length) {
    if (fd_ < 0) {
        return false;
    }
    const auto* in = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t written = ::pwrite(fd_, in, length, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        in += written;
        offset += static_cast<std::uint64_t>(written);
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

bool WritableFile::CopyFrom(const ReadOnlyFile& source, std::uint64_t from, std::uint64_t to,
                            std::uint64_t length) {
    if (fd_ < 0 || !source.IsOpen()) {
        return false;
    }
    auto in = static_cast<off_t>(from);
    auto out = static_cast<off_t>(to);
    bool kernelCopies = true;
    while (length > 0 && kernelCopies) {
        const ssize_t copied = ::copy_file_range(source.Descriptor(), &in, fd_, &out,
                                                 static_cast<std::size_t>(length), 0);
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied < 0 && (errno == ENOSYS || errno == EXDEV || errno == EINVAL ||
                           errno == EOPNOTSUPP || errno == EPERM)) {
            kernelCopies = false;  // not between these files: go through a buffer
            break;
        }
        if (copied <= 0) {
            return false;  // an error, or the source ended early
        }
        length -= static_cast<std::uint64_t>(copied);
    }
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(length, 1 << 20)));
    while (length > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
        if (source.ReadAt(static_cast<std::uint64_t>(in), buffer.data(), n) !=
                static_cast<std::int64_t>(n) ||
            !WriteAt(static_cast<std::uint64_t>(out), buffer.data(), n)) {
            return false;
        }
        in += static_cast<off_t>(n);
        out += static_cast<off_t>(n);
        length -= n;
    }
    return true;
}

bool WritableFile::Sync() {
    return fd_ >= 0 && ::fsync(fd_) == 0;
}

bool WritableFile::Close() {
    if (fd_ < 0) {
        return true;
    }
    const bool ok = ::close(std::exchange(fd_, -1)) == 0;
    return ok;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

int CurrentProcessId() {
    return static_cast<int>(::getpid());
}

bool ProcessIsAlive(int pid) {
    // EPERM: it runs, as another user's process.
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

std::string PrivateTemporaryFolder() {
    std::string folder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        folder = std::string(runtime) + "/reelvault";
    } else {
        const char* tmp = std::getenv("TMPDIR");
        folder = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/reelvault-" +
                 std::to_string(::getuid());
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    // In a shared folder someone else may have made it first: only our own, closed to
    // others, will do.
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0) {
        return {};
    }
    return folder;
}

}  // namespace platform
