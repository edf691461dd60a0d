#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ReadOnlyFile.h"

namespace platform {

// A new file written at any offset: what is never written stays a hole (a sparse file
// where the file system has them) and reads as zeros.
class WritableFile {
  public:
    WritableFile() = default;
    // Creates `path`, which must not exist yet, readable and writable by its owner only.
    explicit WritableFile(const std::string& path);
    ~WritableFile();
    WritableFile(WritableFile&& other) noexcept;
    WritableFile& operator=(WritableFile&& other) noexcept;
    WritableFile(const WritableFile&) = delete;
    WritableFile& operator=(const WritableFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // Makes the file `size` bytes long without writing anything.
    bool SetSize(std::uint64_t size);
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t length);
    // Copies `length` bytes of `source` at `from` to `to` in this file, inside the kernel
    // (copy_file_range) where the system can, else through a buffer.
    bool CopyFrom(const ReadOnlyFile& source, std::uint64_t from, std::uint64_t to,
                  std::uint64_t length);
    // Flushes to the disk (for a file that must survive a crash).
    bool Sync();
    bool Close();

  private:
    int fd_ = -1;
};

// Removes the file at `path`; false when it could not (it may not exist).
bool RemoveFile(const std::string& path);

// Moves `from` to `to` in one step, replacing `to`.
bool RenameFile(const std::string& from, const std::string& to);

// This program's own process id, and whether another process still runs.
int CurrentProcessId();
bool ProcessIsAlive(int pid);

// A folder only this user can enter, for files the program makes for itself:
// $XDG_RUNTIME_DIR/reelvault, else $TMPDIR (or /tmp)/reelvault-<uid>. Made when missing;
// "" when it cannot be made or is not this user's own folder with no rights for others.
std::string PrivateTemporaryFolder();

}  // namespace platform
