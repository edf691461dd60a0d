#include "platform/FileCopy.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <filesystem>

#include "support/SlowDisk.h"
#include "support/TempDir.h"

namespace {

using platform::CopyFile;
using platform::CopyStatus;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

std::size_t EntriesIn(const std::string& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

std::string Bytes(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>(i * 7 + i / 251);
    }
    return data;
}

TEST(FileCopy, CopiesInChunksAndReportsProgress) {
    TempDir dir;
    const std::string data = Bytes(10000);
    WriteFile(dir / "source", data);
    std::vector<std::int64_t> seen;
    const auto result = CopyFile(
        dir / "source", dir / "target",
        [&](std::int64_t copied, std::int64_t total) {
            EXPECT_EQ(total, 10000);
            seen.push_back(copied);
            return true;
        },
        4096);
    EXPECT_EQ(result.status, CopyStatus::Copied);
    EXPECT_EQ(ReadFile(dir / "target"), data);
    // A slow flush at the end may report the finished count again.
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(std::vector<std::int64_t>(seen.begin(), seen.begin() + 3),
              (std::vector<std::int64_t>{4096, 8192, 10000}));
    EXPECT_TRUE(std::all_of(seen.begin() + 3, seen.end(), [](auto n) { return n == 10000; }));
    EXPECT_EQ(EntriesIn(dir.path()), 2u) << "no temporary file may be left behind";
}

TEST(FileCopy, EmptyFileAndReplacedTarget) {
    TempDir dir;
    WriteFile(dir / "empty", "");
    WriteFile(dir / "target", "old contents");
    EXPECT_EQ(CopyFile(dir / "empty", dir / "target", nullptr).status, CopyStatus::Copied);
    EXPECT_EQ(ReadFile(dir / "target"), "");
}

TEST(FileCopy, CancelLeavesNoFileAndKeepsAnExistingTarget) {
    TempDir dir;
    WriteFile(dir / "source", Bytes(50000));
    int calls = 0;
    auto cancelSecond = [&](std::int64_t, std::int64_t) { return ++calls < 2; };

    EXPECT_EQ(CopyFile(dir / "source", dir / "new", cancelSecond, 1000).status,
              CopyStatus::Cancelled);
    EXPECT_FALSE(std::filesystem::exists(dir / "new"));
    EXPECT_EQ(EntriesIn(dir.path()), 1u);

    calls = 0;
    WriteFile(dir / "kept", "precious");
    EXPECT_EQ(CopyFile(dir / "source", dir / "kept", cancelSecond, 1000).status,
              CopyStatus::Cancelled);
    EXPECT_EQ(ReadFile(dir / "kept"), "precious");
    EXPECT_EQ(EntriesIn(dir.path()), 2u);
}

TEST(FileCopy, RefusesToCopyAFileOntoItself) {
    TempDir dir;
    std::filesystem::create_directory(dir / "other");
    WriteFile(dir / "source", "data");
    ASSERT_EQ(::link((dir / "source").c_str(), (dir / "other/link").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "source").c_str(), (dir / "other/symlink").c_str()), 0);

