#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ReadOnlyFile.h"

namespace platform {

// The longest path the system accepts, counting the terminating zero.
extern const std::size_t kMaxPath;

enum class EntryKind : unsigned char {
    File,       // a regular file, or a link that ends at one
    Directory,  // a real directory, never a link to one
    Other,      // links to directories, dangling links, fifos, sockets, devices
};

// One entry of a directory as the listing gives it.
struct DirectoryEntry {
    const char* name = nullptr;  // valid until the next call of Next
    std::size_t nameLength = 0;
    EntryKind kind = EntryKind::Other;
    // Size and last-write time are read for files only: a directory costs no stat.
    std::int64_t size = 0;
    std::int64_t lastWriteTime = 0;  // seconds since 1970, UTC
    // The rest of the file's identity (see ReadOnlyFile.h), from the same look-up: what
    // tells a file unchanged since it was last read without opening it.
    std::int64_t lastWriteTimeNs = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    // A name starting with "." is what a hidden attribute is elsewhere.
    bool IsHidden() const { return nameLength > 0 && name[0] == '.'; }
    // Neither a regular file nor a directory: nothing to play and nothing to descend.
    bool IsSystem() const { return kind == EntryKind::Other; }
};

// Lists one directory. "." and ".." are never returned. A listing that cannot be opened
// is simply empty. One listing belongs to one thread, but other threads may open
// subdirectories relative to it once it is no longer being read.
class DirectoryListing {
  public:
    DirectoryListing() = default;
    // Opens `path`; a link given here is followed, it is the caller's own choice.
    explicit DirectoryListing(const std::string& path);
    // Opens subdirectory `name` of `parent`; a link is never followed here.
    DirectoryListing(const DirectoryListing& parent, const char* name);
    ~DirectoryListing();
    DirectoryListing(DirectoryListing&& other) noexcept;
    DirectoryListing& operator=(DirectoryListing&& other) noexcept;
    DirectoryListing(const DirectoryListing&) = delete;
    DirectoryListing& operator=(const DirectoryListing&) = delete;

    bool IsOpen() const { return stream_ != nullptr; }

    // From now on files come with their kind only (size and time stay 0, and a file is
    // not looked at beyond what the listing itself says): a walk that wants folders pays
    // no stat per file.
    void SkipFileDetails() { fileDetails_ = false; }

    // Fills `entry` with the next entry; false at the end (or on a read error). Entries
    // that vanish between the listing and their stat are passed over.
    bool Next(DirectoryEntry& entry);

    // The size, time and identity of the file `name` in this folder, as Next gives them
    // (a link is followed to a regular file); false when it has gone or is no regular
    // file. Any thread may call it, several at once, while nobody calls Next: a listing
    // taken with SkipFileDetails can share its files' look-ups out this way.
    bool FileDetails(const char* name, DirectoryEntry& entry) const;

    // Opens the file `name` in this folder, under the same terms as FileDetails.
    ReadOnlyFile OpenFile(const char* name) const;

    // The folder's descriptor, for the few services that open many of its files in one
    // go; -1 when not open.
    int Descriptor() const;

  private:
    void* stream_ = nullptr;  // DIR*
    bool fileDetails_ = true;
};

// True when `path` is a directory (a link to one is followed: the user named it).
bool IsDirectory(const std::string& path);

// What a folder the user named turned out to be (a link to one is followed).
enum class FolderState : unsigned char {
    Readable,    // a folder that can be listed
    Missing,     // nothing there, or a path through something that is not a folder
    NotAFolder,  // a file or another kind of entry
    Unreadable,  // there, but we may not list it (or reach it)
};
FolderState ProbeFolder(const std::string& path);

}  // namespace platform
