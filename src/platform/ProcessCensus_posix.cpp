#include "platform/ProcessCensus.h"

#include <dirent.h>
#include <unistd.h>

#include <charconv>
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
    const std::vector<pid_t> processes = ProcessIds();
    if (processes.empty()) {
        return -1;  // there is at least this one
    }
    const long self = ::getpid();
    int count = 0;
    for (const pid_t process : processes) {
        count += ParentOf(std::to_string(process)) == self ? 1 : 0;
    }
    return count;
}

}  // namespace

std::vector<pid_t> ProcessIds() {
    std::vector<pid_t> ids;
    ForEachEntry("/proc", [&ids](const char* name) {
        const char* end = name + std::strlen(name);
        pid_t id = 0;
        const auto parsed = std::from_chars(name, end, id);
        if (parsed.ec == std::errc() && parsed.ptr == end) {
            ids.push_back(id);
        }
    });
    return ids;
}

ProcessCensus TakeProcessCensus() {
    ProcessCensus census;
    census.descriptors = DescriptorCount();
    census.threads = ThreadCount();
    census.children = ChildCount();
    return census;
}

}  // namespace platform
