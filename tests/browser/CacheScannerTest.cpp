#include "browser/CacheScanner.h"

#include "browser/BackgroundScan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Collation.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

// Creates `relative` below `root` (folders included) as a sparse file of `size` bytes.
void MakeFile(const std::string& root, const std::string& relative, std::uintmax_t size = 10) {
    const fs::path path = fs::path(root) / relative;
    fs::create_directories(path.parent_path());
    testsupport::WriteFile(path.string(), "");
    fs::resize_file(path, size);
}

// The found files relative to `root`, which every path must begin with.
std::set<std::string> Found(const CacheScanner& scanner, const std::string& root) {
    std::set<std::string> names;
    for (const auto& e : scanner.entries) {
        EXPECT_EQ(e.fileName.rfind(root + "/", 0), 0u) << e.fileName;
        names.insert(e.fileName.substr(root.size() + 1));
    }
    return names;
}

std::set<std::string> Scan(const std::string& dir, std::int32_t minimalKB, bool onlyG,
                           const std::string& root) {
    CacheScanner scanner;
    scanner.SetOptions(dir, minimalKB, onlyG);
    scanner.Rescan();
    return Found(scanner, root);
}

// A cache laid out to tell every rule of the top level apart.
class CacheTree : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name :
             {"top.bin", "g_file", "g_0001/a", "g_0001/.hidden", "g_0001/deep/er/x",
              "g_0001/Sub Dir/y", "g_/b", "g_backup/c", "G_0001/d", "cache_g_1/e", ".g_x/f"}) {
            MakeFile(dir.path(), name);
        }
        // A link to a g_ folder is not a folder of the cache and is never entered.
        fs::create_directory_symlink("g_0001", dir / "g_link");
    }
    TempDir dir;
};

TEST_F(CacheTree, TopLevelRulesWithAndWithoutTrailingSeparator) {
    const std::set<std::string> gOnly = {"g_0001/a",         "g_0001/.hidden", "g_0001/deep/er/x",
                                         "g_0001/Sub Dir/y", "g_/b",           "g_backup/c"};
    std::set<std::string> everything = gOnly;
    everything.insert({"top.bin", "g_file", "G_0001/d", "cache_g_1/e", ".g_x/f"});
    struct Case {
        std::string suffix;
        bool onlyG;
        const std::set<std::string>& expected;
    };
    for (const Case& c : {Case{"", true, gOnly}, Case{"/", true, gOnly},
                          Case{"", false, everything}, Case{"/", false, everything}}) {
        EXPECT_EQ(Scan(dir.path() + c.suffix, 0, c.onlyG, dir.path()), c.expected)
            << "suffix '" << c.suffix << "' onlyG " << c.onlyG;
    }
}

TEST_F(CacheTree, MissingOrEmptyDirectoryGivesNothing) {
    CacheScanner scanner;
    scanner.entries.push_back({"stale", 1, 1});
    scanner.SetOptions("", 0, false);
    scanner.Rescan();
    EXPECT_TRUE(scanner.entries.empty());
    scanner.SetOptions(dir / "missing", 0, false);
    scanner.Rescan();
    EXPECT_TRUE(scanner.entries.empty());
}

TEST(CacheScanner, MinimalSizeIsInclusiveAndZeroOrNegativeListsAll) {
    TempDir dir;
    MakeFile(dir.path(), "g_1/exact", 307200);
    MakeFile(dir.path(), "g_1/short", 307199);
    MakeFile(dir.path(), "g_1/empty", 0);
    const std::set<std::string> all = {"g_1/exact", "g_1/short", "g_1/empty"};
    EXPECT_EQ(Scan(dir.path(), 300, true, dir.path()), std::set<std::string>{"g_1/exact"});
    EXPECT_EQ(Scan(dir.path(), 0, true, dir.path()), all);
    EXPECT_EQ(Scan(dir.path(), -5, true, dir.path()), all);

    CacheScanner scanner;
    scanner.SetOptions(dir.path(), INT32_MAX, true);
    EXPECT_EQ(scanner.minimalFileSize, std::int64_t{INT32_MAX} * 1024);
    scanner.Rescan();
    EXPECT_TRUE(scanner.entries.empty());
}

