#pragma once

#include <functional>
#include <memory>

#include "platform/Process.h"
#include "platform/Thread.h"
#include "player/PlayerReport.h"

// Waits for one player process to end, then runs the exit callback on the user interface
// thread. It takes no part in stopping: it waits for the process whatever happens. Before
// it reports the end it gives the reader a moment to read the player's last words into
// the playback's report (they often say why it ended).
class ThreadMplayerWait final : public platform::Thread {
  public:
    ThreadMplayerWait(platform::ProcessHandle process, std::function<void()> exitCallback,
                      std::shared_ptr<PlayerReport> report = nullptr);

    // How long the end waits for the reader at most (a helper the player left behind can
    // keep the output open).
    static constexpr std::chrono::milliseconds kReaderBound{250};

  private:
    ~ThreadMplayerWait() override = default;
    void Execute() override;

    platform::ProcessHandle hProcess;
    std::function<void()> onExit;
    std::shared_ptr<PlayerReport> report;

  public:
    // Written and read only on the user interface thread (the test runs inside the
    // hand-off), so it needs no lock. False: the process's end is not reported.
    bool callbackEnabled = true;
};
