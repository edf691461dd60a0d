#pragma once

#include <string>

#include "platform/UserFolders.h"

namespace platform {

// The full path of the running program, or "" when it cannot be found out.
std::string ExecutablePath();

// `path` with the extension of its last component replaced by `extension` (which
// includes its dot); a name without an extension, or whose only dot leads it (a hidden
// file), gets `extension` appended.
std::string ChangeFileExt(const std::string& path, const std::string& extension);

// The settings and log files live beside the executable, named after it. Where that
// folder is not writable (an installed copy), they move to
// $XDG_CONFIG_HOME/reelvault/reelvault.ini (default ~/.config) and
// $XDG_STATE_HOME/reelvault/reelvault.log (default ~/.local/state); these folders are
// created when needed.
std::string SettingsFilePath();
std::string LogFilePath();

// The rule behind both, for a given executable path; the fallback file is named
// "reelvault" plus `extension`.
std::string FileBesideExecutable(const std::string& executable, const std::string& extension,
                                 XdgFolder fallbackFolder);

// Creates `path` and the folders above it that are missing, private to the user (0700).
// False when `path` is not a folder afterwards.
bool MakeFolders(const std::string& path);

}  // namespace platform
