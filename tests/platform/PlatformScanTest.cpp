#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/Collation.h"
#include "platform/DirectoryListing.h"
#include "platform/FileTime.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Runs a block with TZ set to UTC, so packed values can be written down exactly.
class UtcTime : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) {
            saved_ = tz;
            hadTz_ = true;
        }
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override {
        if (hadTz_) {
            ::setenv("TZ", saved_.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::string saved_;
    bool hadTz_ = false;
};

constexpr std::uint32_t Pack(unsigned year, unsigned month, unsigned day, unsigned hour,
                             unsigned minute, unsigned second) {
    return ((year - 1980) << 25) | (month << 21) | (day << 16) | (hour << 11) | (minute << 5) |
           (second / 2);
}

TEST_F(UtcTime, PacksAndClampsIntoTheDosRange) {
    const std::uint32_t first = Pack(1980, 1, 1, 0, 0, 0);
    const std::uint32_t last = Pack(2107, 12, 31, 23, 59, 58);
    struct Case {
        std::int64_t seconds;
        std::uint32_t packed;
    };
    const Case cases[] = {
        {0, first},                                    // 1970: before the format
        {315532799, first},                            // 1979-12-31 23:59:59
        {315532800, first},                            // 1980-01-01 00:00:00
        {1592222401, Pack(2020, 6, 15, 12, 0, 0)},     // 12:00:01 keeps the even second
        {2335219199, Pack(2043, 12, 31, 23, 59, 58)},  // the last year below the top bit
        {2335219200, Pack(2044, 1, 1, 0, 0, 0)},       // top bit set
        {4354819199, last},                            // 2107-12-31 23:59:59
        {4354819200, last},                            // 2108: after the format
        {-1, first},
        {INT64_MIN, first},
        {INT64_MAX, last},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::PackLocalDosDateTime(c.seconds), c.packed) << c.seconds;
    }
    EXPECT_GE(platform::PackLocalDosDateTime(2335219200), 0x80000000u);
}

TEST(DirectoryListing, ClassifiesEveryKindOfEntry) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "file", "12345");
    testsupport::WriteFile(dir / ".hidden", "1");
    fs::create_directory(dir / "sub");
    fs::create_symlink("file", dir / "to-file");
    fs::create_directory_symlink("sub", dir / "to-sub");
    fs::create_symlink("nowhere", dir / "dangling");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);

    using platform::EntryKind;
    const std::map<std::string, std::pair<EntryKind, bool>> expected = {
        {"file", {EntryKind::File, false}},     {".hidden", {EntryKind::File, true}},
        {"sub", {EntryKind::Directory, false}}, {"to-file", {EntryKind::File, false}},
        {"to-sub", {EntryKind::Other, false}},  {"dangling", {EntryKind::Other, false}},
        {"fifo", {EntryKind::Other, false}},
    };
    std::map<std::string, std::pair<EntryKind, bool>> seen;
    platform::DirectoryListing listing(dir.path());
    ASSERT_TRUE(listing.IsOpen());
    platform::DirectoryEntry entry;
    while (listing.Next(entry)) {
        const std::string name(entry.name, entry.nameLength);
        seen[name] = {entry.kind, entry.IsHidden()};
        if (entry.kind == EntryKind::File) {
            EXPECT_EQ(entry.size, name == ".hidden" ? 1 : 5) << name;
            EXPECT_GT(entry.lastWriteTime, 0) << name;
        }
    }
    EXPECT_EQ(seen, expected);

    // A subdirectory opens through its parent, but never through a link.
    EXPECT_TRUE(platform::DirectoryListing(listing, "sub").IsOpen());
    EXPECT_FALSE(platform::DirectoryListing(listing, "to-sub").IsOpen());
    EXPECT_FALSE(platform::DirectoryListing(dir / "missing").IsOpen());
}

TEST(Collation, KeysOrderAsTheComparisonDoes) {
    const char* texts[] = {"a",   "A",  "b", "B",     "ä",  "Äpfel", "Apfel",    "apfel",
                           "a b", "ab", "",  "z\xff", "10", "9",     "g_0001/x", "g_0001/X"};
    for (const char* locale : {"C", "en_US.UTF-8", "de_DE.UTF-8"}) {
        if (!platform::UseCollationLocale(locale)) {
            std::cout << "skipped " << locale << ": not installed (scripts/common.sh, "
                      << "rv_ensure_locales generates it)\n";
            continue;
        }
        for (const char* a : texts) {
            for (const char* b : texts) {
                char ka[512];
                char kb[512];
                ASSERT_LT(platform::CollationKey(a, ka, sizeof ka), sizeof ka);
                ASSERT_LT(platform::CollationKey(b, kb, sizeof kb), sizeof kb);
                const int byKey = std::strcmp(ka, kb);
                const int direct = platform::Collate(a, b);
                EXPECT_EQ(byKey < 0, direct < 0) << locale << ": " << a << " vs " << b;
                EXPECT_EQ(byKey > 0, direct > 0) << locale << ": " << a << " vs " << b;
            }
        }
        // Case-sensitive: texts that differ only in case never collate equal.
        EXPECT_NE(platform::Collate("apple", "Apple"), 0) << locale;
    }
    platform::UseCollationLocale("C");
}

}  // namespace
