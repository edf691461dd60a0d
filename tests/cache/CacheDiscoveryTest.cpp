// The search for the browsers' caches in a home folder made for each test: real caches of
// both kinds in the user's cache folder, its configuration folder, a snap's and a
// flatpak's, among decoys that only look like caches by their names or lie where the walk
// must not go.
#include "cache/CacheDiscovery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cache/CacheLayout.h"
#include "support/CacheWriters.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace fs = std::filesystem;
using testsupport::WriteFile;

namespace {

std::string LittleEndian(std::uint64_t value) {
    std::string bytes;
    for (int i = 0; i < 8; ++i) {
        bytes += static_cast<char>((value >> (8 * i)) & 0xff);
    }
    return bytes;
}

void MakeChromiumCache(const std::string& dir) {
    fs::create_directories(dir);
    testsupport::WriteChromiumIndex(dir);
}

// A decoy: an index of the right size whose first bytes are not the magic.
void MakeChromiumLookalike(const std::string& dir, std::uint64_t magic) {
    fs::create_directories(dir);
    WriteFile(dir + "/index", LittleEndian(magic) + std::string(16, '\0'));
}

void MakeFirefoxCache(const std::string& dir) {
    testsupport::MakeFirefoxCache(dir);
}

std::string Describe(const std::vector<cache::FoundCache>& found, const std::string& home) {
    std::string text;
    for (const auto& cache : found) {
        text += cache.label + " | " + cache.folder.substr(home.size()) + "\n";
    }
    return text;
}

class CacheDiscoveryTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string home = dir / "home";
    std::string cacheHome = home + "/.cache";
    std::string configHome = home + "/.config";
    cache::DiscoveryPlaces places{cacheHome, home, configHome};

    // Reachable for the unprivileged run, the locked decoy excepted.
    void OpenUp() {
        for (auto it = fs::recursive_directory_iterator(dir.path());
             it != fs::recursive_directory_iterator(); ++it) {
            if (it->is_directory() && !it->is_symlink()) {
                fs::permissions(it->path(), fs::perms::all, fs::perm_options::add);
            } else if (it->is_regular_file()) {
                fs::permissions(
                    it->path(),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::add);
            }
        }
        fs::permissions(dir.path(), fs::perms::all, fs::perm_options::add);
    }

    void MakeHome() {
        MakeChromiumCache(cacheHome + "/chromium/Default/Cache/Cache_Data");
        MakeChromiumCache(cacheHome + "/google-chrome/Profile 1/Cache/Cache_Data");
        MakeChromiumCache(cacheHome + "/BraveSoftware/Brave-Browser/Default/Cache/Cache_Data");
        MakeFirefoxCache(cacheHome + "/mozilla/firefox/abcd.default-esr/cache2");
        // Applications built on Chromium, one with a session partition of its own, and a
        // browser, keep theirs in the configuration folder.
        MakeChromiumCache(configHome + "/Slack/Cache/Cache_Data");
        MakeChromiumCache(configHome + "/teams-for-linux/Partitions/work/Cache/Cache_Data");
        MakeChromiumCache(configHome + "/vivaldi/Default/Cache/Cache_Data");
        MakeChromiumCache(home + "/snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data");
        MakeFirefoxCache(home + "/snap/firefox/common/.cache/mozilla/firefox/x1.default/cache2");
        fs::create_directories(home + "/snap/firefox/current");
        MakeChromiumCache(
            home + "/.var/app/org.chromium.Chromium/cache/chromium/Default/Cache/Cache_Data");

        // Decoys: the right names without the content, or where the walk does not go.
        MakeChromiumLookalike(cacheHome + "/other/Default/Cache/Cache_Data", 0x1122334455667788ULL);
        fs::create_directories(cacheHome + "/empty/Default/Cache/Cache_Data");
        fs::create_directories(cacheHome + "/short/Cache_Data");
        WriteFile(cacheHome + "/short/Cache_Data/index", "\x30\x5c");
        fs::create_directories(cacheHome + "/mozilla/firefox/nocache/cache2/doomed");
        fs::create_directories(cacheHome + "/plain");
        WriteFile(cacheHome + "/plain/Cache_Data", "not a folder");
        MakeChromiumCache(cacheHome + "/a/b/c/d/e/Cache_Data");  // deeper than any browser
        fs::create_directory_symlink(cacheHome, cacheHome + "/loop");
        fs::create_directory_symlink(cacheHome + "/chromium", cacheHome + "/linked-profile");
        fs::create_directories(cacheHome + "/linked");
        fs::create_directory_symlink(cacheHome + "/chromium/Default/Cache/Cache_Data",
                                     cacheHome + "/linked/Cache_Data");
        MakeChromiumCache(cacheHome + "/locked/Default/Cache/Cache_Data");
        MakeChromiumLookalike(configHome + "/Element/Cache/Cache_Data", 0);
        MakeChromiumCache(configHome + "/Code/User/a/b/c/Cache_Data");
        fs::create_directory_symlink(configHome + "/Slack", configHome + "/linked-app");
        // A cache inside a cache's own folder is no browser's.
        MakeChromiumCache(cacheHome + "/chromium/Default/Cache/Cache_Data/inner/Cache_Data");
        OpenUp();
        fs::permissions(cacheHome + "/locked", fs::perms::none);
    }
};

