#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

#include <vector>

#include "platform/ExecutableFiles.h"
#include "platform/PathNames.h"
#include "platform/UserFolders.h"

namespace platform {

namespace {}  // namespace

// mkdir -p, with the private mode the XDG folders call for.
bool MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ExecutablePath() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t got = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (got < 0) {
            return {};
        }
        if (static_cast<std::size_t>(got) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(got));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string FileBesideExecutable(const std::string& executable, const std::string& extension,
                                 XdgFolder fallbackFolder) {
    if (!executable.empty() &&
        ::faccessat(AT_FDCWD, FolderOf(executable).c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
        return ChangeFileExt(executable, extension);
    }
    const std::string folder = XdgBaseFolder(fallbackFolder) + "/reelvault";
    MakeFolders(folder);
    return folder + "/reelvault" + extension;
}

std::string SettingsFilePath() {
    return FileBesideExecutable(ExecutablePath(), ".ini", XdgFolder::kConfig);
}

std::string LogFilePath() {
    return FileBesideExecutable(ExecutablePath(), ".log", XdgFolder::kState);
}

}  // namespace platform
