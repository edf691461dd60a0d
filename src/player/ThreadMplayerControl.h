#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Process.h"
#include "platform/Thread.h"
#include "player/OutputLines.h"
#include "player/PlayerReport.h"

// Reads everything the player prints (standard output and standard error share one pipe),
// cuts it into lines (OutputLines) and logs every non-empty line verbatim, as much of it
// as a log line holds. It owns the read end of the
// pipe and closes it itself when it finishes, so no other thread ever closes a descriptor
// this one may be reading. Once asked to stop it still reads until the pipe runs dry, so
// the last lines of a player that has ended are not lost. Every line also goes to the
// playback's report; what the report finds news (no picture, the picture's size) is handed
// to the user interface thread through `onNews` at once.
class ThreadMplayerControl final : public platform::Thread {
  public:
    ThreadMplayerControl(platform::PipeEnd pipe, std::shared_ptr<PlayerReport> report,
                         std::function<void(const PlayerReport::News&)> onNews);

    static constexpr std::size_t kBufferSize = 32768;

  private:
    ~ThreadMplayerControl() override;
    void Execute() override;

    platform::PipeEnd hPipe;
    std::shared_ptr<PlayerReport> report;
    std::function<void(const PlayerReport::News&)> onNews;
    char buffer[kBufferSize];
    OutputLines lines;
};
