#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "cache/EntryReaders.h"
#include "cache/Rebuild.h"
#include "support/CacheWriters.h"

using namespace testsupport;

namespace {

const std::string kUrl = "https://cdn.site.test/v/clip.mp4";

std::string Resource(std::size_t size) {
    std::string bytes = Mp4Body(size);
    for (std::size_t i = 24; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131) >> 3);
    }
    return bytes;
}

std::string ReadBody(const cache::Entry& entry) {
    auto reader = cache::OpenBody(entry);
    if (!reader) {
        return "<none>";
    }
    std::string bytes(static_cast<std::size_t>(reader->Size()), '\0');
    const auto got = reader->ReadAt(0, bytes.data(), bytes.size());
    return got == static_cast<std::int64_t>(bytes.size()) ? bytes : "<short>";
}

TEST(EntryReaders, ChromiumWholeBodyIsASpanBehindTheKey) {
    TempDir dir;
    const std::string body = Resource(5000);
    WriteFile(dir / "0123456789abcdef_0",
              ChromiumEntryFile(ChromiumKey(kUrl), body,
                                ChromiumStream0(ChromiumHttp("application/octet-stream", 5000))));
    cache::ReadEntry read;
    ASSERT_TRUE(cache::ReadChromiumFiles(dir / "0123456789abcdef_0", "", read));
    EXPECT_TRUE(read.media);
    EXPECT_EQ(read.entry.contentType, "video/mp4");  // from its first bytes
    EXPECT_EQ(read.entry.storage, cache::Storage::Span);
    EXPECT_EQ(read.entry.bodyOffset, 24 + ChromiumKey(kUrl).size());
    EXPECT_TRUE(read.entry.complete);
    EXPECT_EQ(ReadBody(read.entry), body);
}

struct PiecesCase {
    const char* name;
    std::vector<std::pair<std::size_t, std::size_t>> ranges;  // offset, length
    std::int64_t contentLength;
    bool truncated;
    bool complete;
};

TEST(EntryReaders, ChromiumPiecesJoinHolesReadAsZerosAndPartialIsTold) {
    const std::size_t total = 300000;
    const std::string resource = Resource(total);
    const std::vector<PiecesCase> cases = {
        {"all_in_order", {{0, 65536}, {65536, 65536}, {131072, 168928}}, 300000, false, true},
        {"all_out_of_order", {{131072, 168928}, {0, 65536}, {65536, 65536}}, 300000, false, true},
        {"hole_in_the_middle", {{0, 65536}, {131072, 168928}}, 300000, false, false},
        {"end_missing", {{0, 65536}, {65536, 65536}}, 300000, false, false},
        {"truncated_flag", {{0, 65536}, {65536, 65536}, {131072, 168928}}, 300000, true, false},
        {"terabyte_length", {{0, 65536}}, 1ll << 40, false, false},
        {"length_below_what_is_there", {{0, 65536}, {65536, 65536}}, 1000, false, true},
    };
    for (const PiecesCase& c : cases) {
        TempDir dir;
        std::vector<ChromiumRangeData> ranges;
        std::string expected;
        for (const auto& [offset, length] : c.ranges) {
            ranges.push_back({offset, resource.substr(offset, length)});
            if (expected.size() < offset + length) {
                expected.resize(offset + length, '\0');
            }
            expected.replace(offset, length, resource.substr(offset, length));
        }
        ChromiumResponse response = ChromiumHttp("video/mp4", c.contentLength);
        response.truncated = c.truncated;
        WriteFile(dir / "a_0", ChromiumEntryFile(ChromiumKey(kUrl), "", ChromiumStream0(response)));
        WriteFile(dir / "a_s", ChromiumSparseFile(ChromiumKey(kUrl), ranges));
        cache::ReadEntry read;
        ASSERT_TRUE(cache::ReadChromiumFiles(dir / "a_0", dir / "a_s", read)) << c.name;
        const cache::Entry& e = read.entry;
        EXPECT_TRUE(read.media) << c.name;
        EXPECT_EQ(e.storage, cache::Storage::Pieces) << c.name;
        EXPECT_EQ(e.complete, c.complete) << c.name;
        std::size_t present = 0;
        for (const auto& range : c.ranges) {
            present += range.second;
        }
        EXPECT_EQ(e.bodySize, present) << c.name;
        EXPECT_GE(e.resourceSize, expected.size()) << c.name;
        EXPECT_EQ(ReadBody(e), expected) << c.name;

        const std::string rebuilt = dir / "rebuilt";
        ASSERT_TRUE(cache::RebuildPieces(e, rebuilt)) << c.name;
        EXPECT_EQ(ReadFile(rebuilt), expected) << c.name;
    }
}

