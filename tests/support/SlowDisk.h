#pragma once

// A slow disk (a USB stick) for the copy. A test program that includes this header (in one
// file only) replaces fsync(2) and write(2) for all of its code: while slowFlushMs is above
// zero, every flush takes that long before the real one runs; while slowWriteBytesPerSecond
// is above zero, a write or pwrite to a regular file takes as long as that rate needs for
// its bytes.
// The program's own code is linked into the test program, so its calls land here, on
// whichever thread makes them.
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace testsupport {

inline std::atomic<int> slowFlushMs{0};
inline std::atomic<int> flushesStarted{0};
inline std::atomic<long> slowWriteBytesPerSecond{0};

}  // namespace testsupport

extern "C" int fsync(int fd) {
    testsupport::flushesStarted.fetch_add(1);
    const int delay = testsupport::slowFlushMs.load();
    if (delay > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace testsupport {

// Waits as long as the slow device takes for `size` bytes written to `fd`.
inline void WaitForTheDevice(int fd, size_t size) {
    const long rate = slowWriteBytesPerSecond.load();
    struct stat info {};
    if (rate > 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        std::this_thread::sleep_for(
            std::chrono::microseconds(static_cast<long long>(size) * 1000000 / rate));
    }
}

}  // namespace testsupport

// The next definitions keep a sanitizer's own interception of these calls in the chain.
extern "C" ssize_t write(int fd, const void* data, size_t size) {
    using Write = ssize_t (*)(int, const void*, size_t);
    static const auto next = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
    testsupport::WaitForTheDevice(fd, size);
    return next(fd, data, size);
}

extern "C" ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    using Write = ssize_t (*)(int, const void*, size_t, off_t);
    static const auto next = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "pwrite"));
    testsupport::WaitForTheDevice(fd, size);
    return next(fd, data, size, offset);
}
