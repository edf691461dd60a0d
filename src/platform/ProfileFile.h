#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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
// The first write creates the file. A file that cannot be read, or is read-only, is not
// replaced. Returns false on any failure, the old file left untouched.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace platform
