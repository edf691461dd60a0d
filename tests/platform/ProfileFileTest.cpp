#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

#include "platform/ProfileFile.h"
#include "support/Sanitizers.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

using platform::ProfileLookup;
using platform::ReadProfileString;
using platform::WriteProfileString;
using testsupport::ReadFile;
using testsupport::RunUnprivileged;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Everything in `folder` but `keep`: a write must leave no temporary file behind.
int StrayFiles(const std::string& folder, const std::string& keep) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        count += entry.path().filename() != keep;
    }
    return count;
}

// A folder that nobody (the unprivileged test user) may enter and write.
void OpenToEveryone(const TempDir& dir) {
    ::chmod(dir.path().c_str(), 0777);
}

TEST(ProfileFile, FirstWriteCreatesTheFileWithTheUsualMode) {
    TempDir dir;
    const std::string path = dir / "reelvault.ini";
    std::string value;
    EXPECT_EQ(ReadProfileString(path, "S", "k", &value), ProfileLookup::kNotFound);

    const mode_t oldMask = ::umask(022);
    EXPECT_TRUE(WriteProfileString(path, "S", "k", "v"));
    ::umask(oldMask);
    EXPECT_EQ(ReadFile(path), "[S]\nk=v\n");
    EXPECT_EQ(ModeOf(path), 0644u);
    EXPECT_EQ(ReadProfileString(path, "s", "K", &value), ProfileLookup::kFound);
    EXPECT_EQ(value, "v");
    EXPECT_EQ(StrayFiles(dir.path(), "reelvault.ini"), 0);
}

TEST(ProfileFile, WriteKeepsTheRestAndThePermissions) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    WriteFile(path, "; mine\r\n[Other]\r\nx = y\r\n\r\n[S]\r\nk=1\r\n");
    ::chmod(path.c_str(), 0640);
    EXPECT_TRUE(WriteProfileString(path, "S", "k", "2"));
    EXPECT_TRUE(WriteProfileString(path, "S", "j", "3"));
    EXPECT_EQ(ReadFile(path), "; mine\r\n[Other]\r\nx = y\r\n\r\n[S]\r\nk=2\r\nj=3\r\n");
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(StrayFiles(dir.path(), "a.ini"), 0);
}

TEST(ProfileFile, WriteThroughALinkUpdatesItsTarget) {
    TempDir dir;
    const std::string target = dir / "real.ini";
    const std::string link = dir / "link.ini";
    WriteFile(target, "[S]\nk=1\n");
    ASSERT_EQ(::symlink("real.ini", link.c_str()), 0);
    EXPECT_TRUE(WriteProfileString(link, "S", "k", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "[S]\nk=2\n");
}

// A dotfile link made before its target exists: the first write creates the target and
// the link stays, relative or absolute, through a chain of links too. A link that can
// lead nowhere (a loop, a missing folder) fails and is left as it was.
TEST(ProfileFile, DanglingLinkIsWrittenThroughToItsTarget) {
    TempDir dir;
    std::filesystem::create_directory(dir / "dotfiles");
    struct Case {
        const char* name;
        std::string link;
        std::string points;  // what the (first) link names
        std::string second;  // a second link in the chain, or empty
        std::string target;  // the file that must receive the value, or empty: failure
    };
    const Case cases[] = {
        {"relative", dir / "a.ini", "dotfiles/a.ini", "", dir / "dotfiles/a.ini"},
        {"absolute", dir / "b.ini", dir / "dotfiles/b.ini", "", dir / "dotfiles/b.ini"},
        {"chain", dir / "c.ini", "c2.ini", dir / "c2.ini", dir / "dotfiles/c.ini"},
        {"missing folder", dir / "d.ini", "nowhere/d.ini", "", ""},
        {"loop", dir / "e.ini", "e.ini", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(::symlink(c.points.c_str(), c.link.c_str()), 0);
        if (!c.second.empty()) {
            ASSERT_EQ(::symlink("dotfiles/c.ini", c.second.c_str()), 0);
        }
        EXPECT_EQ(WriteProfileString(c.link, "S", "k", "v"), !c.target.empty());
        EXPECT_TRUE(std::filesystem::is_symlink(c.link));
        if (!c.target.empty()) {
            EXPECT_EQ(ReadFile(c.target), "[S]\nk=v\n");
            EXPECT_TRUE(WriteProfileString(c.link, "S", "k", "w"));
            EXPECT_EQ(ReadFile(c.target), "[S]\nk=w\n");
            EXPECT_TRUE(std::filesystem::is_symlink(c.link));
        }
    }
    EXPECT_EQ(StrayFiles(dir.path(), "dotfiles"), 6);  // the links, nothing else
}

TEST(ProfileFile, DirectoryInPlaceOfTheFile) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    std::string value;
    EXPECT_EQ(ReadProfileString(path, "S", "k", &value), ProfileLookup::kUnreadable);
    EXPECT_FALSE(WriteProfileString(path, "S", "k", "v"));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(StrayFiles(dir.path(), "a.ini"), 0);
}

TEST(ProfileFile, FifoInPlaceOfTheFileDoesNotBlock) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    std::string value;
    EXPECT_EQ(ReadProfileString(path, "S", "k", &value), ProfileLookup::kUnreadable);
    EXPECT_FALSE(WriteProfileString(path, "S", "k", "v"));
}

