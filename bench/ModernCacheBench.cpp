// Times the scan of today's caches against find over the same folder, the rescan of an
// unchanged cache against the first scan, and the rebuild of a pieced 100 MB entry.
//
// Usage: modern_cache_bench [folder]   (default /tmp/reelvault-bench-modern, made when absent)
//
// The synthetic caches: Chromium's with 20,000 entries (2,000 media, 300 of them in 64 KiB
// pieces, the rest script and image entries, a tenth of them large) and Firefox's with
// 20,000 alike; and a Chromium cache of 200 HLS streams of 300 segments. Bodies are holes
// of sparse files: the scan reads headers and ends only.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "browser/CacheScanner.h"
#include "cache/EntryReaders.h"
#include "cache/Rebuild.h"
#include "support/CacheWriters.h"

using namespace testsupport;

#include "PeerRun.h"

using bench::RunQuiet;
using bench::Seconds;

namespace {

constexpr int kEntries = 20000;
constexpr int kMedia = 2000;
constexpr int kPieced = 300;
constexpr int kRuns = 5;

bool WriteAt(int fd, std::uint64_t offset, const std::string& bytes) {
    return ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
           static_cast<ssize_t>(bytes.size());
}

// A closed `_0` file whose body of `bodySize` bytes is a hole after its first bytes.
bool WriteChromiumEntry(const std::string& path, const std::string& url, std::uint64_t bodySize,
                        const std::string& type, const std::string& firstBytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const std::string head = ChromiumFileHeader(ChromiumKey(url));
    const std::string stream0 =
        ChromiumStream0(ChromiumHttp(type, static_cast<std::int64_t>(bodySize)));
    std::string tail = ChromiumEndRecord(0, bodySize) + stream0 + std::string(32, 'h') +
                       ChromiumEndRecord(3, stream0.size());
    const bool ok = WriteAt(fd, 0, head + firstBytes) && WriteAt(fd, head.size() + bodySize, tail);
    ::close(fd);
    return ok;
}

// A `_s` file of `pieces` ranges of 64 KiB, holes inside, `real` true to fill them.
bool WriteSparse(const std::string& path, const std::string& url, int pieces, bool real) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    std::uint64_t at = 0;
    std::string head = ChromiumFileHeader(ChromiumKey(url), 9);
    bool ok = WriteAt(fd, 0, head);
    at = head.size();
    std::string data(65536, 'd');
    for (int i = 0; i < pieces && ok; ++i) {
        ok = WriteAt(fd, at, ChromiumRangeHeader(static_cast<std::uint64_t>(i) * 65536, 65536));
        at += 32;
        if (real || i == 0) {
            data[0] = static_cast<char>(i);
            ok = ok && WriteAt(fd, at, i == 0 ? Mp4Body(65536) : data);
        }
        at += 65536;
    }
    ok = ok && ::ftruncate(fd, static_cast<off_t>(at)) == 0;
    ::close(fd);
    return ok;
}

bool WriteFirefoxEntry(const std::string& path, const std::string& url, std::uint64_t bodySize,
                       const std::string& type, const std::string& firstBytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    // The writer's own layout, with the body replaced by a hole of the right length.
    const std::string small =
        FirefoxMediaEntry(url, std::string(), type, static_cast<std::int64_t>(bodySize));
    std::string meta = small.substr(0, small.size() - 4);  // hash, header, key, elements
    std::string metaWithChunks = meta.substr(0, 4);
    for (std::uint64_t c = 0; c < (bodySize + 262143) / 262144; ++c) {
        PutBe(metaWithChunks, 0xabcd, 2);
    }
    metaWithChunks += meta.substr(4);
    PutBe(metaWithChunks, bodySize, 4);
    const bool ok = WriteAt(fd, 0, firstBytes) && WriteAt(fd, bodySize, metaWithChunks);
    ::close(fd);
    return ok;
}

std::string Hex16(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "%016x", 0x10000000 + i);
    return name;
}

// Non-media entries: most small, one in ten above the minimal size (scripts, images).
std::uint64_t OtherSize(int i) {
    return i % 10 == 0 ? 400000 + static_cast<std::uint64_t>(i) * 7
                       : 2000 + static_cast<std::uint64_t>(i % 97) * 300;
}

