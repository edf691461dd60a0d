// The player output reader's line cutting (OutputLines) against a plain model. The input
// is the player's output; each kFieldSeparator byte in it marks the end of one read, and
// the line length limit follows from the input's size (1 to 64 bytes, so that the limit
// is met often). The reader must hand out the same non-empty lines, in the same order, as
// cutting the whole text, its NUL bytes dropped, at CR LF, lone LF and lone CR and keeping
// the first `limit` bytes of each line, however the text is split between reads; and keep
// exactly that much of the unfinished last line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "player/OutputLines.h"

namespace {

using fuzz::Check;

struct Cut {
    std::vector<std::string> lines;  // the non-empty finished lines
    std::string unfinished;
};

Cut ModelCut(std::string_view text, std::size_t limit) {
    std::string clean;
    for (const char c : text) {
        if (c != '\0') {
            clean += c;
        }
    }
    Cut cut;
    std::string current;
    for (std::size_t i = 0; i < clean.size(); ++i) {
        const char c = clean[i];
        if (c != '\r' && c != '\n') {
            current += c;
            continue;
        }
        if (c == '\r' && i + 1 < clean.size() && clean[i + 1] == '\n') {
            ++i;
        }
        if (!current.empty()) {
            cut.lines.push_back(current.substr(0, limit));
        }
        current.clear();
    }
    cut.unfinished = current.substr(0, limit);
    return cut;
}

// The reader's loop over its reads, minus the pipe and the logger.
Cut ReaderCut(std::string_view input, std::size_t limit, std::string& whole) {
    Cut cut;
    OutputLines lines(limit);
    while (true) {
        const std::size_t end = input.find(fuzz::kFieldSeparator);
        const std::string_view read = input.substr(0, end);
        whole.append(read);
        lines.Feed(read, [&](const std::string& line) {
            Check(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
                  "a line holds no line break and no NUL", {{"line", line}});
            Check(!line.empty() && line.size() <= limit, "a line is not empty and within the limit",
                  {{"line", line}});
            cut.lines.push_back(line);
        });
        Check(lines.Unfinished().size() <= limit, "the unfinished line stays within the limit",
              {{"kept", lines.Unfinished()}});
        if (end == std::string_view::npos) {
            break;
        }
        input.remove_prefix(end + 1);
    }
    cut.unfinished = lines.Unfinished();
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
    const std::size_t limit = 1 + size % 64;
    std::string whole;
    const Cut got = ReaderCut(input, limit, whole);
    const Cut expected = ModelCut(whole, limit);
    const std::string gotLines = Joined(got.lines);
    const std::string expectedLines = Joined(expected.lines);
    Check(got.lines == expected.lines, "the reader hands out the lines of the model",
          {{"input", input}, {"logged", gotLines}, {"model", expectedLines}});
    Check(got.unfinished == expected.unfinished, "the reader keeps the unfinished line",
          {{"input", input}, {"kept", got.unfinished}, {"model", expected.unfinished}});
    return 0;
}
