// What a folder the user named turned out to be, and the listing that skips the files'
// details: the same kinds, no sizes.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/DirectoryListing.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace fs = std::filesystem;

namespace {

TEST(FolderState, TellsMissingUnreadableAndNotAFolderFromReadable) {
    testsupport::TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    fs::create_directory(dir / "readable");
    fs::create_directory(dir / "locked");
    testsupport::WriteFile(dir / "file", "x");
    fs::create_directory_symlink("readable", dir / "link-to-folder");
    fs::create_symlink("gone", dir / "dangling");
    ::chmod((dir / "readable").c_str(), 0755);
    ::chmod((dir / "locked").c_str(), 0);
    fs::create_directory(dir / "closed");
    fs::create_directory(dir / "closed/inside");
    ::chmod((dir / "closed").c_str(), 0600);  // listed, but not passed through

    using platform::FolderState;
    const std::map<std::string, FolderState> expected = {
        {dir / "readable", FolderState::Readable},
        {dir / "link-to-folder", FolderState::Readable},  // the user named it: followed
        {dir / "missing", FolderState::Missing},
        {dir / "dangling", FolderState::Missing},
        {dir / "file/below", FolderState::Missing},
        {"", FolderState::Missing},
        {dir / "file", FolderState::NotAFolder},
        {dir / "locked", FolderState::Unreadable},
        {dir / "closed/inside", FolderState::Unreadable},
    };
    // As a user the permissions apply to.
    EXPECT_TRUE(testsupport::RunUnprivileged([&expected] {
        for (const auto& [path, state] : expected) {
            if (platform::ProbeFolder(path) != state) {
                std::fprintf(stderr, "%s: %d\n", path.c_str(),
                             static_cast<int>(platform::ProbeFolder(path)));
                return false;
            }
        }
        return true;
    }));
}

TEST(DirectoryListing, WithoutFileDetailsKeepsTheKinds) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "file", "12345");
    fs::create_directory(dir / "sub");
    fs::create_directory_symlink("sub", dir / "to-sub");
    fs::create_symlink("file", dir / "to-file");

    using platform::EntryKind;
    const std::map<std::string, EntryKind> expected = {{"file", EntryKind::File},
                                                       {"sub", EntryKind::Directory},
                                                       {"to-sub", EntryKind::Other},
                                                       {"to-file", EntryKind::File}};
    std::map<std::string, EntryKind> seen;
    platform::DirectoryListing listing(dir.path());
    listing.SkipFileDetails();
    platform::DirectoryEntry entry;
    while (listing.Next(entry)) {
        seen[std::string(entry.name, entry.nameLength)] = entry.kind;
        if (std::string(entry.name) == "file") {
            EXPECT_EQ(entry.size, 0) << "no stat was paid for it";
        }
    }
    EXPECT_EQ(seen, expected);
}

}  // namespace
