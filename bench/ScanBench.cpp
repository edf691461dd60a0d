// Times the cache scan and the sorts on a synthetic cache of 192,000 files against find
// and sort over the same tree, and measures the memory the entries take.
//
// Usage: scan_bench [cache-folder]   (default /tmp/reelvault-bench-cache, made when absent)

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "browser/CacheScanner.h"
#include "platform/Collation.h"

#include "PeerRun.h"

using bench::RunQuiet;
using bench::Seconds;

namespace {

constexpr int kFolders = 64;
constexpr int kFilesPerFolder = 3000;
constexpr int kRuns = 5;
constexpr std::int64_t kMinimal = 307200;

std::uint64_t Mix(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    return x;
}

// 55 files in every 192 reach 300 kB; the small ones stay below find's +299k as well.
std::int64_t SizeOf(std::uint64_t i) {
    const std::uint64_t h = Mix(i + 1);
    return i % 192 < 55 ? kMinimal + static_cast<std::int64_t>(h % (64ull << 20))
                        : static_cast<std::int64_t>(h % 300000);
}

bool MakeCache(const std::string& root) {
    const std::string done = root + "/.complete-192000";
    if (::access(done.c_str(), F_OK) == 0) {
        std::printf("reusing %s\n", root.c_str());
        return true;
    }
    std::printf("building %s ...\n", root.c_str());
    ::mkdir(root.c_str(), 0755);
    for (int d = 0; d < kFolders; ++d) {
        char folder[64];
        std::snprintf(folder, sizeof folder, "/g_%04X", d);
        const std::string dir = root + folder;
        ::mkdir(dir.c_str(), 0755);
        for (int f = 0; f < kFilesPerFolder; ++f) {
            const std::uint64_t i = static_cast<std::uint64_t>(d) * kFilesPerFolder + f;
            char name[64];
            std::snprintf(name, sizeof name, "/opr%05llX.tmp", static_cast<unsigned long long>(i));
            const std::string path = dir + name;
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd < 0 || ::ftruncate(fd, SizeOf(i)) != 0) {
                std::perror(path.c_str());
                return false;
            }
            const timespec when[2] = {{0, UTIME_OMIT},
                                      {1500000000 + static_cast<time_t>(Mix(i) % 300000000), 0}};
            ::futimens(fd, when);
            ::close(fd);
        }
    }
    const int fd = ::open(done.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::close(fd);
    }
    return true;
}

// Best of several runs; `prepare` runs untimed before each.
double Best(
    const std::function<void()>& run, const std::function<void()>& prepare = [] {}) {
    double best = 1e9;
    for (int r = 0; r < kRuns; ++r) {
        prepare();
        best = std::min(best, Seconds(run));
    }
    return best;
}

long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, length, field) == 0) {
            return std::atol(line.c_str() + length + 1);
        }
    }
    return 0;
}

// Forgets the peak so far, so that the next reading of VmHWM belongs to what follows.
long ResetPeakKb() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    return StatusKb("VmRSS");
}

}  // namespace

int main(int argc, char* argv[]) {
    std::string root = argc > 1 ? argv[1] : "/tmp/reelvault-bench-cache";
    if (root.empty() || root[0] != '/') {
        root = "./" + root;  // never let find read the folder as an option
    }
    if (!MakeCache(root)) {
        return 1;
    }
    if (!platform::UseCollationLocale("en_US.UTF-8")) {
        std::printf("en_US.UTF-8 is not installed: the name sort uses the C collation\n");
    }
    const std::vector<std::string> find = {"find",  root,    "-type",   "f",
                                           "-size", "+299k", "-printf", "%s %T@ %p\n"};

    // Warm both up (and check that find runs at all).
    if (!RunQuiet(find, {})) {
        std::printf("find failed\n");
        return 1;
    }
    CacheScanner scanner;
    scanner.SetOptions(root, 300, true);
    scanner.Rescan();
    const std::size_t count = scanner.entries.size();
    std::printf("entries found: %zu\n", count);
    if (count == 0) {
        return 1;
    }

    const double tFind = Best([&] { RunQuiet(find, {}); });
    const double tRescan = Best([&] { scanner.Rescan(); });

    // The paths for sort(1), in the order the scan leaves them.
    char listPath[] = "/tmp/reelvault-bench-paths-XXXXXX";
    const int listFd = ::mkstemp(listPath);
    ::close(listFd);
    {
        std::ofstream out(listPath);
        for (const auto& e : scanner.entries) {
            out << e.fileName << '\n';
        }
    }
    const std::vector<std::string> sort = {"sort", listPath};
    const double tSortTool = Best([&] { RunQuiet(sort, {"LC_ALL=en_US.UTF-8"}); });
    ::unlink(listPath);

    // Both sorts start from the same shuffled order, not from the scan's sorted one.
    std::vector<OperaCacheEntry> scanned = scanner.entries;
    for (std::size_t i = scanned.size() - 1; i > 0; --i) {
        std::swap(scanned[i], scanned[Mix(i) % (i + 1)]);
    }
    const double tNameSort = Best(
        [&] {
            scanner.order = {0, true};
            scanner.SortEntries();
        },
        [&] { scanner.entries = scanned; });
    const double tTimeSort = Best(
        [&] {
            scanner.order = {2, false};
            scanner.SortEntries();
        },
        [&] { scanner.entries = scanned; });

    // Memory: what the entries hold beside their path text, after the scan and at the
    // peaks of the scan and of the name sort.
    scanner.entries.clear();
    scanner.entries.shrink_to_fit();
    std::size_t pathText = 0;
    for (const auto& e : scanned) {
        pathText += e.fileName.size() + 1;
    }
    const std::size_t heapBefore = mallinfo2().uordblks;
    long rssBefore = ResetPeakKb();
    scanner.order = {2, false};
    scanner.Rescan();
    const long scanPeakKb = StatusKb("VmHWM") - rssBefore;
    const std::size_t heapHeld = mallinfo2().uordblks - heapBefore;
    rssBefore = ResetPeakKb();
    scanner.order = {0, true};
    scanner.SortEntries();
    const long sortPeakKb = StatusKb("VmHWM") - rssBefore;

    const double n = static_cast<double>(count);
    std::printf("scan+sort (Rescan)   %8.1f ms   find %8.1f ms   ratio %.2f (target <= 0.80)\n",
                tRescan * 1e3, tFind * 1e3, tRescan / tFind);
    std::printf("name sort            %8.1f ms   sort %8.1f ms   ratio %.2f (target <= 0.50)\n",
                tNameSort * 1e3, tSortTool * 1e3, tNameSort / tSortTool);
    std::printf("timestamp sort       %8.1f ms\n", tTimeSort * 1e3);
    std::printf("path text            %8.1f bytes/entry\n", static_cast<double>(pathText) / n);
    std::printf("held after scan      %8.1f bytes/entry beside the path text (target < 200)\n",
                (static_cast<double>(heapHeld) - static_cast<double>(pathText)) / n);
    std::printf("peak of the scan     %8.1f bytes/entry beside the path text\n",
                (static_cast<double>(scanPeakKb) * 1024 - static_cast<double>(pathText)) / n);
    std::printf("peak of name sort    %8.1f bytes/entry on top of the entries\n",
                static_cast<double>(sortPeakKb) * 1024 / n);
    return 0;
}
