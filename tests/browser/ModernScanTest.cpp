// The scanner on today's caches, written by the tests' own cache writers.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "browser/CacheScanner.h"
#include "support/CacheWriters.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::int32_t kMinimalKB = 300;
const std::size_t kBig = 400 * 1024;

std::string Media(std::size_t size, char fill = 'm') {
    return Mp4Body(size, fill);
}

// name -> row of a scanned cache, by the names the rows show.
std::map<std::string, const OperaCacheEntry*> Rows(const CacheScanner& scanner) {
    std::map<std::string, const OperaCacheEntry*> rows;
    for (const auto& e : scanner.entries) {
        rows[scanner.DisplayName(e)] = &e;
    }
    return rows;
}

class ChromiumScan : public ::testing::Test {
  protected:
    void SetUp() override {
        data = dir / "Default/Cache/Cache_Data";
        fs::create_directories(data);
        WriteChromiumIndex(data);
        fs::create_directories(data + "/index-dir");
        WriteFile(data + "/index-dir/the-real-index", std::string(kBig, 'i'));
        // Listed: a whole video, a pieced one, one being written, an untyped MP4.
        Put("1000000000000001", "https://v.test/a/whole.mp4", Media(kBig), "video/mp4");
        WriteFile(data + "/1000000000000002_0",
                  ChromiumEntryFile(ChromiumKey("https://v.test/b/pieced%20clip.webm"), "",
                                    ChromiumStream0(ChromiumHttp("video/webm", 3 * 131072))));
        WriteFile(data + "/1000000000000002_s",
                  ChromiumSparseFile(ChromiumKey("https://v.test/b/pieced%20clip.webm"),
                                     ChromiumPieces(Media(3 * 131072, 'p'))));
        WriteFile(data + "/1000000000000003_0",
                  ChromiumOpenEntryFile(ChromiumKey("https://v.test/growing.mp4"), Media(kBig)));
        Put("1000000000000004", "https://v.test/untyped", Media(kBig + 10),
            "application/octet-stream");
        // Not listed: a script, a small video, a _1 file, a todelete_ file, an orphan
        // _s, a malformed entry, a playlist.
        Put("2000000000000001", "https://v.test/app.js", std::string(kBig, 'j'), "text/javascript");
        Put("2000000000000002", "https://v.test/small.mp4", Media(1000), "video/mp4");
        WriteFile(data + "/1000000000000001_1", Media(kBig));
        WriteFile(data + "/todelete_1000000000000009_0",
                  ChromiumEntryFile(ChromiumKey("https://v.test/gone.mp4"), Media(kBig),
                                    ChromiumStream0(ChromiumHttp("video/mp4"))));
        WriteFile(
            data + "/3000000000000000_s",
            ChromiumSparseFile(ChromiumKey("https://v.test/o.mp4"), ChromiumPieces(Media(kBig))));
        WriteFile(data + "/2000000000000003_0", std::string(kBig, '\xfc'));
        Put("2000000000000004", "https://v.test/list.m3u8", Media(kBig), "application/x-mpegURL");
    }

    void Put(const std::string& hash, const std::string& url, const std::string& body,
             const std::string& type) {
        WriteFile(data + "/" + hash + "_0",
                  ChromiumEntryFile(ChromiumKey(url), body,
                                    ChromiumStream0(ChromiumHttp(type, body.size()))));
    }

    TempDir dir;
    std::string data;
};

TEST_F(ChromiumScan, ListsExactlyTheMediaEntriesWhateverTheFolderNamedAndTheOption) {
    for (const std::string& named : {data, dir / "Default/Cache", dir / "Default"}) {
        for (const bool onlyG : {true, false}) {
            CacheScanner scanner;
            scanner.SetOptions(named, kMinimalKB, onlyG);
            scanner.Rescan();
            EXPECT_EQ(scanner.format, cache::Format::Chromium);
            const auto rows = Rows(scanner);
            std::vector<std::string> names;
            for (const auto& [name, row] : rows) {
                names.push_back(name);
            }
            EXPECT_EQ(names, (std::vector<std::string>{"growing.mp4", "pieced clip.webm", "untyped",
                                                       "whole.mp4"}))
                << named;
        }
    }
}

TEST_F(ChromiumScan, RowsCarryBodySizeTypeAddressAndAFullDescription) {
    CacheScanner scanner;
    scanner.SetOptions(data, kMinimalKB, true);
    scanner.Rescan();
    auto rows = Rows(scanner);
    ASSERT_EQ(rows.size(), 4u);

    const OperaCacheEntry& whole = *rows["whole.mp4"];
    EXPECT_EQ(whole.fileName, data + "/1000000000000001_0");
    EXPECT_EQ(whole.size, static_cast<std::int64_t>(kBig));
    EXPECT_EQ(scanner.ContentType(whole), "video/mp4");
    EXPECT_EQ(scanner.Address(whole), "https://v.test/a/whole.mp4");
    cache::Entry e = scanner.Describe(whole);
    EXPECT_EQ(e.storage, cache::Storage::Span);
    EXPECT_EQ(e.bodyOffset, 24 + ChromiumKey("https://v.test/a/whole.mp4").size());
    EXPECT_TRUE(e.complete);

    const OperaCacheEntry& pieced = *rows["pieced clip.webm"];
    e = scanner.Describe(pieced);
    EXPECT_EQ(e.storage, cache::Storage::Pieces);
    EXPECT_EQ(e.piecesFile, data + "/1000000000000002_s");
    EXPECT_EQ(pieced.size, 3 * 131072);
    EXPECT_TRUE(e.complete);

    e = scanner.Describe(*rows["growing.mp4"]);
    EXPECT_FALSE(e.complete);
    EXPECT_EQ(scanner.ContentType(*rows["untyped"]), "video/mp4");
}

