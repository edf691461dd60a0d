// The cache readers over caches that Debian's Chromium and Firefox ESR wrote (made by
// make-browser-caches.sh): every entry file of each cache is read as the scanner reads
// it; the entries found to be media are exactly the videos the page loaded (and files of
// the streams it played), and the videos' bodies, read in place or rebuilt from pieces,
// are the served bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "browsers/ServedFiles.h"
#include "cache/CacheEntry.h"
#include "cache/EntryReaders.h"
#include "cache/Rebuild.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using testsupport::PathOf;
using testsupport::ReadFile;
using testsupport::Served;

namespace {

const std::string kFixture = REELVAULT_BROWSER_CACHES;

struct CacheCase {
    const char* name;
    bool firefox;
    bool open;  // copied while the browser ran
};

void PrintTo(const CacheCase& c, std::ostream* os) {
    *os << c.name;
}

// The media entries of one cache, by URL path, read file by file as the scanner does.
std::map<std::string, cache::Entry> MediaEntries(const CacheCase& c) {
    std::map<std::string, cache::Entry> media;
    const std::string folder =
        kFixture + "/" + c.name + (c.firefox ? "/cache2/entries" : "/Cache_Data");
    for (const auto& item : fs::directory_iterator(folder)) {
        const std::string path = item.path();
        const std::string name = item.path().filename();
        cache::ReadEntry read;
        bool ok = false;
        if (c.firefox) {
            ok = cache::ReadFirefoxFile(path, read);
        } else if (name.size() > 2 && name.compare(name.size() - 2, 2, "_0") == 0) {
            const std::string pieces = path.substr(0, path.size() - 2) + "_s";
            ok = cache::ReadChromiumFiles(path, fs::exists(pieces) ? pieces : "", read);
        }
        if (ok && read.media) {
            EXPECT_TRUE(media.emplace(PathOf(read.entry.url), read.entry).second)
                << read.entry.url << " twice";
        }
    }
    return media;
}

std::string ReadBody(const cache::Entry& entry) {
    std::unique_ptr<cache::BodyReader> reader = cache::OpenBody(entry);
    if (!reader) {
        return "(cannot open)";
    }
    std::string bytes(reader->Size(), '\0');
    const std::int64_t n = reader->ReadAt(0, bytes.data(), bytes.size());
    bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return bytes;
}

class RealCacheReadersTest : public ::testing::TestWithParam<CacheCase> {
  protected:
    void SetUp() override {
        if (!fs::exists(kFixture + "/stamp")) {
            GTEST_SKIP() << "no browser caches in " << kFixture << " (a browser missing?)";
        }
    }
};

TEST_P(RealCacheReadersTest, MediaEntriesAreExactlyTheVideosWithTheServedBytes) {
    const CacheCase c = GetParam();
    const std::map<std::string, Served> files = testsupport::ReadServedFiles(kFixture);
    ASSERT_FALSE(files.empty());
    const std::map<std::string, cache::Entry> media = MediaEntries(c);

    for (const auto& [path, entry] : media) {
        const auto served = files.find(path);
        EXPECT_TRUE(served != files.end() &&
                    (served->second.video || !served->second.stream.empty()))
            << path << " taken for media";
    }
    for (const auto& [path, s] : files) {
        if (!s.video) {
            continue;
        }
        SCOPED_TRACE(path);
        const auto found = media.find(path);
        // A download dropped half way is kept while the browser runs; after a clean close
        // the browser may have let it go.
        if (s.mode == "stall" && !c.open && found == media.end()) {
            continue;
        }
        if (found == media.end()) {
            ADD_FAILURE() << "a video not found";
            continue;
        }
        const cache::Entry& entry = found->second;
        EXPECT_EQ(entry.contentType, s.contentType);
        const bool whole = s.mode != "stall";
        EXPECT_EQ(entry.complete, whole);
        EXPECT_EQ(entry.storage == cache::Storage::Pieces, !c.firefox && s.mode == "range");
        const std::uint64_t expected = whole ? s.bytes.size() : s.SentTo(c.firefox);
        if (whole) {
            EXPECT_EQ(entry.bodySize, expected);
            EXPECT_EQ(entry.resourceSize, expected);
        }
        const std::string body = ReadBody(entry);
        ASSERT_GE(body.size(), expected);
        EXPECT_TRUE(body.compare(0, expected, s.bytes, 0, expected) == 0)
            << "the body is not the served bytes";

        if (entry.storage == cache::Storage::Pieces) {
            testsupport::TempDir dir;
            const std::string target = dir / "rebuilt";
            ASSERT_TRUE(cache::RebuildPieces(entry, target));
            EXPECT_TRUE(ReadFile(target) == s.bytes) << "the rebuilt file differs";
        }
    }
}

std::string CaseName(const ::testing::TestParamInfo<CacheCase>& param) {
    std::string name = param.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Browsers, RealCacheReadersTest,
                         ::testing::Values(CacheCase{"chromium", false, false},
                                           CacheCase{"chromium-open", false, true},
                                           CacheCase{"firefox", true, false}),
                         CaseName);

}  // namespace
