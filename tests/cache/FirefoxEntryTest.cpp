#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache/FirefoxEntry.h"
#include "support/CacheWriters.h"

using namespace testsupport;

namespace {

const std::string kUrl = "https://media.site.test/v/clip.webm";

cache::FirefoxEntryFacts Read(const std::string& bytes, bool& ok) {
    cache::FirefoxEntryFacts facts;
    ok = cache::ReadFirefoxEntry(cache::MemorySource(bytes), facts);
    return facts;
}

TEST(FirefoxEntry, ReadsBodyLengthKeyAndResponseHead) {
    // Bodies below, at and beyond a 256 KiB chunk, so the chunk hashes are skipped right.
    for (const std::size_t size : {0u, 1u, 262144u, 262145u, 600000u}) {
        const std::string body = Mp4Body(size);
        bool ok = false;
        const auto facts = Read(FirefoxMediaEntry(kUrl, body, "video/webm"), ok);
        ASSERT_TRUE(ok) << size;
        EXPECT_EQ(facts.url, kUrl);
        EXPECT_EQ(facts.bodySize, size);
        EXPECT_TRUE(facts.hasHead);
        EXPECT_EQ(facts.head.contentType, "video/webm");
        EXPECT_EQ(facts.head.contentLength, size);
        EXPECT_EQ(facts.firstBytes, body.substr(0, 512));
    }
}

TEST(FirefoxEntry, VersionOneHasNoFlagsField) {
    bool ok = false;
    const auto facts =
        Read(FirefoxEntryFile(":" + kUrl, "abc",
                              {{"response-head", FirefoxResponseHead("audio/ogg", 3)}}, 1),
             ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(facts.url, kUrl);
    EXPECT_EQ(facts.head.contentType, "audio/ogg");
}

TEST(FirefoxEntry, KeyTagsAreSkippedDoubledCommasIncluded) {
    const std::vector<std::pair<std::string, std::string>> keys = {
        {":" + kUrl, kUrl},
        {"a,:" + kUrl, kUrl},
        {"O^partitionKey=%28https%2Csite.test%29,a,:" + kUrl, kUrl},
        {"O^partitionKey=(https,,site.test),a,:" + kUrl, kUrl},
        {"a,~1700000000,:http://x.test/a:b", "http://x.test/a:b"},
    };
    for (const auto& [key, url] : keys) {
        std::string found;
        EXPECT_TRUE(cache::FirefoxKeyUrl(key, found)) << key;
        EXPECT_EQ(found, url) << key;
    }
    std::string found;
    EXPECT_FALSE(cache::FirefoxKeyUrl("a,b,", found));
    EXPECT_FALSE(cache::FirefoxKeyUrl("", found));
    EXPECT_FALSE(cache::FirefoxKeyUrl("a,:", found));
}

TEST(FirefoxEntry, AltDataEndsTheBody) {
    const std::string body = std::string(1000, 's') + std::string(200, 'c');
    bool ok = false;
    const auto facts =
        Read(FirefoxEntryFile("a,:" + kUrl, body,
                              {{"alt-data", "1;1000,javascript/moz-script-bytecode"},
                               {"response-head", FirefoxResponseHead("video/mp4", 1000)}}),
             ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(facts.bodySize, 1000u);
}

TEST(FirefoxEntry, PartialContentGivesItsTotal) {
    bool ok = false;
    const auto facts = Read(FirefoxEntryFile("a,:" + kUrl, "0123456789",
                                             {{"response-head",
                                               "HTTP/1.1 206 Partial Content\r\nContent-Type: "
                                               "video/mp4\r\nContent-Range: bytes 0-9/5000\r\n"}}),
                            ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(facts.head.status, 206);
    EXPECT_EQ(facts.head.rangeTotal, 5000u);
}

std::string WithBe32(std::string bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * (3 - i))) & 0xff);
    }
    return bytes;
}

TEST(FirefoxEntry, RefusesMalformedFiles) {
    const std::string body(100, 'b');
    const std::string good = FirefoxMediaEntry(kUrl, body, "video/mp4");
    // The header starts after the body, its hash and one chunk hash.
    const std::size_t header = 100 + 4 + 2;
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"empty", ""},
        {"three_bytes", "abc"},
        {"offset_beyond_file", WithBe32(good, good.size() - 4, 0x7fffffff)},
        {"offset_leaves_no_room",
         WithBe32(good, good.size() - 4, static_cast<std::uint32_t>(good.size() - 4))},
        {"unknown_version", WithBe32(good, header, 77)},
        {"key_size_beyond_file", WithBe32(good, header + 24, 0xfffffff0)},
        {"key_not_ended_by_nul", WithBe32(good, header + 24, 3)},
        {"key_with_nul", FirefoxEntryFile(std::string("a,:https://x.test/\0v", 20), body, {})},
        {"key_not_utf8", FirefoxEntryFile("a,:https://x.test/\xc3\x28", body, {})},
        {"key_without_url", FirefoxEntryFile("a,b,c", body, {})},
        {"element_runs_off_the_end",
         [&] {
             std::string s = FirefoxEntryFile("a,:" + kUrl, body, {{"response-head", "x"}});
             s.erase(s.size() - 5, 1);  // the value's NUL
             return WithBe32(s, s.size() - 4, 100);
         }()},
    };
    for (const auto& [name, bytes] : bad) {
        bool ok = true;
        Read(bytes, ok);
        EXPECT_FALSE(ok) << name;
    }
}

TEST(FirefoxEntry, FileCutAnywhereNeverReadsOutside) {
    const std::string good = FirefoxMediaEntry(kUrl, std::string(700, 'b'), "video/mp4");
    for (std::size_t n = 0; n < good.size(); ++n) {
        bool ok = false;
        const auto facts = Read(good.substr(0, n), ok);
        if (ok) {
            EXPECT_LE(facts.bodySize + 4, n) << n;
        }
    }
}

TEST(FirefoxEntry, BadResponseHeadLeavesAPlainEntry) {
    bool ok = false;
    const auto facts =
        Read(FirefoxEntryFile("a,:" + kUrl, "abc", {{"response-head", "garbage\r\n"}}), ok);
    ASSERT_TRUE(ok);
    EXPECT_FALSE(facts.hasHead);
    EXPECT_EQ(facts.head.contentType, "");
}

}  // namespace
