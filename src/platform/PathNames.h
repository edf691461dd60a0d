#pragma once

#include <string>

namespace platform {

// The folder part of `path`, as this system writes paths: "/a/b" gives "/a", "/b" gives
// "/", and a bare name lies in ".".
inline std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace platform
