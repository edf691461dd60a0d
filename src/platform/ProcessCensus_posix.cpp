#include "platform/ProcessCensus.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace platform {

namespace {

// Calls `visit` with the name of every entry of `folder` but "." and ".."; false when the
// folder cannot be read.
template <typename Visit>
bool ForEachEntry(const char* folder, Visit visit) {
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) {
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            visit(entry->d_name);
        }
    }
    ::closedir(dir);
    return true;
}

int DescriptorCount() {
    int count = 0;
    const bool listed = ForEachEntry("/proc/self/fd", [&count](const char*) { ++count; });
    // The listing's own descriptor was open while it ran.
    return listed ? count - 1 : -1;
}

int ThreadCount() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        int value = 0;
        if (key == "Threads:" && status >> value) {
            return value;
        }
        status.ignore(1 << 20, '\n');
    }
    return -1;
}

// The parent's id in /proc/PID/stat, read after the last ')' because the command name in
// brackets may hold anything.
long ParentOf(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) {
        return -1;
    }
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size()) {
        return -1;
    }
    // ") S PPID ..."
    return std::strtol(stat.c_str() + close + 4, nullptr, 10);
}

int ChildCount() {
    const long self = ::getpid();
    int count = 0;
    const bool listed = ForEachEntry("/proc", [&](const char* name) {
        if (name[0] >= '0' && name[0] <= '9' && ParentOf(name) == self) {
            ++count;
        }
    });
    return listed ? count : -1;
}

}  // namespace

ProcessCensus TakeProcessCensus() {
    ProcessCensus census;
    census.descriptors = DescriptorCount();
    census.threads = ThreadCount();
    census.children = ChildCount();
    return census;
}

}  // namespace platform
