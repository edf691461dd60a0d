#include "platform/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

namespace platform {

namespace {

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // Async-signal-safe; a full pipe already carries the request.
    (void)!::write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

int WatchTerminationSignals() {
    if (signalPipe[0] >= 0) {
        return signalPipe[0];
    }
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // The terminal the program was started from has closed.
    ::sigaction(SIGHUP, &action, nullptr);
    return signalPipe[0];
}

void DrainTerminationSignals(int fd) {
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace platform