TEST(CacheScanner, LengthLimitSkipsOnlyTheLongSubtree) {
    TempDir dir;
    // Folders of up to 200 characters until the limit is one more folder away.
    std::string deep = dir.path();
    const std::size_t parentLength = platform::kMaxPath - 200;
    while (deep.size() < parentLength) {
        deep += "/" + std::string(std::min<std::size_t>(200, parentLength - deep.size() - 1), 'd');
        fs::create_directory(deep);
    }
    // A child is scanned while its path (parent + "/" + name) stays within the limit
    // less the "/*.*" of its own pattern and that pattern's zero.
    const std::size_t longestChild = platform::kMaxPath - 1 - 4;
    const std::string fits(longestChild - deep.size() - 1, 'a');
    const std::string over(longestChild - deep.size(), 'b');
    MakeFile(deep, fits + "/f");
    MakeFile(deep, over + "/f");
    MakeFile(deep, "sibling/f");
    const std::string rel = deep.substr(dir.path().size() + 1) + "/";
    EXPECT_EQ(Scan(dir.path(), 0, false, dir.path()),
              (std::set<std::string>{rel + fits + "/f", rel + "sibling/f"}));
}

TEST(CacheScanner, TimestampHasTwoSecondResolution) {
    TempDir dir;
    MakeFile(dir.path(), "g_1/noon");
    std::tm noon{};
    noon.tm_year = 2020 - 1900;
    noon.tm_mon = 5;
    noon.tm_mday = 15;
    noon.tm_hour = 12;
    noon.tm_sec = 1;
    noon.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&noon), 0}, {std::mktime(&noon), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "g_1/noon").c_str(), times, 0), 0);
    CacheScanner scanner;
    scanner.SetOptions(dir.path(), 0, true);
    scanner.Rescan();
    ASSERT_EQ(scanner.entries.size(), 1u);
    EXPECT_EQ(static_cast<std::uint32_t>(scanner.entries[0].timestamp),
              (40u << 25) | (6u << 21) | (15u << 16) | (12u << 11));
}

TEST(CacheScanner, OnlyRegularFilesAndLinksEndingAtThem) {
    TempDir dir;
    MakeFile(dir.path(), "g_1/real", 500);
    MakeFile(dir.path(), "target", 700);
    fs::create_symlink("../target", dir / "g_1/to-file");
    fs::create_symlink("missing", dir / "g_1/dangling");
    fs::create_directory_symlink("..", dir / "g_1/loop");
    fs::create_directory_symlink("../g_1", dir / "g_1/self");
    ASSERT_EQ(::mkfifo((dir / "g_1/pipe").c_str(), 0600), 0);
    const std::string latin1 = "caf\xe9 \xff.bin";  // not UTF-8: kept byte for byte
    MakeFile(dir.path(), "g_1/" + latin1, 600);

    CacheScanner scanner;
    scanner.SetOptions(dir.path(), 0, false);
    scanner.order.sortColumn = 1;
    scanner.Rescan();
    EXPECT_EQ(Found(scanner, dir.path()),
              (std::set<std::string>{"g_1/real", "target", "g_1/to-file", "g_1/" + latin1}));
    // The link reports what it points at.
    ASSERT_EQ(scanner.entries.size(), 4u);
    EXPECT_EQ(scanner.entries[0].size, 700);
    EXPECT_EQ(scanner.entries[1].size, 700);
}

