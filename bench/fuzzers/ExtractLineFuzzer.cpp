// The player output reader's line cutting against a plain model. The input is the
// player's output; each NUL byte in it marks the end of one read (the reader drops what
// follows a NUL in a read, so real text never holds one). The reader must log the same
// non-empty lines, in the same order, as cutting the whole text at CR LF, lone LF and lone
// CR, however the text is split between reads, and keep exactly the unfinished last line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "player/ThreadMplayerControl.h"

namespace {

using fuzz::Check;

struct Cut {
    std::vector<std::string> lines;  // the non-empty finished lines
    std::string unfinished;
};

Cut ModelCut(std::string_view text) {
    Cut cut;
    std::string current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            current += c;
            continue;
        }
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        }
        if (!current.empty()) {
            cut.lines.push_back(current);
        }
        current.clear();
    }
    cut.unfinished = current;
    return cut;
}

// The reader's loop over its reads, minus the pipe and the logger.
Cut ReaderCut(std::string_view input, std::string& whole) {
    Cut cut;
    std::string line;
    char lastTerminator = 0;
    while (true) {
        const std::size_t nul = input.find('\0');
        const std::string_view read = input.substr(0, nul);
        whole.append(read);
        cut.unfinished.append(read);
        while (ThreadMplayerControl::ExtractLine(line, cut.unfinished, lastTerminator)) {
            Check(line.find_first_of("\r\n") == std::string::npos, "a line holds no line break",
                  {{"line", line}});
            if (!line.empty()) {
                cut.lines.push_back(line);
            }
        }
        if (nul == std::string_view::npos) {
            break;
        }
        input.remove_prefix(nul + 1);
    }
    return cut;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) {
        out.append(l).append("|");
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string whole;
    const Cut got = ReaderCut(input, whole);
    const Cut expected = ModelCut(whole);
    const std::string gotLines = Joined(got.lines);
    const std::string expectedLines = Joined(expected.lines);
    Check(got.lines == expected.lines, "the reader logs the lines of the model",
          {{"input", input}, {"logged", gotLines}, {"model", expectedLines}});
    Check(got.unfinished == expected.unfinished, "the reader keeps the unfinished line",
          {{"input", input}, {"kept", got.unfinished}, {"model", expected.unfinished}});
    return 0;
}
