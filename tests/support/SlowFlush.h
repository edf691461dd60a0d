#pragma once

// A slow disk for the copy's final flush. A test program that includes this header (in
// one file only) replaces fsync(2) for all of its code: while slowFlushMs is above zero,
// every flush takes that long before the real one runs. The program's own code is linked
// into the test program, so its calls land here, on whichever thread makes them.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace testsupport {

inline std::atomic<int> slowFlushMs{0};
inline std::atomic<int> flushesStarted{0};

}  // namespace testsupport

extern "C" int fsync(int fd) {
    testsupport::flushesStarted.fetch_add(1);
    const int delay = testsupport::slowFlushMs.load();
    if (delay > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}
