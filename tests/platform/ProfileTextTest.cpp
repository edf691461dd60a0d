#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "platform/ProfileText.h"

using platform::FindProfileValue;
using platform::SetProfileValue;

namespace {

using namespace std::string_literals;

struct LookupCase {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    bool found;
    std::string value;
};

bool SameAscii(std::string a, std::string b) {
    for (std::string* s : {&a, &b}) {
        for (char& c : *s) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return a == b;
}

std::string Repeat(char c, std::size_t n) {
    return std::string(n, c);
}

const std::vector<LookupCase>& LookupCases() {
    static const std::vector<LookupCase> cases = {
        {"lf", "[S]\nk=1\n", "S", "k", true, "1"},
        {"crlf", "[S]\r\nk=1\r\nj=2\r\n", "S", "j", true, "2"},
        {"cr only", "[S]\rk=1\rj=2\r", "S", "j", true, "2"},
        {"mixed breaks", "[S]\r\na=1\rb=2\nc=3", "S", "c", true, "3"},
        {"no final break", "[S]\nk=abc", "S", "k", true, "abc"},
        {"names trimmed", " [  S  ] \n\t k \t=\t v w \t\n", "S", "k", true, "v w"},
        {"section case", "[FRMMAIN]\nk=1\n", "frmMain", "k", true, "1"},
        {"key case", "[S]\nappwidth=400\n", "S", "AppWidth", true, "400"},
        {"lookup names trimmed", "[S]\nk=1\n", " S ", " k ", true, "1"},
        {"double quotes", "[S]\nk=\" a b \"\n", "S", "k", true, " a b "},
        {"single quotes", "[S]\nk='x'\n", "S", "k", true, "x"},
        {"one pair only", "[S]\nk=\"'x'\"\n", "S", "k", true, "'x'"},
        {"mismatched quotes kept", "[S]\nk=\"x'\n", "S", "k", true, "\"x'"},
        {"lone quote kept", "[S]\nk=\"\n", "S", "k", true, "\""},
        {"empty quotes", "[S]\nk=\"\"\n", "S", "k", true, ""},
        {"inner quote kept", "[S]\nk=a\"b\"\n", "S", "k", true, "a\"b\""},
        {"empty value", "[S]\nk=\n", "S", "k", true, ""},
        {"no equals is an empty key", "[S]\nk\n", "S", "k", true, ""},
        {"equals in value", "[S]\nk=a=b\n", "S", "k", true, "a=b"},
        {"semicolon in value", "[S]\nk=1 ; note\n", "S", "k", true, "1 ; note"},
        {"comment", "[S]\n;k=1\n", "S", "k", false, ""},
        {"indented comment", "[S]\n  ;k=1\nk=2\n", "S", "k", true, "2"},
        {"first key wins", "[S]\nk=1\nK=2\n", "S", "k", true, "1"},
        {"first section wins", "[S]\nk=1\n[T]\n[s]\nk=2\n", "S", "k", true, "1"},
        {"later section ignored", "[S]\n[T]\nk=1\n[S]\nk=2\n", "S", "k", false, ""},
        {"key before any section", "k=1\n[S]\n", "S", "k", false, ""},
        {"key of another section", "[T]\nk=1\n[S]\nj=1\n", "S", "k", false, ""},
        {"unclosed header is no section", "[S\nk=1\n", "S", "k", false, ""},
        {"junk after header", "[S] junk\nk=1\n", "S", "k", true, "1"},
        {"last bracket closes", "[a]b]\nk=1\n", "a]b", "k", true, "1"},
        {"empty header", "[]\nk=1\n", "S", "k", false, ""},
        {"empty key name", "[S]\n=1\nk=2\n", "S", "k", true, "2"},
        {"bom", "\xEF\xBB\xBF[S]\nk=1\n", "S", "k", true, "1"},
        {"ctrl-z trimmed", "[S]\nk=1\x1a\n", "S", "k", true, "1"},
        {"nul cuts the value", "[S]\nk=ab\0cd\n"s, "S", "k", true, "ab"},
        {"nul in other line", "[S]\n\0\0\nk=1\n"s, "S", "k", true, "1"},
        {"2047 kept", "[S]\nk=" + Repeat('x', 2047) + "\n", "S", "k", true, Repeat('x', 2047)},
        {"2048 cut", "[S]\nk=" + Repeat('x', 5000) + "\n", "S", "k", true, Repeat('x', 2047)},
        {"cut after unquoting", "[S]\nk=\"" + Repeat('x', 2048) + "\"\n", "S", "k", true,
         Repeat('x', 2047)},
        {"empty text", "", "S", "k", false, ""},
        {"empty section name asked", "[S]\nk=1\n", "", "k", false, ""},
        {"empty key asked", "[S]\nk=1\n", "S", "", false, ""},
        {"only breaks", "\n\r\n\r", "S", "k", false, ""},
    };
    return cases;
}

TEST(ProfileTextLookup, Table) {
    for (const LookupCase& c : LookupCases()) {
        std::string value = "untouched";
        EXPECT_EQ(FindProfileValue(c.text, c.section, c.key, &value), c.found) << c.name;
        if (c.found) {
            EXPECT_EQ(value, c.value) << c.name;
        } else {
            EXPECT_EQ(value, "untouched") << c.name;
        }
    }
}

struct UpdateCase {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    std::string value;
    std::string after;
};

TEST(ProfileTextUpdate, Table) {
    const std::vector<UpdateCase> cases = {
        {"creates", "", "S", "k", "v", "[S]\nk=v\n"},
        {"replaces in place", "[S]\nk=1\nj=2\n", "S", "k", "9", "[S]\nk=9\nj=2\n"},
        {"keeps crlf and comments", "; c\r\n[S]\r\nk=1\r\n\r\n[T]\r\nx=1\r\n", "S", "k", "2",
         "; c\r\n[S]\r\nk=2\r\n\r\n[T]\r\nx=1\r\n"},
        {"keeps spacing and case", "[s]\n  APPWIDTH = 1  \n", "S", "AppWidth", "2",
         "[s]\n  APPWIDTH = 2\n"},
        {"empty old value", "[S]\nk=   \n", "S", "k", "2", "[S]\nk=2\n"},
        {"key without equals", "[S]\n k \n", "S", "k", "2", "[S]\n k=2\n"},
        {"appends after last key", "[S]\na=1\n\n[T]\nb=1\n", "S", "k", "v",
         "[S]\na=1\nk=v\n\n[T]\nb=1\n"},
        {"comment stays with next section", "[S]\na=1\n; about T\n[T]\n", "S", "k", "v",
         "[S]\na=1\nk=v\n; about T\n[T]\n"},
        {"empty section", "[S]\n[T]\n", "S", "k", "v", "[S]\nk=v\n[T]\n"},
        {"header without break", "[S]", "S", "k", "v", "[S]\nk=v\n"},
        {"last key without break", "[S]\na=1", "S", "k", "v", "[S]\na=1\nk=v\n"},
        {"new section after blank line", "[T]\nx=1\n", "S", "k", "v", "[T]\nx=1\n\n[S]\nk=v\n"},
        {"no doubled blank line", "[T]\nx=1\n\n", "S", "k", "v", "[T]\nx=1\n\n[S]\nk=v\n"},
        {"new section, no final break", "[T]\nx=1", "S", "k", "v", "[T]\nx=1\n\n[S]\nk=v\n"},
        {"new section in crlf file", "[T]\r\nx=1\r\n", "S", "k", "v",
         "[T]\r\nx=1\r\n\r\n[S]\r\nk=v\r\n"},
        {"new key in cr file", "[S]\ra=1\r", "S", "k", "v", "[S]\ra=1\rk=v\r"},
        {"first section wins", "[S]\nk=1\n[S]\nk=2\n", "S", "k", "9", "[S]\nk=9\n[S]\nk=2\n"},
        {"first section gets new key", "[S]\n[T]\n[S]\nk=1\n", "S", "k", "9",
         "[S]\nk=9\n[T]\n[S]\nk=1\n"},
        {"first key wins", "[S]\nk=1\nk=2\n", "S", "k", "9", "[S]\nk=9\nk=2\n"},
        {"comment is not the key", "[S]\n;k=1\n", "S", "k", "9", "[S]\nk=9\n;k=1\n"},
        {"names trimmed", "", " S ", " k ", "v", "[S]\nk=v\n"},
        {"blank at the end quoted", "[S]\nk=1\n", "S", "k", "cache ", "[S]\nk=\"cache \"\n"},
        {"blank at the start quoted", "", "S", "k", "\tx", "[S]\nk=\"\tx\"\n"},
        {"quoted value quoted again", "", "S", "k", "'x'", "[S]\nk=\"'x'\"\n"},
        {"inner blanks and one quote as they are", "", "S", "k", "a b\"", "[S]\nk=a b\"\n"},
        {"nul bytes elsewhere kept", "\0\n[S]\nk=1\n\0"s, "S", "k", "2", "\0\n[S]\nk=2\n\0"s},
        {"bom kept", "\xEF\xBB\xBF[S]\nk=1\n", "S", "k", "2", "\xEF\xBB\xBF[S]\nk=2\n"},
    };
    for (const UpdateCase& c : cases) {
        std::string text = c.before;
        EXPECT_TRUE(SetProfileValue(text, c.section, c.key, c.value)) << c.name;
        EXPECT_EQ(text, c.after) << c.name;
    }
}

TEST(ProfileTextUpdate, RefusesNamesThatWouldBreakTheFile) {
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"", "k"},     {"  ", "k"},   {"S", ""},     {"S", " \t"}, {"a\nb", "k"},
        {"S", "a\rb"}, {"S", "a=b"},  {"S", ";k"},   {"S", "[k"},  {"a]b", "k"},
        {"a[b", "k"},  {"S", "k\0"s}, {"S\0"s, "k"},
    };
    for (const auto& [section, key] : bad) {
        std::string text = "[S]\nk=1\n";
        EXPECT_FALSE(SetProfileValue(text, section, key, "v")) << section << "/" << key;
        EXPECT_EQ(text, "[S]\nk=1\n");
    }
}

