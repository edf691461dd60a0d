#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Small files read and written whole: caches and indexes the program keeps for itself.

// Reads the regular file at `path` into `contents` when it holds at most `maxSize` bytes.
// A fifo or device in its place is refused without waiting on it. False (and `contents`
// empty) when the file is missing, unreadable, not a regular file or too big.
bool ReadWholeFile(const std::string& path, std::size_t maxSize, std::string& contents);

enum class Durability {
    kFlushed,  // on the disk before the rename: a crash leaves the old or the new file
    kCache,    // not flushed: after a crash the file may be cut short, so its reader must
               // check it; for files that can always be made again
};

// Replaces (or creates) `path` atomically with `contents`: they are written to a temporary
// file in the same folder that is then renamed over `path`, so a reader never sees half
// a file. A new file gets `mode` less the umask. False on any failure, `path` untouched.
bool ReplaceWholeFile(const std::string& path, std::string_view contents, unsigned mode,
                      Durability durability);

}  // namespace platform
