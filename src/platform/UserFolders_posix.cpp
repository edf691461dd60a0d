#include "platform/UserFolders.h"

#include <pwd.h>
#include <unistd.h>
#include <cstdlib>
#include <vector>

namespace platform {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/tmp";
}

std::string XdgBaseFolder(XdgFolder which) {
    const char* name = "XDG_CACHE_HOME";
    const char* fallback = "/.cache";
    if (which == XdgFolder::kConfig) {
        name = "XDG_CONFIG_HOME";
        fallback = "/.config";
    } else if (which == XdgFolder::kState) {
        name = "XDG_STATE_HOME";
        fallback = "/.local/state";
    }
    if (const char* value = std::getenv(name); value != nullptr && value[0] == '/') {
        return value;
    }
    return HomeFolder() + fallback;
}

}  // namespace platform
