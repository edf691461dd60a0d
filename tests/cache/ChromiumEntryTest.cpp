#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache/ChromiumEntry.h"
#include "support/CacheWriters.h"

using namespace testsupport;

namespace {

const std::string kUrl = "https://cdn.site.test/media/clip.mp4?x=1";

cache::ChromiumEntryFacts Read(const std::string& bytes, bool& ok) {
    cache::ChromiumEntryFacts facts;
    ok = cache::ReadChromiumEntry(cache::MemorySource(bytes), facts);
    return facts;
}

struct GoodCase {
    const char* name;
    bool keyHash;
    bool extraFlags;
    bool originalTime;
    bool truncated;
    std::size_t keyPad;  // makes the key longer than the first read
    std::size_t bodySize;
};

class ChromiumGoodEntry : public ::testing::TestWithParam<GoodCase> {};

TEST_P(ChromiumGoodEntry, GivesUrlBodyAndHeadersWhateverTheOptionalFields) {
    const GoodCase& c = GetParam();
    ChromiumResponse response = ChromiumHttp("Video/MP4; codecs=avc1", 4000);
    response.extraFlags = c.extraFlags;
    response.originalResponseTime = c.originalTime;
    response.truncated = c.truncated;
    const std::string key = ChromiumKey(kUrl + std::string(c.keyPad, 'k'));
    const std::string body = Mp4Body(c.bodySize);
    bool ok = false;
    const auto facts = Read(ChromiumEntryFile(key, body, ChromiumStream0(response), c.keyHash), ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(facts.url, kUrl + std::string(c.keyPad, 'k'));
    EXPECT_EQ(facts.bodyOffset, 24 + key.size());
    EXPECT_EQ(facts.bodySize, body.size());
    EXPECT_TRUE(facts.closed);
    EXPECT_TRUE(facts.hasHead);
    EXPECT_EQ(facts.head.status, 200);
    EXPECT_EQ(facts.head.contentType, "video/mp4");
    EXPECT_EQ(facts.head.contentLength, 4000u);
    EXPECT_EQ(facts.truncated, c.truncated);
    EXPECT_EQ(facts.firstBytes, body.substr(0, 512));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ChromiumGoodEntry,
    ::testing::Values(GoodCase{"all_fields", true, true, true, false, 0, 4000},
                      GoodCase{"no_key_hash", false, true, true, false, 0, 4000},
                      GoodCase{"no_extra_flags", true, false, false, false, 0, 4000},
                      GoodCase{"extra_flags_without_time", true, true, false, false, 0, 4000},
                      GoodCase{"truncated", true, true, true, true, 0, 4000},
                      GoodCase{"long_key", true, true, true, false, 9000, 100},
                      GoodCase{"body_larger_than_edge_reads", true, true, true, false, 0, 20000},
                      GoodCase{"tiny_body", true, true, true, false, 0, 3}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ChromiumEntry, KeyWithoutBlankIsTheUrl) {
    bool ok = false;
    const auto facts =
        Read(ChromiumEntryFile(kUrl, "body", ChromiumStream0(ChromiumHttp("video/webm"))), ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(facts.url, kUrl);
}

TEST(ChromiumEntry, BeingWrittenBodyRunsToTheEndWithoutHeaders) {
    const std::string key = ChromiumKey(kUrl);
    bool ok = false;
    const auto facts = Read(ChromiumOpenEntryFile(key, Mp4Body(3000)), ok);
    ASSERT_TRUE(ok);
    EXPECT_FALSE(facts.closed);
    EXPECT_FALSE(facts.hasHead);
    EXPECT_EQ(facts.bodyOffset, 24 + key.size());
    EXPECT_EQ(facts.bodySize, 3000u);
}

// Inputs that must be refused without a crash, a read outside the buffer or an
// allocation by a length taken from them.
struct BadCase {
    const char* name;
    std::string bytes;
};

std::string Good() {
    return ChromiumEntryFile(ChromiumKey(kUrl), Mp4Body(2000),
                             ChromiumStream0(ChromiumHttp("video/mp4", 2000)));
}

std::string WithU32(std::string bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
    }
    return bytes;
}

std::vector<BadCase> BadEntries() {
    const std::string good = Good();
    const std::size_t end0 = good.size() - 24;
    return {
        {"empty", ""},
        {"shorter_than_header", good.substr(0, 20)},
        {"wrong_magic", "X" + good.substr(1)},
        {"key_length_beyond_file", WithU32(good, 12, 0x7fffffff)},
        {"key_length_just_beyond_file", WithU32(good, 12, static_cast<std::uint32_t>(good.size()))},
        {"key_with_nul", ChromiumEntryFile(std::string("https://a.test/v\0.mp4", 21), "b",
                                           ChromiumStream0(ChromiumHttp("video/mp4")))},
        {"key_not_utf8", ChromiumEntryFile("https://a.test/\xff\xfe.mp4", "b",
                                           ChromiumStream0(ChromiumHttp("video/mp4")))},
        {"empty_key", ChromiumEntryFile("", "b", ChromiumStream0(ChromiumHttp("video/mp4")))},
        {"stream0_size_beyond_file", WithU32(good, end0 + 16, 0xfffffff0)},
        {"stream0_size_off_by_one",
         WithU32(good, end0 + 16,
                 static_cast<std::uint32_t>(
                     ChromiumStream0(ChromiumHttp("video/mp4", 2000)).size() + 1))},
        {"stream1_record_disagrees", ChromiumFileHeader(ChromiumKey(kUrl)) + "body" +
                                         ChromiumEndRecord(0, 99) + ChromiumEndRecord(1, 0)},
    };
}

TEST(ChromiumEntry, RefusesMalformedFiles) {
    for (const BadCase& c : BadEntries()) {
        bool ok = true;
        Read(c.bytes, ok);
        EXPECT_FALSE(ok) << c.name;
    }
}

TEST(ChromiumEntry, FileCutAnywhereNeverReadsOutside) {
    // Every prefix of a good file: either refused or read as being written, with a body
    // that lies inside the prefix.
    const std::string good = Good();
    for (std::size_t n = 0; n < good.size(); ++n) {
        bool ok = false;
        const auto facts = Read(good.substr(0, n), ok);
        if (ok) {
            EXPECT_LE(facts.bodyOffset + facts.bodySize, n) << n;
        }
    }
}

TEST(ChromiumEntry, BadHeadersLeaveAPlainEntry) {
    const std::vector<std::pair<const char*, std::string>> streams = {
        {"garbage", std::string(40, '\x33')},
        {"payload_beyond_stream", WithU32(ChromiumStream0(ChromiumHttp("video/mp4")), 0, 1 << 30)},
        {"header_length_beyond_payload",
         [] {
             ChromiumResponse r = ChromiumHttp("video/mp4");
             r.extraFlags = false;
             return WithU32(ChromiumStream0(r), 24, 0x7fffffff);
         }()},
        {"not_http", ChromiumStream0([] {
             ChromiumResponse r;
             r.statusLine = "SPDY nonsense";
             return r;
         }())},
    };
    for (const auto& [name, stream0] : streams) {
        bool ok = false;
        const auto facts = Read(ChromiumEntryFile(ChromiumKey(kUrl), Mp4Body(100), stream0), ok);
        ASSERT_TRUE(ok) << name;
        EXPECT_TRUE(facts.closed) << name;
        EXPECT_FALSE(facts.hasHead) << name;
        EXPECT_EQ(facts.head.contentType, "") << name;
        EXPECT_EQ(facts.bodySize, 100u) << name;
    }
}

// ---- the range walker ----

cache::RangeWalk Walk(const std::string& bytes, bool& ok) {
    cache::RangeWalk walk;
    ok = cache::WalkChromiumRanges(cache::MemorySource(bytes), walk);
    return walk;
}

TEST(ChromiumRanges, SortsRangesThatArrivedOutOfOrder) {
    const std::string key = ChromiumKey(kUrl);
    bool ok = false;
    const auto walk = Walk(ChromiumSparseFile(key, {{100, std::string(50, 'b')},
                                                    {0, std::string(100, 'a')},
                                                    {300, std::string(10, 'd')}}),
                           ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(walk.clean);
    ASSERT_EQ(walk.ranges.size(), 3u);
    EXPECT_EQ(walk.ranges[0].offset, 0u);
    EXPECT_EQ(walk.ranges[0].fileOffset, 24 + key.size() + 32 + 50 + 32);
    EXPECT_EQ(walk.ranges[1].offset, 100u);
    EXPECT_EQ(walk.ranges[2].offset, 300u);
    EXPECT_EQ(walk.bytes, 160u);
    EXPECT_EQ(walk.end, 310u);
}

TEST(ChromiumRanges, StopsSafelyAtABadRecordKeepingWhatCameBefore) {
    const std::string key = ChromiumKey(kUrl);
    const std::string first = ChromiumSparseFile(key, {{0, std::string(100, 'a')}});
    const std::vector<std::pair<const char*, std::string>> tails = {
        {"bad_magic", ChromiumRangeHeader(100, 10, 0x1111) + std::string(10, 'x')},
        {"length_beyond_file", ChromiumRangeHeader(100, 1ull << 40) + "xx"},
        {"length_one_beyond_file", ChromiumRangeHeader(100, 11) + std::string(10, 'x')},
        {"offset_overflows", ChromiumRangeHeader(~0ull - 3, 10) + std::string(10, 'x')},
        {"overlaps_earlier", ChromiumRangeHeader(50, 100) + std::string(100, 'x')},
        {"same_offset_again", ChromiumRangeHeader(0, 10) + std::string(10, 'x')},
        {"cut_in_header", ChromiumRangeHeader(100, 10).substr(0, 20)},
    };
    for (const auto& [name, tail] : tails) {
        bool ok = false;
        const auto walk = Walk(first + tail, ok);
        ASSERT_TRUE(ok) << name;
        EXPECT_FALSE(walk.clean) << name;
        ASSERT_EQ(walk.ranges.size(), 1u) << name;
        EXPECT_EQ(walk.bytes, 100u) << name;
    }
}

TEST(ChromiumRanges, RefusesFilesThatAreNoSparseFile) {
    for (const std::string& bytes :
         {std::string(), std::string(23, '\0'), ChromiumFileHeader(ChromiumKey(kUrl), 9, 0x42),
          WithU32(ChromiumSparseFile(ChromiumKey(kUrl), {{0, "abc"}}), 12, 0xffffff00)}) {
        bool ok = true;
        Walk(bytes, ok);
        EXPECT_FALSE(ok);
    }
}

TEST(ChromiumRanges, NoRangesAfterTheKeyIsAnEmptyCleanWalk) {
    bool ok = false;
    const auto walk = Walk(ChromiumSparseFile(ChromiumKey(kUrl), {}), ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(walk.clean);
    EXPECT_TRUE(walk.ranges.empty());
}

}  // namespace
