#include "player/OutputLines.h"

#include <algorithm>

OutputLines::OutputLines(std::size_t limit) : maxLength(limit) {
    line.reserve(limit);
}

void OutputLines::Feed(std::string_view chunk, const LineSink& onLine) {
    const std::size_t size = chunk.size();
    for (std::size_t i = 0; i < size;) {
        const char c = chunk[i];
        if (c == '\0') {
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            if (!(c == '\n' && afterCr)) {
                if (!line.empty()) {
                    onLine(line);
                }
                line.clear();
            }
            afterCr = c == '\r';
            ++i;
            continue;
        }
        // A run of ordinary bytes: keep what fits, pass over the rest.
        std::size_t end = i + 1;
        while (end < size && chunk[end] != '\0' && chunk[end] != '\r' && chunk[end] != '\n') {
            ++end;
        }
        const std::size_t room = maxLength - line.size();
        line.append(chunk.data() + i, std::min(room, end - i));
        afterCr = false;
        i = end;
    }
}