// A value no line can hold is refused, and the text keeps the old value.
TEST(ProfileTextUpdate, RefusesValuesWithALineBreakOrNul) {
    for (const std::string& value : {"a\n[X]\nb=c"s, "a\rb"s, "a\0b"s, "\n"s, "end\r\n"s}) {
        std::string text = "[S]\nk=1\n";
        EXPECT_FALSE(SetProfileValue(text, "S", "k", value)) << testing::PrintToString(value);
        EXPECT_EQ(text, "[S]\nk=1\n");
    }
}

// Whatever blanks and quotes a value has at its ends, it reads back as it was.
TEST(ProfileTextUpdate, BlanksAndQuotesAtTheEndsReadBack) {
    const std::string ends[] = {"", " ", "\t", "\"", "'", " \"", "\x1a"};
    for (const std::string& front : ends) {
        for (const std::string& back : ends) {
            for (const std::string& middle : {""s, "x"s, "a b"s, "\""s}) {
                const std::string value = front + middle + back;
                std::string text = "[S]\nk=1\nj=2\n";
                ASSERT_TRUE(SetProfileValue(text, "S", "k", value));
                std::string read;
                ASSERT_TRUE(FindProfileValue(text, "S", "k", &read));
                EXPECT_EQ(read, value) << testing::PrintToString(text);
                ASSERT_TRUE(FindProfileValue(text, "S", "j", &read));
                EXPECT_EQ(read, "2");
            }
        }
    }
}

