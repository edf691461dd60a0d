#pragma once

#include <string>
#include <vector>

namespace testsupport {

// The stand-in player records its arguments each followed by a zero byte.
inline std::vector<std::string> SplitZeros(const std::string& bytes) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t zero; (zero = bytes.find('\0', start)) != std::string::npos;) {
        parts.push_back(bytes.substr(start, zero - start));
        start = zero + 1;
    }
    return parts;
}

}  // namespace testsupport
