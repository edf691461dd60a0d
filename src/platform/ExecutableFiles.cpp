#include "platform/ExecutableFiles.h"

namespace platform {

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos ||
        dot <= nameStart) {  // ".name" is a hidden file, not an extension
        return path + extension;
    }
    return path.substr(0, dot) + extension;
}

}  // namespace platform