const char* const kExpected =
    "Brave Browser, Default | /.cache/BraveSoftware/Brave-Browser/Default/Cache/Cache_Data\n"
    "Chromium, Default | /.cache/chromium/Default/Cache/Cache_Data\n"
    "Google Chrome, Profile 1 | /.cache/google-chrome/Profile 1/Cache/Cache_Data\n"
    "Firefox, abcd.default-esr | /.cache/mozilla/firefox/abcd.default-esr/cache2\n"
    "Slack | /.config/Slack/Cache/Cache_Data\n"
    "Teams For Linux, work | /.config/teams-for-linux/Partitions/work/Cache/Cache_Data\n"
    "Vivaldi, Default | /.config/vivaldi/Default/Cache/Cache_Data\n"
    "Chromium (snap), Default | "
    "/snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data\n"
    "Firefox (snap), x1.default | /snap/firefox/common/.cache/mozilla/firefox/x1.default/cache2\n"
    "Chromium (Flatpak), Default | "
    "/.var/app/org.chromium.Chromium/cache/chromium/Default/Cache/Cache_Data\n";

TEST_F(CacheDiscoveryTest, FindsExactlyTheRealCachesInAStableOrder) {
    MakeHome();
    // As a user who may not read the locked folder: it is skipped, the rest is found.
    const bool matched = testsupport::RunUnprivileged([this] {
        const auto first = Describe(cache::DiscoverCaches(places), home);
        const auto second = Describe(cache::DiscoverCaches(places), home);
        if (first != kExpected || second != first) {
            std::fprintf(stderr, "found:\n%s\nthen:\n%s", first.c_str(), second.c_str());
            return false;
        }
        return true;
    });
    EXPECT_TRUE(matched);
}

TEST_F(CacheDiscoveryTest, FormatsAndFoldersAreTheOnesTheReaderTakes) {
    MakeChromiumCache(cacheHome + "/chromium/Default/Cache/Cache_Data");
    MakeFirefoxCache(cacheHome + "/mozilla/firefox/p.default/cache2");
    const auto found = cache::DiscoverCaches(places);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].format, cache::Format::Chromium);
    EXPECT_EQ(cache::ResolveCacheFolder(found[0].folder).format, cache::Format::Chromium);
    EXPECT_EQ(found[1].format, cache::Format::Firefox);
    EXPECT_EQ(cache::ResolveCacheFolder(found[1].folder).format, cache::Format::Firefox);
}

TEST_F(CacheDiscoveryTest, NothingWhereNothingIs) {
    EXPECT_TRUE(cache::DiscoverCaches(places).empty());  // no such folders
    EXPECT_TRUE(cache::DiscoverCaches({"", "", ""}).empty());
    fs::create_directories(cacheHome + "/fontconfig");
    fs::create_directories(configHome + "/dconf");
    fs::create_directories(home + "/snap/hello/common");  // a snap without a cache
    WriteFile(home + "/.var/app/file-not-folder", "x");
    EXPECT_TRUE(cache::DiscoverCaches(places).empty());
}

TEST_F(CacheDiscoveryTest, ACacheFolderInsideTheHomeIsFoundOnce) {
    const std::string snapCache = home + "/snap/chromium/common/.cache";
    MakeChromiumCache(snapCache + "/chromium/Default/Cache/Cache_Data");
    const auto found = cache::DiscoverCaches({snapCache, home, ""});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].label, "Chromium, Default");
}

TEST(CacheLabelTest, NamedAfterBrowserAndProfileAsFarAsThePathTells) {
    struct Case {
        cache::Format format;
        const char* relative;
        const char* sandbox;
        const char* label;
    };
    const Case cases[] = {
        {cache::Format::Chromium, "chromium/Default/Cache/Cache_Data", "", "Chromium, Default"},
        {cache::Format::Chromium, "google-chrome/Profile 1/Cache/Cache_Data", "",
         "Google Chrome, Profile 1"},
        {cache::Format::Chromium, "microsoft-edge-beta/Default/Cache/Cache_Data", "",
         "Microsoft Edge Beta, Default"},
        {cache::Format::Chromium, "vivaldi/Cache_Data", "", "Vivaldi"},
        {cache::Format::Chromium, "opera/Cache/Cache_Data", "", "Opera"},
        {cache::Format::Chromium, "Slack/Partitions/work/Cache/Cache_Data", "", "Slack, work"},
        {cache::Format::Chromium, "Cache_Data", "", "Chromium"},
        {cache::Format::Chromium, "chromium/Default/Cache/Cache_Data", "snap",
         "Chromium (snap), Default"},
        {cache::Format::Firefox, "mozilla/firefox/abcd.default-esr/cache2", "",
         "Firefox, abcd.default-esr"},
        {cache::Format::Firefox, "librewolf/x.default/cache2", "Flatpak",
         "Librewolf (Flatpak), x.default"},
        {cache::Format::Firefox, "cache2", "", "Firefox"},
        // Bytes beyond ASCII are kept as they are, never case-mapped.
        {cache::Format::Chromium, "\xc3\xa9t\xc3\xa9/Prof\xc3\xafl/Cache/Cache_Data", "",
         "\xc3\xa9t\xc3\xa9, Prof\xc3\xafl"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cache::CacheLabel(c.format, c.relative, c.sandbox), c.label) << c.relative;
    }
}

TEST(CacheDiscoveryPlacesTest, FollowTheEnvironment) {
    const char* savedCache = std::getenv("XDG_CACHE_HOME");
    const std::string saved = savedCache ? savedCache : "";
    ::setenv("XDG_CACHE_HOME", "/somewhere/cache", 1);
    EXPECT_EQ(cache::UserDiscoveryPlaces().cacheHome, "/somewhere/cache");
    ::setenv("XDG_CACHE_HOME", "relative/cache", 1);  // ignored, as the layout says
    EXPECT_EQ(cache::UserDiscoveryPlaces().cacheHome,
              cache::UserDiscoveryPlaces().home + "/.cache");
    if (savedCache) {
        ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CACHE_HOME");
    }
}

}  // namespace