bool MakeChromium(const std::string& dir) {
    if (std::filesystem::exists(dir + "/.complete")) {
        return true;
    }
    std::filesystem::create_directories(dir);
    WriteChromiumIndex(dir);
    const std::string mp4 = Mp4Body(512);
    for (int i = 0; i < kEntries; ++i) {
        const std::string stem = dir + "/" + Hex16(i);
        bool ok = true;
        if (i < kPieced) {
            const std::string url = "https://v.test/pieced/" + std::to_string(i) + ".webm";
            ok = WriteChromiumEntry(stem + "_0", url, 0, "video/webm", "") &&
                 WriteSparse(stem + "_s", url, 10, false);
        } else if (i < kMedia) {
            ok = WriteChromiumEntry(stem + "_0", "https://v.test/v/" + std::to_string(i) + ".mp4",
                                    1000000 + static_cast<std::uint64_t>(i) * 1000, "video/mp4",
                                    mp4);
        } else {
            const bool script = i % 2 == 0;
            ok = WriteChromiumEntry(
                stem + "_0", "https://s.test/" + std::to_string(i) + (script ? ".js" : ".jpg"),
                OtherSize(i), script ? "text/javascript" : "image/jpeg", "x");
        }
        if (!ok) {
            std::perror(stem.c_str());
            return false;
        }
    }
    WriteFile(dir + "/.complete", "");
    return true;
}

bool MakeFirefox(const std::string& cache2) {
    const std::string entries = cache2 + "/entries";
    if (std::filesystem::exists(cache2 + "/.complete")) {
        return true;
    }
    MakeFirefoxCache(cache2);
    const std::string mp4 = Mp4Body(512);
    for (int i = 0; i < kEntries; ++i) {
        char name[48];
        std::snprintf(name, sizeof name, "%040X", i + 1);
        const std::string path = entries + "/" + name;
        const bool ok =
            i < kMedia ? WriteFirefoxEntry(path, "https://v.test/f/" + std::to_string(i) + ".mp4",
                                           1000000 + static_cast<std::uint64_t>(i) * 1000,
                                           "video/mp4", mp4)
                       : WriteFirefoxEntry(path, "https://s.test/" + std::to_string(i) + ".js",
                                           OtherSize(i), "text/javascript", "x");
        if (!ok) {
            std::perror(path.c_str());
            return false;
        }
    }
    WriteFile(cache2 + "/.complete", "");
    return true;
}

constexpr int kStreams = 200;
constexpr int kSegments = 300;

// 200 HLS streams of 300 MPEG-TS segments each, every one with its media playlist, as a
// page's player leaves them: 60,200 entries, every one of them small.
bool MakeStreams(const std::string& dir) {
    if (std::filesystem::exists(dir + "/.complete")) {
        return true;
    }
    std::filesystem::create_directories(dir);
    WriteChromiumIndex(dir);
    std::string ts(188 * 2, '\xff');
    ts[0] = ts[188] = 0x47;
    int n = 0;
    for (int s = 0; s < kStreams; ++s) {
        const std::string base = "https://cdn.test/v" + std::to_string(s) + "/720p/";
        std::string playlist = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n";
        for (int i = 0; i < kSegments; ++i) {
            playlist += "#EXTINF:2.000,\nseg" + std::to_string(i) + ".ts\n";
            if (!WriteChromiumEntry(dir + "/" + Hex16(n++) + "_0",
                                    base + "seg" + std::to_string(i) + ".ts", 280000, "video/mp2t",
                                    ts)) {
                return false;
            }
        }
        playlist += "#EXT-X-ENDLIST\n";
        WriteFile(dir + "/" + Hex16(n++) + "_0",
                  ChromiumEntryFile(
                      ChromiumKey(base + "index.m3u8"), playlist,
                      ChromiumStream0(ChromiumHttp("application/vnd.apple.mpegurl",
                                                   static_cast<std::int64_t>(playlist.size())))));
    }
    WriteFile(dir + "/.complete", "");
    return true;
}

double Best(const std::function<void()>& run) {
    double best = 1e9;
    for (int r = 0; r < kRuns; ++r) {
        best = std::min(best, Seconds(run));
    }
    return best;
}