TEST(ProfileFile, OversizedFileIsLeftAlone) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, platform::kProfileMaxFileSize + 1), 0);  // sparse, costs nothing
    ::close(fd);
    std::string value;
    EXPECT_EQ(ReadProfileString(path, "S", "k", &value), ProfileLookup::kUnreadable);
    EXPECT_FALSE(WriteProfileString(path, "S", "k", "v"));
    EXPECT_EQ(std::filesystem::file_size(path), platform::kProfileMaxFileSize + 1);
}

TEST(ProfileFile, UnreadableFileIsNeitherReadNorReplaced) {
    TempDir dir;
    OpenToEveryone(dir);
    const std::string path = dir / "a.ini";
    WriteFile(path, "[S]\nk=1\n");
    ::chmod(path.c_str(), 0222);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    EXPECT_TRUE(RunUnprivileged([&] {
        std::string value;
        return ReadProfileString(path, "S", "k", &value) == ProfileLookup::kUnreadable &&
               !WriteProfileString(path, "S", "k", "2");
    }));
    ::chmod(path.c_str(), 0644);
    EXPECT_EQ(ReadFile(path), "[S]\nk=1\n");
}

TEST(ProfileFile, ReadOnlyFileIsNotReplaced) {
    TempDir dir;
    OpenToEveryone(dir);
    const std::string path = dir / "a.ini";
    WriteFile(path, "[S]\nk=1\n");
    ::chmod(path.c_str(), 0444);
    EXPECT_TRUE(RunUnprivileged([&] { return !WriteProfileString(path, "S", "k", "2"); }));
    EXPECT_EQ(ReadFile(path), "[S]\nk=1\n");
}

TEST(ProfileFile, ReadOnlyFolderFailsCleanly) {
    TempDir dir;
    const std::string folder = dir / "ro";
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    OpenToEveryone(dir);
    const std::string path = folder + "/a.ini";
    WriteFile(path, "[S]\nk=1\n");
    ::chmod(path.c_str(), 0666);
    ::chmod(folder.c_str(), 0555);
    EXPECT_TRUE(RunUnprivileged([&] {
        std::string value;
        return !WriteProfileString(path, "S", "k", "2") &&
               !WriteProfileString(folder + "/new.ini", "S", "k", "2") &&
               ReadProfileString(path, "S", "k", &value) == ProfileLookup::kFound && value == "1";
    }));
    EXPECT_EQ(ReadFile(path), "[S]\nk=1\n");
    EXPECT_EQ(StrayFiles(folder, "a.ini"), 0);
}

TEST(ProfileFile, RandomBytesAndNulsSurviveAWrite) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    std::mt19937 random(7);
    std::string noise(64 * 1024, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random() % 4 == 0 ? 0 : random());
    }
    WriteFile(path, noise);
    std::string value;
    EXPECT_NE(ReadProfileString(path, "Fresh", "k", &value), ProfileLookup::kUnreadable);
    ASSERT_TRUE(WriteProfileString(path, "Fresh", "k", "v"));
    const std::string after = ReadFile(path);
    EXPECT_EQ(after.compare(0, noise.size(), noise), 0);
    EXPECT_EQ(ReadProfileString(path, "Fresh", "k", &value), ProfileLookup::kFound);
    EXPECT_EQ(value, "v");
}

TEST(ProfileFile, TenMegabyteLine) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    const std::string line(10 * 1024 * 1024, 'x');
    WriteFile(path, line);
    const auto start = std::chrono::steady_clock::now();
    std::string value;
    EXPECT_EQ(ReadProfileString(path, "S", "k", &value), ProfileLookup::kNotFound);
    ASSERT_TRUE(WriteProfileString(path, "S", "k", "v"));
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(5) * testsupport::kSanitizerSlowdown);
    EXPECT_EQ(ReadFile(path), line + "\n\n[S]\nk=v\n");
}

TEST(ProfileFile, UnchangedValueLeavesTheFileAlone) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    WriteFile(path, "[S]\nk=1\n");
    struct stat before {};
    ::stat(path.c_str(), &before);
    EXPECT_TRUE(WriteProfileString(path, "S", "k", "1"));
    struct stat after {};
    ::stat(path.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

}  // namespace