TEST_F(ChromiumScan, RescanReadsOnlyWhatChanged) {
    CacheScanner scanner;
    scanner.SetOptions(data, kMinimalKB, true);
    scanner.Rescan();
    EXPECT_GT(scanner.filesRead, 4u);
    scanner.Rescan();
    EXPECT_EQ(scanner.filesRead, 0u);
    EXPECT_EQ(scanner.entries.size(), 4u);

    // The growing entry grew; the script became a video.
    WriteFile(data + "/1000000000000003_0",
              ChromiumOpenEntryFile(ChromiumKey("https://v.test/growing.mp4"), Media(kBig + 100)));
    Put("2000000000000001", "https://v.test/app.mp4", Media(kBig + 1), "video/mp4");
    scanner.Rescan();
    EXPECT_EQ(scanner.filesRead, 2u);
    auto rows = Rows(scanner);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows["growing.mp4"]->size, static_cast<std::int64_t>(kBig + 100));
}

// A rescan that reads nothing keeps the streams it found; one that finds a part gone
// finds them again.
TEST_F(ChromiumScan, AStreamRowFollowsItsPartsFromRescanToRescan) {
    std::string ts(188 * 900, '\xff');
    for (std::size_t i = 0; i < ts.size(); i += 188) {
        ts[i] = 0x47;
    }
    const std::string base = "https://v.test/s/";
    std::string playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n";
    for (int i = 0; i < 3; ++i) {
        playlist += "#EXTINF:2.0,\nseg" + std::to_string(i) + ".ts\n";
        Put("500000000000000" + std::to_string(i), base + "seg" + std::to_string(i) + ".ts", ts,
            "video/mp2t");
    }
    Put("5000000000000009", base + "index.m3u8", playlist + "#EXT-X-ENDLIST\n",
        "application/vnd.apple.mpegurl");
    const auto bytes = static_cast<std::int64_t>(ts.size());
    const struct {
        const char* removed;
        const char* type;  // of the one row of the stream's parts
        std::int64_t size;
    } steps[] = {
        {nullptr, "HLS stream", 3 * bytes},
        {nullptr, "HLS stream", 3 * bytes},
        {"5000000000000002_0", "HLS stream", 2 * bytes},
        // Without its playlist: grouped by the segments' addresses.
        {"5000000000000009_0", "Stream segments", 2 * bytes},
    };
    CacheScanner scanner;
    scanner.SetOptions(data, kMinimalKB, true);
    for (const auto& step : steps) {
        const std::string label = step.removed ? step.removed : "unchanged";
        const bool first = scanner.entries.empty();
        if (step.removed) {
            fs::remove(data + "/" + step.removed);
        }
        scanner.Rescan();
        if (!first) {
            EXPECT_EQ(scanner.filesRead, 0u) << label;
        }
        ASSERT_EQ(scanner.entries.size(), 5u) << label;
        std::vector<const OperaCacheEntry*> parts;
        for (const auto& row : scanner.entries) {
            if (scanner.Address(row).starts_with(base)) {
                parts.push_back(&row);
            }
        }
        ASSERT_EQ(parts.size(), 1u) << label;
        EXPECT_EQ(scanner.ContentType(*parts[0]), step.type) << label;
        EXPECT_EQ(parts[0]->size, step.size) << label;
    }
}

