#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Opens `path` for appending (creating it when missing), writes `size` bytes in one write
// call and closes it again. Nothing is held open between calls, so another process may
// rotate or delete the file at any time. Returns false when the file cannot be opened or
// the write fails or comes up short.
bool AppendToFile(const std::string& path, const char* data, std::size_t size);

// Opens `path` for appending (creating it when missing) and closes it at once: the test
// of whether appending could work at all.
bool TouchForAppend(const std::string& path);

}  // namespace platform