TEST(CacheScanner, UnreadableSubdirectoryContributesNothing) {
    TempDir dir;
    MakeFile(dir.path(), "g_1/open");
    MakeFile(dir.path(), "g_1/locked/hidden");
    fs::permissions(dir / "g_1/locked", fs::perms::none);
    const std::set<std::string> expected = {"g_1/open"};
    if (::geteuid() != 0) {
        EXPECT_EQ(Scan(dir.path(), 0, true, dir.path()), expected);
        return;
    }
    // Permissions do not stop root: scan as "nobody" in a child process instead.
    fs::permissions(dir.path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(!dropped ? 2 : Scan(dir.path(), 0, true, dir.path()) == expected ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) {
        GTEST_SKIP() << "running as root and cannot switch to an unprivileged user";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the locked folder was listed, or the open one not";
}

// Entries for the sort tests, more than a sort handles by simple insertion: names that
// share a long prefix (so their sort keys do too) and differ only far behind it, and,
// with `stray`, names elsewhere whose keys share less and differ only early.
std::vector<OperaCacheEntry> SortSample(bool stray) {
    const std::string prefix = "/home/user/.opera/cache/g_00";
    const std::string far = "/longer name than all the rest";
    std::vector<std::string> names;
    for (const char* dir : {"b", "a", "B", "A", "c", "C", "ä", "z"}) {
        names.push_back(prefix + dir + far + "!");
        names.push_back(prefix + dir + far);
        names.push_back(prefix + dir + "/x");
    }
    if (stray) {
        names.insert(names.begin() + 3, "/tmp/a" + std::string(40, 'z'));
        names.insert(names.begin() + 5, "/tmp/b" + std::string(40, 'a'));
    }
    const std::uint32_t packed[] = {0x50000000u, 0x80210000u, 0x7FFFFFFFu, 0xFF9FBF7Du,
                                    0x00210000u};
    std::vector<OperaCacheEntry> entries;
    std::int64_t size = 1;
    for (std::size_t i = 0; i < names.size(); ++i) {
        size = size * 7919 % 1000003 + (i % 3 == 0 ? std::int64_t{1} << 40 : 0);
        entries.push_back(
            {names[i], size, static_cast<std::int32_t>(packed[i % std::size(packed)])});
    }
    return entries;
}

TEST(CacheScanner, SortEntriesOrdersByEveryColumnAndDirection) {
    const bool utf8 = platform::UseCollationLocale("en_US.UTF-8");
    for (int variant = 0; variant < 6; ++variant) {
        const std::int32_t column = variant / 2;
        const bool ascending = variant % 2 == 1;
        for (bool stray : {false, true}) {
            CacheScanner scanner;
            scanner.entries = SortSample(stray);
            scanner.order = {column, ascending};
            scanner.SortEntries();
            EXPECT_EQ(scanner.entries.size(), SortSample(stray).size());
            EXPECT_TRUE(std::is_sorted(
                scanner.entries.begin(), scanner.entries.end(),
                [&](const auto& a, const auto& b) { return CompareEntries(a, b, scanner.order); }))
                << "column " << column << " ascending " << ascending << " stray " << stray
                << " utf8 " << utf8;
        }
    }
    platform::UseCollationLocale("C");
}

TEST(CacheScanner, TimestampsFrom2044SortAfterEarlierOnes) {
    const OperaCacheEntry y2043{"a", 1, static_cast<std::int32_t>(63u << 25 | 1u << 21 | 1u << 16)};
    const OperaCacheEntry y2044{"b", 1, static_cast<std::int32_t>(64u << 25 | 1u << 21 | 1u << 16)};
    EXPECT_TRUE(CompareEntries(y2043, y2044, {2, true}));
    EXPECT_TRUE(CompareEntries(y2044, y2043, {2, false}));
    CacheScanner scanner;
    scanner.entries = {y2044, y2043};
    scanner.order = {2, true};
    scanner.SortEntries();
    EXPECT_EQ(scanner.entries[0].fileName, "a");
}

TEST(CacheScanner, NamesSortByTheLocaleCaseSensitively) {
    struct Case {
        const char* locale;
        std::vector<std::string> ascending;
    };
    const Case cases[] = {
        {"en_US.UTF-8", {"/c/apple", "/c/Apple", "/c/banana", "/c/Banana"}},
        {"de_DE.UTF-8", {"/c/Apfel", "/c/Äpfel", "/c/Zebra", "/c/zz"}},
        // A name whose sort key fills the compared window exactly, and longer names
        // with it as their prefix.
        {"C",
         {"/" + std::string(27, 'm'), "/" + std::string(27, 'm') + "a",
          "/" + std::string(27, 'm') + "b", "/x"}},
    };
    for (const Case& c : cases) {
        if (!platform::UseCollationLocale(c.locale)) {
            std::cout << "skipped " << c.locale << ": not installed (scripts/common.sh, "
                      << "rv_ensure_locales generates it)\n";
            continue;
        }
        CacheScanner scanner;
        for (auto it = c.ascending.rbegin(); it != c.ascending.rend(); ++it) {
            scanner.entries.push_back({*it, 1, 1});
        }
        std::swap(scanner.entries[0], scanner.entries[2]);
        for (bool ascending : {true, false}) {
            scanner.order = {0, ascending};
            scanner.SortEntries();
            std::vector<std::string> names;
            for (const auto& e : scanner.entries) {
                names.push_back(e.fileName);
            }
            std::vector<std::string> expected = c.ascending;
            if (!ascending) {
                std::reverse(expected.begin(), expected.end());
            }
            EXPECT_EQ(names, expected) << c.locale;
        }
    }
    platform::UseCollationLocale("C");
}

TEST(CacheScanner, PatternsKeepTheSeparatorArithmetic) {
    EXPECT_EQ(TopLevelPattern("/cache"), "/cache/*.*");
    EXPECT_EQ(TopLevelPattern("/cache/"), "/cache/*.*");
    EXPECT_EQ(SubdirectoryPattern("/cache/*.*", "g_0001"), "/cache/g_0001/*.*");
    EXPECT_EQ(PatternDirectory("/cache/g_0001/*.*"), "/cache/g_0001");
    EXPECT_EQ(PatternDirectory("/*.*"), "");
}

TEST(CacheScanner, PathLimitCountsTheSeparatorAndTheZeroWithoutWrapping) {
    const std::size_t limit = platform::kMaxPath;
    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    struct Case {
        std::size_t patternLength;
        std::size_t nameLength;
        bool fits;
    } cases[] = {
        {limit - 3, 1, true},  // pattern, "/", name and the zero fill the buffer exactly
        {limit - 2, 1, false}, {0, limit - 2, true},
        {0, limit - 1, false}, {huge, 1, false},  // sums that wrap around must not look short
        {1, huge, false},      {huge / 2 + 1, huge / 2 + 1, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FitsPathLimit(c.patternLength, c.nameLength), c.fits)
            << c.patternLength << " + " << c.nameLength;
    }
}

}  // namespace

// A scan on the worker: a second request overtakes the first, and only its listing is
// handed over, whole, once; a scan told to stop lists nothing.
TEST(BackgroundScanTest, OnlyTheLastRequestsListingIsHandedOver) {
    TempDir first, second;
    for (const char* name : {"g_0001/a", "g_0001/b", "g_0002/c"}) {
        MakeFile(first.path(), name);
    }
    MakeFile(second.path(), "g_0001/d");
    std::atomic<int> finished{0};
    BackgroundScan scans([&finished] { ++finished; });
    scans.Start({first.path(), 0, true, {}});
    SortOrder bySize;
    bySize.sortColumn = kColumnSize;
    scans.Start({second.path(), 0, true, bySize});
    EXPECT_TRUE(scans.Busy());
    CacheScanner::Listing listing;
    SortOrder order;
    for (int tries = 0; tries < 1000 && !scans.Take(listing, order); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CacheScanner shown;
    shown.Adopt(std::move(listing));
    EXPECT_EQ(Found(shown, second.path()), (std::set<std::string>{"g_0001/d"}));
    EXPECT_EQ(order.sortColumn, kColumnSize);
    EXPECT_GE(finished.load(), 1);
    EXPECT_FALSE(scans.Busy());
    EXPECT_FALSE(scans.Take(listing, order));

    ScanControl control;
    control.stop = true;
    CacheScanner stopped;
    stopped.control = &control;
    stopped.SetOptions(first.path(), 0, true);
    stopped.Rescan();
    EXPECT_TRUE(stopped.entries.empty());
}
