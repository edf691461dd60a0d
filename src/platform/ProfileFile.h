#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Profile (INI) files on disk: the reading and writing of single values, with the text
// rules of ProfileText.h. Every call reads the file afresh; nothing is cached.

enum class ProfileLookup {
    kFound,
    kNotFound,    // the file, the section or the key is missing
    kUnreadable,  // the file is there but cannot be read (no permission, not a file, ...)
};

// Files larger than this are treated as unreadable rather than loaded whole.
constexpr std::size_t kProfileMaxFileSize = 64u * 1024 * 1024;

ProfileLookup ReadProfileString(const std::string& path, std::string_view section,
                                std::string_view key, std::string* value);

// Sets one value and replaces the file atomically: the new contents go to a temporary
// file in the same folder, are flushed to disk and renamed over the old file, which keeps
// its permissions. A crash at any moment leaves the old or the new file, never a mixture.
// The first write creates the file. A link is written through to the file it names, which
// the first write creates when it does not exist yet. A file that cannot be read, or is
// read-only, is not replaced. Returns false on any failure, the old file left untouched,
// and for a value SetProfileValue refuses (a line break in it).
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

struct ProfileValue {
    std::string_view section;
    std::string_view key;
    std::string_view value;
};

// Sets several values with one replacement of the file, as WriteProfileString sets one:
// a reader sees all of them or none. A value SetProfileValue refuses is left out (the file
// keeps what it held for that key) and the others still go in. Returns true when every
// value was written; false when one was refused or the file could not be replaced (then
// nothing changed).
bool WriteProfileStrings(const std::string& path, const std::vector<ProfileValue>& values);

}  // namespace platform
