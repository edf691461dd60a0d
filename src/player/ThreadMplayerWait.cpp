#include "player/ThreadMplayerWait.h"

#include <utility>

#include "platform/Synchronize.h"

ThreadMplayerWait::ThreadMplayerWait(platform::ProcessHandle process,
                                     std::function<void()> exitCallback,
                                     std::shared_ptr<PlayerReport> playbackReport)
    : hProcess(std::move(process)),
      onExit(std::move(exitCallback)),
      report(std::move(playbackReport)) {
    Start();
}

void ThreadMplayerWait::Execute() {
    hProcess->Wait();
    if (report) {
        (void)report->WaitFinished(kReaderBound);
    }
    platform::Synchronize([this] {
        if (callbackEnabled && onExit) {
            onExit();
        }
    });
}
