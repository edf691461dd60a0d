// Times the search for the browsers' caches in a home whose cache folder holds 10,000
// folders (build caches, package caches, thumbnails and a few browsers) and whose
// configuration folder holds 3,000 more (applications built on Chromium, an editor's
// workspace state), against find(1) listing the folders to the same depth in the same run.
//
// Usage: discovery_bench [home]   (default /tmp/reelvault-bench-home, made when absent)

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cache/CacheDiscovery.h"
#include "cache/CacheLayout.h"

#include "PeerRun.h"

using bench::RunQuiet;
using bench::Seconds;

namespace {

constexpr int kTargetFolders = 10000;
constexpr int kConfigFolders = 3000;
constexpr int kRuns = 7;

int folders = 0;

bool MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0) {
        return false;
    }
    ++folders;
    return true;
}

void MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::access(prefix.c_str(), F_OK) != 0) {
            MakeFolder(prefix);
        }
        if (slash == std::string::npos) {
            return;
        }
    }
}

void MakeFile(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        (void)!::write(fd, bytes.data(), bytes.size());
        ::close(fd);
    }
}

void MakeFiles(const std::string& dir, int count) {
    for (int i = 0; i < count; ++i) {
        MakeFile(dir + "/f" + std::to_string(i), "x");
    }
}

void MakeChromium(const std::string& dir) {
    MakeFolders(dir);
    std::string index;
    for (int i = 0; i < 8; ++i) {
        index += static_cast<char>((cache::kChromiumMagic >> (8 * i)) & 0xff);
    }
    MakeFile(dir + "/index", index + std::string(16, '\0'));
    MakeFiles(dir, 50);
}

void MakeFirefox(const std::string& dir) {
    MakeFolders(dir + "/entries");
    MakeFile(dir + "/index", std::string(12, '\0'));
    MakeFiles(dir + "/entries", 50);
}

std::string Hex(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", value);
    return text;
}

bool MakeHome(const std::string& home) {
    const std::string done = home + "/.complete-10000";
    if (::access(done.c_str(), F_OK) == 0) {
        std::printf("reusing %s\n", home.c_str());
        return true;
    }
    std::printf("building %s ...\n", home.c_str());
    const std::string cacheHome = home + "/.cache";
    MakeFolders(cacheHome);
    MakeChromium(cacheHome + "/chromium/Default/Cache/Cache_Data");
    MakeChromium(cacheHome + "/google-chrome/Profile 1/Cache/Cache_Data");
    MakeChromium(cacheHome + "/BraveSoftware/Brave-Browser/Default/Cache/Cache_Data");
    MakeFirefox(cacheHome + "/mozilla/firefox/abcd.default-esr/cache2");
    MakeChromium(home + "/snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data");
    MakeChromium(home + "/.var/app/org.chromium.Chromium/cache/chromium/Default/Cache/Cache_Data");
    // A build cache: 256 folders of objects.
    for (int i = 0; i < 256; ++i) {
        const std::string dir = cacheHome + "/go-build/" + Hex(i);
        MakeFolders(dir);
        MakeFiles(dir, 3);
    }
    // A package cache four levels of hash deep, its leaves below the walk's reach.
    for (int a = 0; a < 16 && folders < kTargetFolders; ++a) {
        for (int b = 0; b < 16; ++b) {
            for (int c = 0; c < 12; ++c) {
                const std::string dir = cacheHome + "/pip/http/" + Hex(a) + "/" + Hex(b) + "/" +
                                        Hex(c) + "/" + Hex(a ^ c);
                MakeFolders(dir);
                MakeFiles(dir, 1);
            }
        }
    }
    // Thumbnails and an editor's caches fill up the rest, two levels down.
    for (int i = 0; folders < kTargetFolders; ++i) {
        const std::string dir = cacheHome + "/jetbrains/IdeaIC/caches/" + std::to_string(i / 40) +
                                "/" + std::to_string(i % 40);
        MakeFolders(dir);
        MakeFiles(dir, 2);
    }
    MakeFile(done, "");
    std::printf("%d folders made\n", folders);
    return true;
}

// The configuration folder, under a mark of its own so that a home made before it had one
// gets it too.
void MakeConfigHome(const std::string& configHome) {
    const std::string done = configHome + "/.complete-3000";
    if (::access(done.c_str(), F_OK) == 0) {
        return;
    }
    folders = 0;
    MakeFolders(configHome);
    MakeChromium(configHome + "/Slack/Cache/Cache_Data");
    MakeChromium(configHome + "/teams-for-linux/Partitions/work/Cache/Cache_Data");
    MakeChromium(configHome + "/vivaldi/Default/Cache/Cache_Data");
    // An editor's state: a folder per workspace, each with a few of its own.
    for (int i = 0; folders < kConfigFolders; ++i) {
        const std::string dir =
            configHome + "/Code/User/workspaceStorage/" + Hex(i / 16) + Hex(i % 16) + "/state";
        MakeFolders(dir);
        MakeFiles(dir, 2);
    }
    MakeFile(done, "");
    std::printf("%d configuration folders made\n", folders);
}

double Best(const std::function<void()>& run) {
    double best = 1e9;
    for (int r = 0; r < kRuns; ++r) {
        const auto start = std::chrono::steady_clock::now();
        run();
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::string home = argc > 1 ? argv[1] : "/tmp/reelvault-bench-home";
    if (home.empty() || home[0] != '/') {
        std::printf("the home folder must be an absolute path\n");
        return 1;
    }
    if (!MakeHome(home)) {
        return 1;
    }
    MakeConfigHome(home + "/.config");
    const cache::DiscoveryPlaces places{home + "/.cache", home, home + "/.config"};
    // find lists every folder down to where the walk looks for a cache folder.
    const std::vector<std::string> find = {
        "find", home + "/.cache", home + "/.config", "-maxdepth", "5", "-type",
        "d",    "-name",          "Cache_Data"};
    if (!RunQuiet(find)) {
        std::printf("find failed\n");
        return 1;
    }
    std::size_t count = 0;
    const double tWalk = Best([&] { count = cache::DiscoverCaches(places).size(); });
    const double tFind = Best([&] { RunQuiet(find); });
    std::printf("caches found: %zu\n", count);
    std::printf(
        "discovery walk %8.2f ms   find %8.2f ms   ratio %.2f (target: well under "
        "100 ms)\n",
        tWalk * 1e3, tFind * 1e3, tWalk / tFind);
    return count == 9 ? 0 : 1;
}