    for (const std::string& target :
         {dir / "source", dir / "other/../source", dir / "other/link", dir / "other/symlink"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(CopyFile(dir / "source", target, nullptr).status, CopyStatus::SameFile);
        EXPECT_EQ(ReadFile(dir / "source"), "data");
    }
    EXPECT_EQ(EntriesIn(dir / "other"), 2u);
    EXPECT_TRUE(platform::IsSameFile(dir / "source", dir / "other/link"));
    EXPECT_FALSE(platform::IsSameFile(dir / "source", dir / "missing"));
}

TEST(FileCopy, FailuresLeaveNothingAndSayWhy) {
    TempDir dir;
    WriteFile(dir / "source", "data");
    std::filesystem::create_directory(dir / "folder");

    struct Case {
        std::string source, target;
    };
    for (const auto& c : {Case{dir / "missing", dir / "t1"}, Case{dir / "source", dir / "no/t2"},
                          Case{dir / "folder", dir / "t3"}, Case{dir / "source", dir / "folder"}}) {
        SCOPED_TRACE(c.source + " -> " + c.target);
        const auto result = CopyFile(c.source, c.target, nullptr);
        EXPECT_EQ(result.status, CopyStatus::Failed);
        EXPECT_FALSE(result.error.empty());
    }
    EXPECT_EQ(EntriesIn(dir.path()), 2u);
    EXPECT_EQ(EntriesIn(dir / "folder"), 0u);
}

// A copy onto a symbolic link goes through it to the file it names, as cp does: the link
// stays a link, and the new file is made in the real file's folder. A dangling link gets
// the file it names.
TEST(FileCopy, CopiesThroughSymbolicLinks) {
    struct Case {
        const char* name;
        bool absolute;
        const char* link;  // what links/target holds; links/hop names real/file
        const char* real;
        std::size_t realEntries;
    };
    const Case cases[] = {
        {"relative link", false, "../real/file", "real/file", 1},
        {"absolute link", true, "real/file", "real/file", 1},
        {"link to a link", false, "hop", "real/file", 1},
        {"dangling link", false, "../real/new", "real/new", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::filesystem::create_directory(dir / "links");
        std::filesystem::create_directory(dir / "real");
        WriteFile(dir / "source", Bytes(5000));
        WriteFile(dir / "real/file", "old");
        const std::string link = c.absolute ? dir / c.link : std::string(c.link);
        ASSERT_EQ(::symlink(link.c_str(), (dir / "links/target").c_str()), 0);
        ASSERT_EQ(::symlink("../real/file", (dir / "links/hop").c_str()), 0);
        bool partBesideTheRealFile = true;
        const auto result = CopyFile(
            dir / "source", dir / "links/target",
            [&](std::int64_t, std::int64_t) {
                partBesideTheRealFile = partBesideTheRealFile && EntriesIn(dir / "links") == 2 &&
                                        EntriesIn(dir / "real") == 2;
                return true;
            },
            1000);
        EXPECT_EQ(result.status, CopyStatus::Copied) << result.error;
        EXPECT_TRUE(partBesideTheRealFile);
        EXPECT_TRUE(std::filesystem::is_symlink(dir / "links/target"));
        EXPECT_EQ(std::filesystem::read_symlink(dir / "links/target"), link);
        EXPECT_EQ(ReadFile(dir / c.real), Bytes(5000));
        EXPECT_EQ(EntriesIn(dir / "real"), c.realEntries);
    }
}

TEST(FileCopy, NamesThatAreNotUtf8AreUsedByTheirBytes) {
    TempDir dir;
    const std::string source = dir / "vid\xff\xfe\x80.flv";
    const std::string target = dir / "copy\xe9.flv";
    WriteFile(source, "bytes");
    EXPECT_EQ(CopyFile(source, target, nullptr).status, CopyStatus::Copied);
    EXPECT_EQ(ReadFile(target), "bytes");
}

// A source that shrinks while it is copied (a cache entry being evicted or rewritten) is
// no copy: it fails like any other error, an existing target stays, nothing is left. One
// that grows is copied as it was when the copy began.
TEST(FileCopy, SourceThatChangesSizeDuringTheCopy) {
    struct Case {
        const char* name;
        off_t newSize;  // set after the second chunk
        CopyStatus status;
    };
    const Case cases[] = {
        {"shrinks", 20000, CopyStatus::Failed},
        {"emptied", 0, CopyStatus::Failed},
        {"shrinks to the bytes already read", 2000, CopyStatus::Failed},
        {"grows", 90000, CopyStatus::Copied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string data = Bytes(50000);
        WriteFile(dir / "source", data);
        WriteFile(dir / "target", "precious");
        int chunks = 0;
        const auto result = CopyFile(
            dir / "source", dir / "target",
            [&](std::int64_t, std::int64_t) {
                if (++chunks == 2) {
                    EXPECT_EQ(::truncate((dir / "source").c_str(), c.newSize), 0);
                }
                return true;
            },
            1000);
        EXPECT_EQ(result.status, c.status);
        if (c.status == CopyStatus::Failed) {
            EXPECT_FALSE(result.error.empty());
            EXPECT_EQ(ReadFile(dir / "target"), "precious");
        } else {
            EXPECT_EQ(ReadFile(dir / "target"), data);
        }
        EXPECT_EQ(EntriesIn(dir.path()), 2u) << "no temporary file may be left behind";
    }
}

// A fifo put where the source was would hold the caller in open() for ever.
TEST(FileCopy, SourceThatIsNoRegularFileIsRefusedAtOnce) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    const auto result = CopyFile(dir / "fifo", dir / "target", nullptr);
    EXPECT_EQ(result.status, CopyStatus::Failed);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

// The final flush of a slow device runs while the caller's progress keeps being called
// (its window stays alive); a cancel then waits for the flush and leaves nothing.
TEST(FileCopy, SlowFlushKeepsReportingAndCanBeCancelled) {
    TempDir dir;
    WriteFile(dir / "source", Bytes(10000));
    WriteFile(dir / "kept", "precious");
    testsupport::slowFlushMs = 600;
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled during the flush" : "copied");
        const int flushesBefore = testsupport::flushesStarted.load();
        int duringFlush = 0;
        const auto result =
            CopyFile(dir / "source", dir / "kept", [&](std::int64_t copied, std::int64_t total) {
                if (testsupport::flushesStarted.load() == flushesBefore) {
                    return true;
                }
                EXPECT_EQ(copied, total);
                ++duringFlush;
                return !cancel;
            });
        EXPECT_GE(duringFlush, cancel ? 1 : 5) << "calls while the flush ran";
        if (cancel) {
            EXPECT_EQ(result.status, CopyStatus::Cancelled);
            EXPECT_EQ(duringFlush, 1) << "asked once, then the flush is waited for";
            EXPECT_EQ(ReadFile(dir / "kept"), Bytes(10000)) << "from the first round";
        } else {
            EXPECT_EQ(result.status, CopyStatus::Copied);
            EXPECT_EQ(ReadFile(dir / "kept"), Bytes(10000));
        }
        EXPECT_EQ(EntriesIn(dir.path()), 2u);
    }
    testsupport::slowFlushMs = 0;
}

// Data a writer puts in a file of its own (a join) lands as a copy does: the target, or
// the file its link names, is replaced only by a whole file; whatever else the writer
// says or leaves, the old target stays and no other file is left in the folder.
TEST(FileCopy, WriteInPlaceReplacesOnlyWithWhatTheWriterFinished) {
    struct Case {
        const char* name;
        CopyStatus said;
        bool makesFile;
        CopyStatus result;
    };
    const Case cases[] = {
        {"written", CopyStatus::Copied, true, CopyStatus::Copied},
        {"failed halfway", CopyStatus::Failed, true, CopyStatus::Failed},
        {"cancelled", CopyStatus::Cancelled, false, CopyStatus::Cancelled},
        {"says written, made nothing", CopyStatus::Copied, false, CopyStatus::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir / "kept", "precious");
        std::filesystem::create_symlink("kept", dir / "link");
        const auto result = platform::WriteInPlace(
            dir / "link",
            [&](const std::string& path) {
                EXPECT_EQ(std::filesystem::path(path).parent_path(), dir.path());
                if (c.makesFile) {
                    WriteFile(path, "joined");
                }
                return platform::CopyResult{c.said, {}};
            },
            {});
        EXPECT_EQ(result.status, c.result);
        EXPECT_EQ(ReadFile(dir / "kept"), c.result == CopyStatus::Copied ? "joined" : "precious");
        EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
        EXPECT_EQ(EntriesIn(dir.path()), 2u);
    }
}

}  // namespace
