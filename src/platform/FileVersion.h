#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// The version an executable carries in its own file: "a.b.c.d", each number in decimal
// without leading zeros. The empty text when the file has no version, cannot be read or
// is not an executable at all.
std::string GetFileVersion(const std::string& path);

// Reads exactly `size` bytes at `offset`; false when they are not all there.
using ReadAt = std::function<bool(std::uint64_t offset, void* buffer, std::size_t size)>;

// The version note of an ELF image of `fileSize` bytes reached through `read`. Every
// offset and size taken from the image is checked against the image before it is used.
std::string ParseFileVersion(const ReadAt& read, std::uint64_t fileSize);

// Where the build puts the version: a note section of this name, owner "Reelvault", type
// 1, four 32-bit numbers in the image's byte order.
inline constexpr const char* kVersionSectionName = ".note.reelvault.version";
inline constexpr const char* kVersionNoteOwner = "Reelvault";
inline constexpr std::uint32_t kVersionNoteType = 1;

}  // namespace platform
