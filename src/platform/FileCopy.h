#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

enum class CopyStatus {
    Copied,     // the target now holds a full copy of the source
    Cancelled,  // the progress callback asked to stop; no target was written
    SameFile,   // source and target are one file (same path or same inode); nothing done
    Failed,     // an error; no target was written, `error` says why
};

struct CopyResult {
    CopyStatus status = CopyStatus::Failed;
    std::string error;  // why, in words (the system's message where it has one); empty
                        // unless status is Failed
};

// Called after every chunk with the bytes copied so far and the source's size, and again
// every few tens of milliseconds (with copied == total) while the finished copy is flushed
// to disk; returning false cancels the copy.
using CopyProgress = std::function<bool(std::int64_t copied, std::int64_t total)>;

// Where the bytes of a copy come from: reads up to `length` bytes at `offset` into
// `buffer`, fewer only at the end of the data; -1 on an error, with errno set.
using CopySource =
    std::function<std::int64_t(std::uint64_t offset, void* buffer, std::size_t length)>;

// Copies the file `source` to `target`, both taken by their exact bytes, as CopyToFile
// writes. Only a regular file is copied (opening one never blocks: a fifo put in its
// place is refused, not waited on). Exactly the source's size at the start is copied: a
// source that becomes shorter during the copy fails like any other error.
CopyResult CopyFile(const std::string& source, const std::string& target,
                    const CopyProgress& progress, std::size_t chunkSize = 1 << 18);

// Writes `size` bytes of `source` to `target` (taken by its exact bytes). The data goes
// into a new temporary file beside the target that replaces the target by a rename only
// when every byte has been written and flushed, so an existing target is either replaced
// whole or left untouched, and a cancelled or failed copy leaves no trace. A target that
// is a symbolic link is written through, as cp does: the file it names (created when the
// link dangles) is replaced that way and the link stays. A source that gives fewer than
// `size` bytes fails. The data reaches the disk as it is written, a few chunks behind, so
// on a slow device no call takes much longer than a chunk's worth of the device's time and
// a cancel is seen soon; the final flush runs on a thread of its own while the caller's
// progress keeps being called. Nothing but the contents is carried over (the copy gets
// default permissions and a fresh time).
CopyResult CopyToFile(const CopySource& source, std::int64_t size, const std::string& target,
                      const CopyProgress& progress, std::size_t chunkSize = 1 << 18);

// Makes `target` by `write`, which creates a new file at the path it is given (a hidden
// name beside the target) and fills it, returning Copied, or Cancelled or Failed having
// left nothing behind. The file then replaces the target by CopyToFile's rules: links
// written through, the data flushed (with `progress` called meanwhile) before the rename,
// nothing left on a failure or cancel. For data a library writes to a file of its own,
// so that it is written once, in the target's folder.
CopyResult WriteInPlace(const std::string& target,
                        const std::function<CopyResult(const std::string& path)>& write,
                        const CopyProgress& progress);

// True when both paths name one existing file (same device and inode), whatever links or
// spellings lead to it.
bool IsSameFile(const std::string& a, const std::string& b);

}  // namespace platform
