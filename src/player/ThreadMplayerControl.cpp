#include "player/ThreadMplayerControl.h"

#include <cstring>

#include "log/Log.h"

ThreadMplayerControl::ThreadMplayerControl(platform::PipeEnd pipe) : hPipe(pipe) {
    Start();
}

ThreadMplayerControl::~ThreadMplayerControl() {
    platform::ClosePipe(hPipe);
}

bool ThreadMplayerControl::ExtractLine(std::string& line, std::string& pending,
                                       char& lastTerminator) {
    const std::size_t cr = pending.find('\r');
    const std::size_t lf = pending.find('\n');
    if (cr == std::string::npos && lf == std::string::npos) {
        return false;
    }
    if (lf != std::string::npos) {
        if (lf == 0 && lastTerminator == '\r') {
            // The second half of a CR LF pair that arrived in two reads.
            pending.erase(0, 1);
            line.clear();
            lastTerminator = '\n';
            return true;
        }
        if (cr != std::string::npos && cr + 1 == lf) {
            line.assign(pending, 0, cr);
            pending.erase(0, lf + 1);
            lastTerminator = '\n';
            return true;
        }
        if (cr == std::string::npos || cr > lf) {
            line.assign(pending, 0, lf);
            pending.erase(0, lf + 1);
            lastTerminator = '\n';
            return true;
        }
    }
    // A lone CR comes first: the player rewrote its status line in place.
    line.assign(pending, 0, cr);
    pending.erase(0, cr + 1);
    lastTerminator = '\r';
    return true;
}

void ThreadMplayerControl::Execute() {
    char lastTerminator = 0;
    for (;;) {
        const long count = platform::ReadPipe(hPipe, buffer, kBufferSize - 1);
        if (count <= 0) {
            // The pipe is drained and every writer has gone (or the read failed). Stopping
            // only here, never right after a read that brought data, means that the last
            // words of a player that has ended (often the reason it ended) still reach the
            // log.
            if (Terminated()) {
                return;
            }
            platform::SleepMilliseconds(1);
            continue;
        }
        buffer[count] = '\0';
        // A zero byte in the output ends this chunk's text.
        pending.append(buffer, std::strlen(buffer));
        while (ExtractLine(line, pending, lastTerminator)) {
            if (!line.empty()) {
                CLog::Instance()->Log("%s", line.c_str());
            }
        }
    }
}
