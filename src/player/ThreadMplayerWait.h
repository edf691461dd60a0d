#pragma once

#include <functional>

#include "platform/Process.h"
#include "platform/Thread.h"

// Waits for one player process to end, then runs the exit callback on the user interface
// thread. It takes no part in stopping: it waits for the process whatever happens.
class ThreadMplayerWait final : public platform::Thread {
  public:
    ThreadMplayerWait(platform::ProcessHandle process, std::function<void()> exitCallback);

  private:
    ~ThreadMplayerWait() override = default;
    void Execute() override;

    platform::ProcessHandle hProcess;
    std::function<void()> onExit;

  public:
    // Written and read only on the user interface thread (the test runs inside the
    // hand-off), so it needs no lock. False: the process's end is not reported.
    bool callbackEnabled = true;
};
