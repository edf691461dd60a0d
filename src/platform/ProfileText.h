#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The text side of profile (INI) files, without any file access, so that the rules can
// be checked on strings alone.
//
// Lines end in LF, CR LF or CR. A line whose first non-blank character is ';' is a
// comment. "[name]" starts a section (the last ']' on the line closes it). Any other
// non-blank line is a key: the part before the first '=' names it, the rest is its value;
// a line without '=' is a key with an empty value. Section and key names are trimmed and
// compared without regard to ASCII case; when a name occurs twice, the first one counts.

// The longest text value handed out; longer values are cut.
constexpr std::size_t kProfileMaxValueLength = 2047;

// Looks `key` up in `section` of `text`. On success stores the value, trimmed, with one
// pair of matching surrounding quotes (" or ') removed, and cut at the first NUL and at
// kProfileMaxValueLength characters.
bool FindProfileValue(std::string_view text, std::string_view section, std::string_view key,
                      std::string* value);

// Sets `key` in `section` of `text` to `value`. An existing key keeps its line, only the
// value changes; a new key goes after the last key of its section; a missing section is
// appended at the end. Every other byte of `text` stays as it was. A value that the reader
// would not give back as it is (blanks at either end, or a pair of quotes around it) is
// written inside double quotes, which the reader removes. Returns false, leaving `text`
// alone, for names that cannot be written without breaking the line structure (empty,
// line breaks, '=' in a key, ...) and for values with a line break or a NUL, which no line
// can hold.
bool SetProfileValue(std::string& text, std::string_view section, std::string_view key,
                     std::string_view value);

}  // namespace platform