// A cache of more files than one thread looks at alone: each entry still finds its own
// pieces, and nothing is lost or listed twice.
TEST(ModernScan, ALargeChromiumCacheKeepsEveryEntryWithItsOwnPieces) {
    TempDir dir;
    const std::string data = dir / "Cache_Data";
    fs::create_directories(data);
    WriteChromiumIndex(data);
    const int kVideos = 600;
    char stem[20];
    for (int i = 0; i < 2 * kVideos; ++i) {
        std::snprintf(stem, sizeof stem, "%016x", 0x1000 + i);
        const std::string url = "https://v.test/" + std::to_string(i) + (i % 2 ? ".js" : ".webm");
        if (i % 2) {
            WriteFile(data + "/" + stem + "_0",
                      ChromiumEntryFile(ChromiumKey(url), "x",
                                        ChromiumStream0(ChromiumHttp("text/javascript", 1))));
            continue;
        }
        WriteFile(data + "/" + stem + "_0",
                  ChromiumEntryFile(ChromiumKey(url), "",
                                    ChromiumStream0(ChromiumHttp("video/webm", 2048 + i))));
        WriteFile(data + "/" + stem + "_s",
                  ChromiumSparseFile(ChromiumKey(url), ChromiumPieces(Media(2048 + i))));
    }
    CacheScanner scanner;
    scanner.SetOptions(data, 0, true);
    for (int pass = 0; pass < 2; ++pass) {
        scanner.Rescan();
        ASSERT_EQ(scanner.entries.size(), std::size_t(kVideos)) << "pass " << pass;
        std::set<std::string> files;
        for (const auto& row : scanner.entries) {
            const cache::Entry e = scanner.Describe(row);
            EXPECT_EQ(e.storage, cache::Storage::Pieces) << e.file;
            EXPECT_EQ(e.piecesFile, e.file.substr(0, e.file.size() - 2) + "_s");
            const int i = std::stoi(scanner.DisplayName(row));
            EXPECT_EQ(row.size, 2048 + i) << e.file;
            files.insert(e.file);
        }
        EXPECT_EQ(files.size(), std::size_t(kVideos));
    }
    EXPECT_EQ(scanner.filesRead, 0u) << "the second pass read nothing again";
}

TEST_F(ChromiumScan, SortsByEveryColumn) {
    CacheScanner scanner;
    scanner.SetOptions(data, kMinimalKB, true);
    scanner.Rescan();
    auto column = [&](std::int32_t c, bool ascending) {
        scanner.order = {c, ascending};
        scanner.SortEntries();
        std::vector<std::string> names;
        for (const auto& e : scanner.entries) {
            names.push_back(scanner.DisplayName(e));
        }
        return names;
    };
    EXPECT_EQ(
        column(kColumnFileName, true),
        (std::vector<std::string>{"growing.mp4", "pieced clip.webm", "untyped", "whole.mp4"}));
    EXPECT_EQ(
        column(kColumnFileName, false),
        (std::vector<std::string>{"whole.mp4", "untyped", "pieced clip.webm", "growing.mp4"}));
    EXPECT_EQ(column(kColumnType, false).front(), "pieced clip.webm");  // video/webm last
    EXPECT_EQ(column(kColumnAddress, true).front(), "whole.mp4");       // .../a/whole.mp4
    EXPECT_EQ(column(kColumnSize, false).front(), "untyped");
    EXPECT_EQ(column(kColumnSize, true).front(), "pieced clip.webm");
}

TEST(ModernScan, FirefoxProfileFolderListsTheVideosOnly) {
    TempDir dir;
    const std::string entries = MakeFirefoxCache(dir / "abc.default-esr/cache2");
    WriteFile(entries + "/0A1B2C3D4E5F60718293A4B5C6D7E8F901234567",
              FirefoxMediaEntry("https://v.test/f/video.webm", Media(kBig), "video/webm"));
    WriteFile(entries + "/1A1B2C3D4E5F60718293A4B5C6D7E8F901234567",
              FirefoxMediaEntry("https://v.test/f/start.mp4", Media(kBig), "video/mp4", 1 << 30));
    WriteFile(
        entries + "/2A1B2C3D4E5F60718293A4B5C6D7E8F901234567",
        FirefoxMediaEntry("https://v.test/f/big.js", std::string(kBig, 'j'), "text/javascript"));
    WriteFile(entries + "/3A1B2C3D4E5F60718293A4B5C6D7E8F901234567", std::string(kBig, '\0'));
    CacheScanner scanner;
    scanner.SetOptions(dir / "abc.default-esr", kMinimalKB, true);
    scanner.Rescan();
    EXPECT_EQ(scanner.format, cache::Format::Firefox);
    auto rows = Rows(scanner);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(scanner.Describe(*rows["video.webm"]).complete);
    EXPECT_FALSE(scanner.Describe(*rows["start.mp4"]).complete);
    EXPECT_EQ(scanner.Describe(*rows["start.mp4"]).resourceSize, 1u << 30);
}

TEST(ModernScan, ClassicTypeIsFoundOnlyWhenAskedFor) {
    TempDir dir;
    fs::create_directories(dir / "g_0001");
    WriteFile(dir / "g_0001/video", Media(kBig));
    WriteFile(dir / "g_0001/text", std::string(kBig, 't'));
    CacheScanner scanner;
    scanner.SetOptions(dir.path(), kMinimalKB, true);
    scanner.Rescan();
    ASSERT_EQ(scanner.entries.size(), 2u);
    EXPECT_EQ(scanner.format, cache::Format::Classic);
    EXPECT_EQ(scanner.filesRead, 0u);
    for (const auto& e : scanner.entries) {
        EXPECT_EQ(e.detail, 0u);  // nothing read by the scan
        EXPECT_EQ(scanner.ContentType(e), e.fileName == dir / "g_0001/video" ? "video/mp4" : "");
        EXPECT_EQ(scanner.Describe(e).file, e.fileName);
        EXPECT_EQ(scanner.DisplayName(e), "");
    }
    EXPECT_EQ(sizeof(OperaCacheEntry), sizeof(std::string) + 16);
}

}  // namespace
