#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cache/CacheLayout.h"
#include "support/CacheWriters.h"

using namespace testsupport;

namespace {

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return std::filesystem::path(path).lexically_normal().string();
}

TEST(CacheLayout, ChromiumFolderFoundFromCacheDataItsParentOrTheProfile) {
    TempDir dir;
    const std::string data = dir / "Default/Cache/Cache_Data";
    std::filesystem::create_directories(data);
    WriteChromiumIndex(data);
    for (const std::string& named :
         {data, data + "/", dir / "Default/Cache", dir / "Default/Cache/", dir / "Default"}) {
        const cache::CacheFolder folder = cache::ResolveCacheFolder(named);
        EXPECT_EQ(folder.format, cache::Format::Chromium) << named;
        EXPECT_EQ(WithoutTrailingSlash(folder.entriesDir), data) << named;
    }
}

TEST(CacheLayout, FirefoxFolderFoundFromCache2ItsEntriesOrTheProfile) {
    TempDir dir;
    const std::string entries = MakeFirefoxCache(dir / "profile.default/cache2");
    for (const std::string& named :
         {dir / "profile.default/cache2", entries, entries + "/", dir / "profile.default"}) {
        const cache::CacheFolder folder = cache::ResolveCacheFolder(named);
        EXPECT_EQ(folder.format, cache::Format::Firefox) << named;
        EXPECT_EQ(WithoutTrailingSlash(folder.entriesDir), entries) << named;
    }
}

TEST(CacheLayout, AnythingElseIsClassicInPlace) {
    TempDir dir;
    std::filesystem::create_directories(dir / "g_0001");
    WriteFile(dir / "g_0001/opr001.tmp", "x");
    // An index without the magic; an entries folder without a cache2 index beside it.
    const std::string badIndex = dir / "bad-index";
    std::filesystem::create_directories(badIndex);
    WriteFile(badIndex + "/index", std::string(24, 'x'));
    const std::string noIndex = dir / "no-index";
    std::filesystem::create_directories(noIndex + "/entries");
    for (const std::string& named :
         {dir.path(), badIndex, noIndex, noIndex + "/entries", dir / "missing", std::string()}) {
        const cache::CacheFolder folder = cache::ResolveCacheFolder(named);
        EXPECT_EQ(folder.format, cache::Format::Classic) << named;
        EXPECT_EQ(folder.entriesDir, named);
    }
}

TEST(CacheLayout, ShortOrUnreadableIndexIsNoChromiumCache) {
    TempDir dir;
    WriteFile(dir / "index", std::string("\x30\x5c\x72\xa7", 4));
    EXPECT_FALSE(cache::HasChromiumIndex(dir.path()));
    std::filesystem::remove(dir / "index");
    std::filesystem::create_directories(dir / "index");  // a folder named index
    EXPECT_FALSE(cache::HasChromiumIndex(dir.path()));
}

}  // namespace
