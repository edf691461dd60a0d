#include "platform/FileCopy.h"
#include "platform/PosixIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {

namespace {

using posix::OpenRetrying;
using posix::WriteAll;

std::string ErrorText(int error) {
    char buffer[256];
    // The GNU variant may return a static string instead of filling the buffer.
    return std::string(::strerror_r(error, buffer, sizeof buffer));
}

// A descriptor that is closed on every way out.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool Close() {
        if (fd_ < 0) {
            return true;
        }
        const bool ok = ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

  private:
    int fd_;
};

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Creates a new file beside `target` that no one else uses; O_EXCL makes the name ours.
// Hidden, so that a file manager watching the folder does not offer the half-done copy,
// and short whatever the target is called, so that any name that fits can be copied to.
int CreateTemporary(const std::string& target, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    const std::string stem =
        DirectoryOf(target) + "/.reelvault-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = stem + std::to_string(counter++) + ".part";
        const int fd = OpenRetrying(tempPath.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

CopyResult Failure(int error) {
    return {CopyStatus::Failed, ErrorText(error)};
}

}  // namespace

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
        return false;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

CopyResult CopyFile(const std::string& source, const std::string& target,
                    const CopyProgress& progress, std::size_t chunkSize) {
    if (source == target || IsSameFile(source, target)) {
        return {CopyStatus::SameFile, {}};
    }
    Fd in(OpenRetrying(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (in.get() < 0) {
        return Failure(errno);
    }
    struct stat info {};
    if (::fstat(in.get(), &info) != 0) {
        return Failure(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return Failure(EISDIR);
    }
    std::string tempPath;
    Fd out(CreateTemporary(target, tempPath));
    if (out.get() < 0) {
        return Failure(errno);
    }
    // From here on every way out that is not a success removes the temporary file.
    auto abandon = [&](CopyResult result) {
        out.Close();
        ::unlink(tempPath.c_str());
        return result;
    };

    std::vector<char> buffer(chunkSize == 0 ? 1 : chunkSize);
    std::int64_t copied = 0;
    const std::int64_t total = static_cast<std::int64_t>(info.st_size);
    for (;;) {
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return abandon(Failure(errno));
        }
        if (got == 0) {
            break;
        }
        if (!WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(got))) {
            return abandon(Failure(errno));
        }
        copied += got;
        if (progress && !progress(copied, total)) {
            return abandon({CopyStatus::Cancelled, {}});
        }
    }
    // The rename must not publish a file whose data is still only in the page cache.
    if (::fsync(out.get()) != 0) {
        return abandon(Failure(errno));
    }
    if (!out.Close()) {
        const int error = errno;
        ::unlink(tempPath.c_str());
        return Failure(error);
    }
    if (::rename(tempPath.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(tempPath.c_str());
        return Failure(error);
    }
    return {CopyStatus::Copied, {}};
}

}  // namespace platform
