#pragma once

#include <string>

#include "platform/Process.h"
#include "platform/Thread.h"

// Reads everything the player prints (standard output and standard error share one pipe),
// cuts it into lines and logs every non-empty line verbatim. It owns the read end of the
// pipe and closes it itself when it finishes, so no other thread ever closes a descriptor
// this one may be reading. Once asked to stop it still reads until the pipe runs dry, so
// the last lines of a player that has ended are not lost.
class ThreadMplayerControl final : public platform::Thread {
  public:
    explicit ThreadMplayerControl(platform::PipeEnd pipe);

    static constexpr std::size_t kBufferSize = 32768;

    // Takes one line off the front of `pending` into `line`; false when `pending` holds no
    // complete line. CR LF, a lone LF and a lone CR each end a line; an LF that completes a
    // CR LF pair split between two reads gives an empty line. `lastTerminator` carries the
    // character that ended the previous line (0 before the first).
    static bool ExtractLine(std::string& line, std::string& pending, char& lastTerminator);

  private:
    ~ThreadMplayerControl() override;
    void Execute() override;

    platform::PipeEnd hPipe;
    char buffer[kBufferSize];
    std::string pending;
    std::string line;
};
