#pragma once

#include <string>

namespace platform {

// The user's home folder: $HOME when it is an absolute path, else the password database's
// entry, else "/tmp".
std::string HomeFolder();

// The per-user base folders of the freedesktop layout: $XDG_CONFIG_HOME, $XDG_STATE_HOME
// and $XDG_CACHE_HOME, each only when it is an absolute path (a relative value is to be
// ignored), else ~/.config, ~/.local/state and ~/.cache.
enum class XdgFolder { kConfig, kState, kCache };
std::string XdgBaseFolder(XdgFolder which);

}  // namespace platform
