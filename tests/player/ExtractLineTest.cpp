#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/ThreadMplayerControl.h"

namespace {

// Feeds the reads one after another as the reader does and returns the lines it would
// log (the non-empty ones) and what is left over.
struct Cut {
    std::vector<std::string> logged;
    std::string left;
};

Cut CutReads(const std::vector<std::string>& reads) {
    Cut cut;
    std::string line;
    char last = 0;
    for (const std::string& read : reads) {
        cut.left += read;
        while (ThreadMplayerControl::ExtractLine(line, cut.left, last)) {
            if (!line.empty()) {
                cut.logged.push_back(line);
            }
        }
    }
    return cut;
}

struct Case {
    const char* name;
    std::vector<std::string> reads;
    std::vector<std::string> logged;
    std::string left;
};

TEST(ExtractLine, CutsLinesAcrossReads) {
    const Case cases[] = {
        {"crlf and lf in one read", {"abc\r\ndef\n"}, {"abc", "def"}, ""},
        {"crlf split between reads", {"abc\r", "\ndef\n"}, {"abc", "def"}, ""},
        {"lone cr then lf", {"a\rb\n"}, {"a", "b"}, ""},
        {"two lf give one empty line", {"\n\n"}, {}, ""},
        {"line completed by a later read", {"hal", "f li", "ne\n"}, {"half line"}, ""},
        {"no terminator yet", {"partial"}, {}, "partial"},
        {"percent signs stay", {"%s %d %n 15%\n"}, {"%s %d %n 15%"}, ""},
        {"status rewrites", {"A: 1\rA: 2\rA: 3\r"}, {"A: 1", "A: 2", "A: 3"}, ""},
        {"cr cr lf", {"x\r\r\ny\n"}, {"x", "y"}, ""},
        {"lf after lf-ended line is an empty line", {"a\n", "\nb\n"}, {"a", "b"}, ""},
        {"lf cr", {"a\n\rb\r"}, {"a", "b"}, ""},
        {"leading lf at the very start", {"\nx\n"}, {"x"}, ""},
        {"crlf split, then another split", {"a\r", "\nb\r", "\n"}, {"a", "b"}, ""},
        {"cr then text then lf", {"one\rtwo\nthree"}, {"one", "two"}, "three"},
    };
    for (const Case& c : cases) {
        const Cut cut = CutReads(c.reads);
        EXPECT_EQ(cut.logged, c.logged) << c.name;
        EXPECT_EQ(cut.left, c.left) << c.name;
    }
}

TEST(ExtractLine, LastTerminatorAndLineAfterEachCut) {
    std::string pending = "a\r";
    std::string line = "stale";
    char last = 0;
    EXPECT_TRUE(ThreadMplayerControl::ExtractLine(line, pending, last));
    EXPECT_EQ(line, "a");
    EXPECT_EQ(last, '\r');
    EXPECT_FALSE(ThreadMplayerControl::ExtractLine(line, pending, last));
    EXPECT_EQ(line, "a") << "nothing changes without a complete line";

    pending = "\nb";
    EXPECT_TRUE(ThreadMplayerControl::ExtractLine(line, pending, last));
    EXPECT_EQ(line, "");
    EXPECT_EQ(last, '\n');
    EXPECT_EQ(pending, "b");

    // A leading LF after an LF-ended line is an ordinary empty line.
    pending = "\n";
    EXPECT_TRUE(ThreadMplayerControl::ExtractLine(line, pending, last));
    EXPECT_EQ(line, "");
    EXPECT_EQ(last, '\n');
    EXPECT_EQ(pending, "");
}

}  // namespace
