#include "player/ThreadMplayerWait.h"

#include <utility>

#include "platform/Synchronize.h"

ThreadMplayerWait::ThreadMplayerWait(platform::ProcessHandle process,
                                     std::function<void()> exitCallback)
    : hProcess(std::move(process)), onExit(std::move(exitCallback)) {
    Start();
}

void ThreadMplayerWait::Execute() {
    hProcess->Wait();
    platform::Synchronize([this] {
        if (callbackEnabled && onExit) {
            onExit();
        }
    });
}
