#pragma once

#include <cstddef>

namespace platform {

// Takes the user's locale from the environment for every category; the program does
// this once at start, before any collation.
bool UseUserLocale();

// Switches the collation alone to the named locale; false when it is not installed.
bool UseCollationLocale(const char* name);

// Orders two texts as the current collation does: negative, zero or positive.
// Case-sensitive: texts that differ only in case still compare unequal.
int Collate(const char* a, const char* b);

// Writes the sort key of `text` into `key` (at most `capacity` bytes with its zero) and
// returns its length without the zero. When the result is `capacity` or more, `key`
// holds nothing useful: call again with more room. Comparing two keys bytewise
// (memcmp, shorter first) orders them exactly as Collate orders their texts.
std::size_t CollationKey(const char* text, char* key, std::size_t capacity);

}  // namespace platform
