#pragma once

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
    std::string error;  // the system's message, empty unless status is Failed
};

// Called after every chunk with the bytes copied so far and the source's size; returning
// false cancels the copy.
using CopyProgress = std::function<bool(std::int64_t copied, std::int64_t total)>;

// Copies the file `source` to `target`, both taken by their exact bytes. The data goes
// into a new temporary file beside the target that replaces the target by a rename only
// when every byte has been written and flushed, so an existing target is either replaced
// whole or left untouched, and a cancelled or failed copy leaves no trace. Nothing but the
// contents is carried over (the copy gets default permissions and a fresh time).
CopyResult CopyFile(const std::string& source, const std::string& target,
                    const CopyProgress& progress, std::size_t chunkSize = 1 << 20);

// True when both paths name one existing file (same device and inode), whatever links or
// spellings lead to it.
bool IsSameFile(const std::string& a, const std::string& b);

}  // namespace platform
