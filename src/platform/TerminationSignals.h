#pragma once

namespace platform {

// Turns SIGTERM, SIGINT and SIGHUP into a byte on a pipe, so that the UI thread can close the
// program normally from its event loop instead of dying inside a signal handler.
// Returns the pipe's read end (non-blocking, close-on-exec), or -1 when it cannot be set up.
int WatchTerminationSignals();

// Empties the pipe after it became readable.
void DrainTerminationSignals(int fd);

}  // namespace platform
