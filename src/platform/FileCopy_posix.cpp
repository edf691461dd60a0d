#include "platform/FileCopy.h"
#include "platform/PosixIo.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ReadOnlyFile.h"

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

// Where a copy onto `target` lands: a symbolic link is written through to the file it
// names, following a chain of links (a relative one from its own folder), as cp does, so
// the link stays a link and the new file is made in the real file's folder. A dangling
// link gives the name it points at. False (errno set) for a loop or an unreadable link.
bool FollowLinks(const std::string& target, std::string& real) {
    real = target;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(real.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return true;
        }
        char text[PATH_MAX];
        const ssize_t length = ::readlink(real.c_str(), text, sizeof text);
        if (length < 0) {
            return false;
        }
        const std::string next(text, static_cast<std::size_t>(length));
        real = !next.empty() && next.front() == '/' ? next : DirectoryOf(real) + "/" + next;
    }
    errno = ELOOP;
    return false;
}

// Keeps the data not yet on the disk to a few chunks: each chunk's write-back is started
// as it is written, and the copy waits for the chunks older than `kInFlight` bytes. On a
// slow device the copy then moves at the device's pace, and a cancel never waits for the
// page cache to drain (a flush of hundreds of megabytes to a USB stick takes minutes).
class WriteBack {
  public:
    explicit WriteBack(int fd) : fd_(fd) {}
    void Written(std::int64_t end) {
        // Pacing only: the final fsync reports the errors.
        ::sync_file_range(fd_, started_, end - started_, SYNC_FILE_RANGE_WRITE);
        started_ = end;
        if (end - waited_ > kInFlight) {
            ::sync_file_range(
                fd_, waited_, end - kInFlight - waited_,
                SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
            waited_ = end - kInFlight;
        }
    }

  private:
    static constexpr std::int64_t kInFlight = 1 << 20;
    int fd_;
    std::int64_t started_ = 0;
    std::int64_t waited_ = 0;
};

CopyResult Failure(int error) {
    return {CopyStatus::Failed, ErrorText(error)};
}

// Why `path` could not be opened as a regular file for reading.
CopyResult OpenFailure(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return Failure(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return Failure(EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        return {CopyStatus::Failed, "it is not a regular file"};
    }
    const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return Failure(errno);
    }
    ::close(fd);
    return Failure(EIO);  // it changed under us; say something
}

// Flushes `fd` to disk on a thread of its own; meanwhile `progress` is called every
// 50 ms, so a caller that shows a window keeps it alive. A flush cannot be interrupted:
// a cancel is remembered and takes effect once it is done. Returns the flush's error
// (0 for none); `cancelled` tells whether the caller asked to stop meanwhile.
int FlushReporting(int fd, std::int64_t size, const CopyProgress& progress, bool& cancelled) {
    struct State {
        std::mutex lock;
        std::condition_variable finished;
        bool done = false;
        int error = 0;
    };
    auto state = std::make_shared<State>();
    std::thread flusher([state, fd] {
        const int error = ::fsync(fd) == 0 ? 0 : errno;
        std::lock_guard<std::mutex> guard(state->lock);
        state->done = true;
        state->error = error;
        state->finished.notify_all();
    });
    cancelled = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(state->lock);
            if (state->finished.wait_for(guard, std::chrono::milliseconds(50),
                                         [&] { return state->done; })) {
                break;
            }
        }
        if (!cancelled && progress && !progress(size, size)) {
            cancelled = true;
        }
    }
    flusher.join();
    return state->error;
}

// Makes the whole temporary file `tempPath`, open as `out`, the file `real`: flushed to
// the disk first, since the rename must not publish data still only in the page cache.
// Every way out that is not a success removes the temporary file.
CopyResult Publish(Fd& out, const std::string& tempPath, const std::string& real, std::int64_t size,
                   const CopyProgress& progress) {
    const auto abandon = [&](CopyResult result) {
        out.Close();
        ::unlink(tempPath.c_str());
        return result;
    };
    bool cancelled = false;
    const int flushError = FlushReporting(out.get(), size, progress, cancelled);
    if (cancelled) {
        return abandon({CopyStatus::Cancelled, {}});
    }
    if (flushError != 0) {
        return abandon(Failure(flushError));
    }
    if (!out.Close()) {
        return abandon(Failure(errno));
    }
    if (::rename(tempPath.c_str(), real.c_str()) != 0) {
        return abandon(Failure(errno));
    }
    return {CopyStatus::Copied, {}};
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
    const ReadOnlyFile in(source);
    if (!in.IsOpen()) {
        return OpenFailure(source);
    }
    return CopyToFile([&in](std::uint64_t offset, void* buffer,
                            std::size_t length) { return in.ReadAt(offset, buffer, length); },
                      in.Size(), target, progress, chunkSize);
}

CopyResult CopyToFile(const CopySource& source, std::int64_t size, const std::string& target,
                      const CopyProgress& progress, std::size_t chunkSize) {
    std::string real;
    if (!FollowLinks(target, real)) {
        return Failure(errno);
    }
    std::string tempPath;
    Fd out(CreateTemporary(real, tempPath));
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
    WriteBack writeBack(out.get());
    std::int64_t copied = 0;
    while (copied < size) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(size - copied, buffer.size()));
        const std::int64_t got = source(static_cast<std::uint64_t>(copied), buffer.data(), want);
        if (got < 0) {
            return abandon(Failure(errno));
        }
        if (static_cast<std::size_t>(got) < want) {
            // The source ended early: it shrank since its size was taken. What was read so
            // far is no copy of it.
            return abandon({CopyStatus::Failed, "the file became shorter while it was copied"});
        }
        if (!WriteAll(out.get(), buffer.data(), want)) {
            return abandon(Failure(errno));
        }
        copied += got;
        writeBack.Written(copied);
        if (progress && !progress(copied, size)) {
            return abandon({CopyStatus::Cancelled, {}});
        }
    }
    return Publish(out, tempPath, real, size, progress);
}

CopyResult WriteInPlace(const std::string& target,
                        const std::function<CopyResult(const std::string& path)>& write,
                        const CopyProgress& progress) {
    std::string real;
    if (!FollowLinks(target, real)) {
        return Failure(errno);
    }
    // The name is reserved by creating it; the writer makes the file anew under it.
    std::string tempPath;
    if (Fd reserved(CreateTemporary(real, tempPath)); reserved.get() < 0) {
        return Failure(errno);
    }
    ::unlink(tempPath.c_str());
    const CopyResult written = write(tempPath);
    Fd out(written.status == CopyStatus::Copied
               ? OpenRetrying(tempPath.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW)
               : -1);
    struct stat info {};
    if (out.get() < 0 || ::fstat(out.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = errno;
        ::unlink(tempPath.c_str());
        return written.status == CopyStatus::Copied ? Failure(error) : written;
    }
    return Publish(out, tempPath, real, static_cast<std::int64_t>(info.st_size), progress);
}

}  // namespace platform