TEST(EntryReaders, RebuiltHolesTakeNoSpace) {
    TempDir dir;
    const std::string piece = Resource(65536);
    WriteFile(dir / "a_0",
              ChromiumEntryFile(ChromiumKey(kUrl), "", ChromiumStream0(ChromiumHttp("video/mp4"))));
    WriteFile(dir / "a_s",
              ChromiumSparseFile(ChromiumKey(kUrl), {{0, piece}, {64ull << 20, piece}}));
    cache::ReadEntry read;
    ASSERT_TRUE(cache::ReadChromiumFiles(dir / "a_0", dir / "a_s", read));
    ASSERT_TRUE(cache::RebuildPieces(read.entry, dir / "rebuilt"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "rebuilt").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, (64 << 20) + 65536);
    // Where the file system keeps holes (tmpfs, ext4, xfs, btrfs) 64 MiB of zeros cost
    // nothing; allow generous slack for block rounding.
    EXPECT_LT(st.st_blocks * 512, 8 << 20);
    EXPECT_FALSE(cache::RebuildPieces(read.entry, dir / "rebuilt"));  // never overwrites
}

TEST(EntryReaders, ChromiumBeingWrittenIsAPartialSpanToTheEnd) {
    TempDir dir;
    WriteFile(dir / "a_0", ChromiumOpenEntryFile(ChromiumKey(kUrl), Resource(4000)));
    cache::ReadEntry read;
    ASSERT_TRUE(cache::ReadChromiumFiles(dir / "a_0", "", read));
    EXPECT_TRUE(read.media);
    EXPECT_FALSE(read.entry.complete);
    EXPECT_EQ(read.entry.bodySize, 4000u);
    EXPECT_EQ(ReadBody(read.entry), Resource(4000));
}

TEST(EntryReaders, NotMediaIsReadButNotListed) {
    TempDir dir;
    WriteFile(dir / "a_0",
              ChromiumEntryFile(ChromiumKey("https://x.test/app.js"), std::string(5000, 'j'),
                                ChromiumStream0(ChromiumHttp("text/javascript"))));
    cache::ReadEntry read;
    ASSERT_TRUE(cache::ReadChromiumFiles(dir / "a_0", "", read));
    EXPECT_FALSE(read.media);
    // A video type with nothing in it: no row either.
    WriteFile(dir / "b_0", ChromiumEntryFile(ChromiumKey(kUrl), "",
                                             ChromiumStream0(ChromiumHttp("video/mp4", 99))));
    ASSERT_TRUE(cache::ReadChromiumFiles(dir / "b_0", "", read));
    EXPECT_FALSE(read.media);
}

TEST(EntryReaders, FirefoxBeginningIsPartialAndItsBodyLeavesTheMetadataOut) {
    TempDir dir;
    const std::string body = Resource(3000);
    WriteFile(dir / "E1", FirefoxMediaEntry(kUrl, body, "video/mp4", 90000));
    cache::ReadEntry read;
    ASSERT_TRUE(cache::ReadFirefoxFile(dir / "E1", read));
    EXPECT_TRUE(read.media);
    EXPECT_FALSE(read.entry.complete);
    EXPECT_EQ(read.entry.resourceSize, 90000u);
    EXPECT_EQ(read.entry.bodySize, 3000u);
    EXPECT_EQ(read.entry.url, kUrl);
    EXPECT_EQ(ReadBody(read.entry), body);

    WriteFile(dir / "E2", FirefoxMediaEntry(kUrl, body, "video/mp4"));
    ASSERT_TRUE(cache::ReadFirefoxFile(dir / "E2", read));
    EXPECT_TRUE(read.entry.complete);
}

