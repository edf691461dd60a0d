#pragma once

#include <functional>

namespace platform {

// The hand-off from a worker thread to the user interface thread. A worker calls
// Synchronize(); the call is queued, the wake hook is told, and the worker blocks until
// the user interface thread has run the call through RunSynchronized().
//
// The application installs a wake hook that makes its event loop call RunSynchronized()
// soon; with Qt:
//   platform::SetSynchronizeHook([] {
//       QMetaObject::invokeMethod(qApp, [] { platform::RunSynchronized(); },
//                                 Qt::QueuedConnection);
//   });
// The hook may be called from any thread and must not block. Because the calls wait in
// our own queue rather than in the event loop, shutdown code can still run them after the
// event loop has ended (WaitForThreads does). Tests install their own and pump with
// RunSynchronized() from their main thread.
using WakeHook = std::function<void()>;
void SetSynchronizeHook(WakeHook wake);

// From a worker thread only: runs `call` on the user interface thread and returns once
// it has run.
void Synchronize(const std::function<void()>& call);

// On the user interface thread: runs every call that is waiting, in the order they came.
// Returns how many ran.
int RunSynchronized();

}  // namespace platform
