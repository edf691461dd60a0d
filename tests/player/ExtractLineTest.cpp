#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/OutputLines.h"

namespace {

// Feeds the reads one after another as the reader does and returns the lines it would
// log and what is left over.
struct Cut {
    std::vector<std::string> logged;
    std::string left;
};

Cut CutReads(const std::vector<std::string>& reads, std::size_t maxLength = 1000) {
    Cut cut;
    OutputLines lines(maxLength);
    for (const std::string& read : reads) {
        lines.Feed(read, [&](const std::string& line) { cut.logged.push_back(line); });
    }
    cut.left = lines.Unfinished();
    return cut;
}

struct Case {
    const char* name;
    std::vector<std::string> reads;
    std::vector<std::string> logged;
    std::string left;
};

TEST(ExtractLine, CutsLinesAcrossReads) {
    using namespace std::string_literals;
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
        {"nul inside a line", {"a\0b\n"s}, {"ab"}, ""},
        {"nul before the break and the next line", {"a\0\nb\n"s}, {"a", "b"}, ""},
        {"text after a nul in the same read", {"a\0b\0c"s, "d\n"}, {"abcd"}, ""},
        {"nul between cr and lf", {"a\r\0\nb\n"s}, {"a", "b"}, ""},
        {"nul at the start of the next read after cr", {"a\r", "\0\nb\n"s}, {"a", "b"}, ""},
        {"only nuls", {"\0\0"s, "\0\n"s}, {}, ""},
        {"nul then text after cr starts a line", {"a\r\0b\n"s}, {"a", "b"}, ""},
    };
    for (const Case& c : cases) {
        const Cut cut = CutReads(c.reads);
        EXPECT_EQ(cut.logged, c.logged) << c.name;
        EXPECT_EQ(cut.left, c.left) << c.name;
    }
}

TEST(ExtractLine, LongLinesKeepTheirStartOnly) {
    const Case cases[] = {
        {"exactly the limit", {"12345\n"}, {"12345"}, ""},
        {"one over", {"123456\n"}, {"12345"}, ""},
        {"over across reads", {"123", "456", "789\nab\n"}, {"12345", "ab"}, ""},
        {"unfinished keeps the limit", {"1234567890"}, {}, "12345"},
        {"cr lf after a cut line", {"1234567\r", "\nx\r"}, {"12345", "x"}, ""},
    };
    for (const Case& c : cases) {
        const Cut cut = CutReads(c.reads, 5);
        EXPECT_EQ(cut.logged, c.logged) << c.name;
        EXPECT_EQ(cut.left, c.left) << c.name;
    }
}

TEST(ExtractLine, LastTerminatorAndLineAfterEachCut) {
    OutputLines lines(1000);
    std::vector<std::string> got;
    const auto sink = [&](const std::string& line) { got.push_back(line); };
    lines.Feed("a\r", sink);
    EXPECT_EQ(got, std::vector<std::string>{"a"});
    EXPECT_EQ(lines.Unfinished(), "");

    // The LF that completes the pair ends nothing; the text after it starts the next line.
    lines.Feed("\nb", sink);
    EXPECT_EQ(got, std::vector<std::string>{"a"});
    EXPECT_EQ(lines.Unfinished(), "b");

    // A leading LF after an LF-ended line ends an empty line, which is not handed out.
    lines.Feed("\n", sink);
    lines.Feed("\n", sink);
    EXPECT_EQ(got, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(lines.Unfinished(), "");
}

// 200 MB without a break, read by read as the reader gets it: the unfinished line never
// holds more than the limit (the old cutter kept it all and searched it on every read).
TEST(ExtractLine, EndlessLineStaysWithinItsLimit) {
    OutputLines lines(998);
    const std::string read(32768, 'x');
    int logged = 0;
    for (int i = 0; i < 6400; ++i) {
        lines.Feed(read, [&](const std::string&) { ++logged; });
        ASSERT_EQ(lines.Unfinished().size(), 998u);
    }
    EXPECT_LE(lines.Unfinished().capacity(), 2 * 998u);
    lines.Feed("\n", [&](const std::string& line) {
        ++logged;
        EXPECT_EQ(line, std::string(998, 'x'));
    });
    EXPECT_EQ(logged, 1);
    EXPECT_EQ(lines.Unfinished(), "");
}

}  // namespace