TEST(EntryReaders, PiecesThatShrankSinceTheScanOpenNoReader) {
    TempDir dir;
    WriteFile(dir / "a_0",
              ChromiumEntryFile(ChromiumKey(kUrl), "", ChromiumStream0(ChromiumHttp("video/mp4"))));
    WriteFile(dir / "a_s", ChromiumSparseFile(ChromiumKey(kUrl), {{0, Resource(1000)}}));
    cache::ReadEntry read;
    ASSERT_TRUE(cache::ReadChromiumFiles(dir / "a_0", dir / "a_s", read));
    WriteFile(dir / "a_s", "");
    EXPECT_EQ(cache::OpenBody(read.entry), nullptr);
    EXPECT_FALSE(cache::RebuildPieces(read.entry, dir / "rebuilt"));
}

}  // namespace

// A scan that read the edges the readers ask for gets the entry it would get from the file,
// reading between the edges only while the file is the one the edges came from.
TEST(EntryReaders, EdgesAScanHoldsReadAsTheFileWould) {
    TempDir dir;
    const std::string longKey = ChromiumKey(kUrl + "?" + std::string(6000, 'q'));
    struct Case {
        const char* name;
        cache::Format format;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"small, whole", cache::Format::Chromium,
         ChromiumEntryFile(ChromiumKey(kUrl), Resource(3000),
                           ChromiumStream0(ChromiumHttp("video/mp4", 3000)))},
        {"key past the head", cache::Format::Chromium,
         ChromiumEntryFile(longKey, Resource(40000),
                           ChromiumStream0(ChromiumHttp("video/mp4", 40000)))},
        {"firefox, large", cache::Format::Firefox,
         FirefoxMediaEntry(kUrl, Resource(50000), "video/mp4")},
    };
    for (const Case& c : cases) {
        const std::string path = dir / c.name;
        WriteFile(path, c.bytes);
        const auto read = [&](const cache::KnownEdges* edges, cache::ReadEntry& out) {
            return c.format == cache::Format::Chromium
                       ? cache::ReadChromiumFiles(path, "", out, {}, edges)
                       : cache::ReadFirefoxFile(path, out, {}, edges);
        };
        cache::ReadEntry fromFile;
        ASSERT_TRUE(read(nullptr, fromFile)) << c.name;

        const cache::EdgeSizes sizes = cache::EdgesReadOf(c.format);
        const auto* bytes = reinterpret_cast<const unsigned char*>(c.bytes.data());
        const bool whole = c.bytes.size() <= sizes.whole;
        cache::KnownEdges edges;
        edges.identity = fromFile.identity;
        edges.head = {bytes, whole ? c.bytes.size() : sizes.head};
        if (!whole) {
            edges.tail = {bytes + c.bytes.size() - sizes.tail, sizes.tail};
        }
        cache::ReadEntry fromEdges;
        ASSERT_TRUE(read(&edges, fromEdges)) << c.name;
        EXPECT_EQ(fromEdges.entry.url, fromFile.entry.url) << c.name;
        EXPECT_EQ(fromEdges.entry.bodySize, fromFile.entry.bodySize) << c.name;
        EXPECT_EQ(fromEdges.entry.contentType, fromFile.entry.contentType) << c.name;
        EXPECT_EQ(fromEdges.entry.complete, fromFile.entry.complete) << c.name;

        // Edges of a file since replaced: what lies between them is not taken from the new one.
        if (!whole && c.format == cache::Format::Chromium) {
            edges.identity.lastWriteTimeNs += 1;
            EXPECT_FALSE(read(&edges, fromEdges)) << c.name;
        }
    }
}
