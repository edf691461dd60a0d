#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// What tells one version of a file from another without reading it: a file replaced,
// grown or rewritten since it was last seen differs in one of these.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t lastWriteTimeNs = 0;  // nanoseconds since 1970, UTC

    bool operator==(const FileIdentity&) const = default;
};

// A regular file opened for reading at any offset. Opening never blocks (a fifo or a
// device at the path is refused, not waited on) and never follows the file's contents
// anywhere: each read says where it reads. Reads at different offsets from several
// threads are safe; the object itself belongs to one owner.
class ReadOnlyFile {
  public:
    ReadOnlyFile() = default;
    // Opens `path` (a link to a regular file is followed). IsOpen() tells whether it
    // worked.
    explicit ReadOnlyFile(const std::string& path);
    // Opens `name` in the folder open as `directory`: a scan that opens thousands of
    // files of one folder walks their whole path once, not once each.
    ReadOnlyFile(int directory, const char* name);
    ~ReadOnlyFile();
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // Taken when the file was opened.
    const FileIdentity& Identity() const { return identity_; }
    std::int64_t Size() const { return identity_.size; }

    // Reads up to `length` bytes at `offset` into `buffer`, resuming after signals and
    // short reads: fewer bytes come back only at the end of the file. -1 on an error.
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) const;

    // The descriptor, for the few services that hand it on (copying ranges between
    // files); -1 when not open.
    int Descriptor() const { return fd_; }

  private:
    int fd_ = -1;
    FileIdentity identity_;
};

// The identity of the regular file at `path` (a link is followed) without opening it;
// false when there is none.
bool StatFile(const std::string& path, FileIdentity& identity);

}  // namespace platform