bool Compare(const char* label, const std::string& folder, const std::string& entriesDir) {
    const std::vector<std::string> find = {"find", entriesDir, "-type",
                                           "f",    "-printf",  "%s %T@ %p\n"};
    if (!RunQuiet(find)) {
        std::printf("find failed\n");
        return false;
    }
    std::size_t rows = 0;
    std::size_t read = 0;
    // Each first scan with a scanner that has learnt nothing yet, taking turns with find
    // so that both meet the same moments of a shared machine.
    double tScan = 1e9;
    double tFind = 1e9;
    for (int r = 0; r < kRuns; ++r) {
        tScan = std::min(tScan, Seconds([&] {
                             CacheScanner fresh;
                             fresh.SetOptions(folder, 300, true);
                             fresh.Rescan();
                             rows = fresh.entries.size();
                             read = fresh.filesRead;
                         }));
        tFind = std::min(tFind, Seconds([&] { RunQuiet(find); }));
    }
    CacheScanner scanner;
    scanner.SetOptions(folder, 300, true);
    scanner.Rescan();
    const double tRescan = Best([&] { scanner.Rescan(); });
    std::printf("%s: %zu rows, %zu entry files read by the first scan, %zu by a rescan\n", label,
                rows, read, scanner.filesRead);
    std::printf("  first scan %.1f ms, find %.1f ms: %.2f x find (target <= 1.5)\n", tScan * 1e3,
                tFind * 1e3, tScan / tFind);
    std::printf("  rescan, nothing changed, %.1f ms: %.2f x the first scan (target <= 0.5)\n",
                tRescan * 1e3, tRescan / tScan);
    return true;
}

bool RebuildFigure(const std::string& root) {
    const std::string dir = root + "/pieced-100mb";
    std::filesystem::create_directories(dir);
    const int pieces = 1600;  // 100 MiB in 64 KiB ranges
    const std::string url = "https://v.test/big.mp4";
    if (!std::filesystem::exists(dir + "/big_s")) {
        if (!WriteChromiumEntry(dir + "/big_0", url, 0, "video/mp4", "") ||
            !WriteSparse(dir + "/big_s", url, pieces, true)) {
            return false;
        }
    }
    cache::ReadEntry read;
    if (!cache::ReadChromiumFiles(dir + "/big_0", dir + "/big_s", read)) {
        std::printf("pieced entry not readable\n");
        return false;
    }
    const std::string target = dir + "/rebuilt.mp4";
    double best = 1e9;
    for (int r = 0; r < kRuns; ++r) {
        std::filesystem::remove(target);
        const double t = Seconds([&] { cache::RebuildPieces(read.entry, target); });
        best = std::min(best, t);
    }
    // The peer: cp of the whole `_s` file (the same bytes and more) to a new file.
    const std::string copy = dir + "/copy";
    double bestCp = 1e9;
    for (int r = 0; r < kRuns; ++r) {
        std::filesystem::remove(copy);
        bestCp = std::min(bestCp, Seconds([&] { RunQuiet({"cp", dir + "/big_s", copy}); }));
    }
    const double bytes = static_cast<double>(read.entry.bodySize);
    std::printf(
        "rebuild of a %.0f MiB entry in %d pieces: %.1f ms warm, %.2f GB/s (target >= 1);\n"
        "  cp of its _s file %.1f ms, %.2f GB/s: the rebuild takes %.2f x cp\n",
        bytes / (1 << 20), pieces, best * 1e3, bytes / best / 1e9, bestCp * 1e3,
        bytes / bestCp / 1e9, best / bestCp);
    std::filesystem::remove(target);
    std::filesystem::remove(copy);
    // Where the private folder is in memory ($XDG_RUNTIME_DIR is a tmpfs on most desktops).
    if (std::filesystem::is_directory("/dev/shm")) {
        const std::string inMemory = "/dev/shm/reelvault-bench-rebuilt.mp4";
        double bestShm = 1e9;
        for (int r = 0; r < kRuns; ++r) {
            std::filesystem::remove(inMemory);
            bestShm =
                std::min(bestShm, Seconds([&] { cache::RebuildPieces(read.entry, inMemory); }));
        }
        std::filesystem::remove(inMemory);
        std::printf("  into a tmpfs (/dev/shm): %.1f ms, %.2f GB/s\n", bestShm * 1e3,
                    bytes / bestShm / 1e9);
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::string root = argc > 1 ? argv[1] : "/tmp/reelvault-bench-modern";
    if (root.empty() || root[0] != '/') {
        root = "./" + root;
    }
    const std::string chromium = root + "/chromium/Default/Cache/Cache_Data";
    const std::string firefox = root + "/firefox/profile/cache2";
    std::printf("building or reusing %s ...\n", root.c_str());
    const std::string streams = root + "/streams/Default/Cache/Cache_Data";
    if (!MakeChromium(chromium) || !MakeFirefox(firefox) || !MakeStreams(streams)) {
        return 1;
    }
    if (!Compare("Chromium", root + "/chromium/Default", chromium) ||
        !Compare("Chromium, 200 HLS streams of 300 segments", root + "/streams/Default", streams) ||
        !Compare("Firefox", root + "/firefox/profile", firefox + "/entries") ||
        !RebuildFigure(root)) {
        return 1;
    }
    return 0;
}