// Whatever the text holds, a value that was set reads back, and no other value moves.
TEST(ProfileTextUpdate, RandomTextsKeepEveryOtherValue) {
    const std::string alphabet = "[]=;\"' \t\r\n\0\x1a\xEF\xBB\xBFSTskj01"s;
    const char* sections[] = {"S", "T", "s"};
    const char* keys[] = {"k", "j", "K"};
    std::mt19937 random(20110821);
    for (int round = 0; round < 3000; ++round) {
        std::string text(random() % 120, ' ');
        for (char& c : text) {
            c = alphabet[random() % alphabet.size()];
        }
        const char* section = sections[random() % 3];
        const char* key = keys[random() % 3];
        std::string updated = text;
        ASSERT_TRUE(SetProfileValue(updated, section, key, "value"));
        std::string value;
        ASSERT_TRUE(FindProfileValue(updated, section, key, &value))
            << testing::PrintToString(text);
        EXPECT_EQ(value, "value");
        for (const char* otherSection : sections) {
            for (const char* otherKey : keys) {
                if (SameAscii(otherSection, section) && SameAscii(otherKey, key)) {
                    continue;
                }
                std::string before = "-", after = "-";
                FindProfileValue(text, otherSection, otherKey, &before);
                FindProfileValue(updated, otherSection, otherKey, &after);
                EXPECT_EQ(before, after)
                    << testing::PrintToString(text) << " set " << section << "/" << key << " read "
                    << otherSection << "/" << otherKey;
            }
        }
    }
}

TEST(ProfileTextLookup, RandomBytesNeverBreakTheReader) {
    std::mt19937 random(42);
    for (int round = 0; round < 500; ++round) {
        std::string text(random() % 4096, '\0');
        for (char& c : text) {
            c = static_cast<char>(random());
        }
        text += "\n[S]\nk=found\n";
        std::string value;
        // The appended section can only be shadowed by an earlier [S] in the noise.
        if (FindProfileValue(text, "S", "k", &value)) {
            EXPECT_LE(value.size(), platform::kProfileMaxValueLength);
        }
        std::string updated = text;
        ASSERT_TRUE(SetProfileValue(updated, "Fresh", "k", "v"));
        EXPECT_EQ(updated.compare(0, text.size(), text), 0);
        ASSERT_TRUE(FindProfileValue(updated, "Fresh", "k", &value));
        EXPECT_EQ(value, "v");
    }
}

TEST(ProfileTextLookup, LongSingleLine) {
    const std::string text = "[S]\nk=" + Repeat('x', 10 * 1024 * 1024) + "\nj=2\n";
    std::string value;
    ASSERT_TRUE(FindProfileValue(text, "S", "k", &value));
    EXPECT_EQ(value.size(), platform::kProfileMaxValueLength);
    ASSERT_TRUE(FindProfileValue(text, "S", "j", &value));
    EXPECT_EQ(value, "2");
}

}  // namespace
