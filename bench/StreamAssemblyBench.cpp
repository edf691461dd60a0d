// Times the assembly of streams from a cache's entries: 200 HLS streams of 300 segments
// each (60,000 entries, manifests held in memory), against sorting the same entries by
// address, which the list does with them anyway.
//
// Usage: stream_assembly_bench

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "cache/StreamAssembly.h"

namespace {

constexpr int kStreams = 200;
constexpr int kSegments = 300;
constexpr int kRuns = 5;

template <typename F>
double Seconds(F&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    std::vector<cache::Entry> entries;
    std::unordered_map<std::string, std::string> texts;
    for (int s = 0; s < kStreams; ++s) {
        const std::string folder =
            "https://cdn" + std::to_string(s % 7) + ".test/v/" + std::to_string(s) + "/";
        std::string playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n";
        for (int i = 0; i < kSegments; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "seg_%05d.ts", i);
            playlist += "#EXTINF:2.000,\n" + std::string(name) + "\n";
            cache::Entry e;
            e.url = folder + name;
            e.file = "/nonexistent/cache/" + std::to_string(entries.size()) + "_0";
            e.contentType = "video/mp2t";
            e.bodySize = 400000 + static_cast<std::uint64_t>(i);
            e.lastWriteTime = 1700000000 + i;
            entries.push_back(std::move(e));
        }
        playlist += "#EXT-X-ENDLIST\n";
        cache::Entry m;
        m.url = folder + "index.m3u8";
        m.file = "/nonexistent/cache/m" + std::to_string(s) + "_0";
        m.contentType = "application/vnd.apple.mpegurl";
        m.bodySize = playlist.size();
        texts[m.url] = std::move(playlist);
        entries.push_back(std::move(m));
    }
    const cache::ReadBodyText read = [&](const cache::Entry& e,
                                         std::size_t limit) -> std::optional<std::string> {
        const auto it = texts.find(e.url);
        if (it == texts.end() || it->second.size() > limit) {
            return std::nullopt;
        }
        return it->second;
    };
    const cache::ProbeTracks probe = [](const cache::Entry&) { return cache::TrackProbe{}; };

    double assemble = 1e9;
    double sort = 1e9;
    double parse = 1e9;
    std::size_t rows = 0;
    std::size_t consumed = 0;
    for (int run = 0; run < kRuns; ++run) {
        assemble = std::min(assemble, Seconds([&] {
                                const auto scan = cache::FindStreams(entries, read, probe);
                                rows = scan.streams.size();
                                consumed = scan.consumed.size();
                            }));
        parse = std::min(parse, Seconds([&] {
                             for (const auto& [url, text] : texts) {
                                 (void)cache::ReadHlsPlaylist(text, url);
                             }
                         }));
        sort = std::min(sort, Seconds([&] {
                            std::vector<const cache::Entry*> byUrl;
                            for (const auto& e : entries) {
                                byUrl.push_back(&e);
                            }
                            std::sort(byUrl.begin(), byUrl.end(),
                                      [](const auto* a, const auto* b) { return a->url < b->url; });
                        }));
    }
    std::printf("%zu entries: %zu streams, %zu entries consumed\n", entries.size(), rows, consumed);
    std::printf("assembly        %8.1f ms\n", assemble * 1e3);
    std::printf("  of which the playlists' reading %8.1f ms\n", parse * 1e3);
    std::printf("sort by address %8.1f ms\n", sort * 1e3);
    std::printf("ratio           %8.2f x the sort\n", assemble / sort);
    return rows == kStreams && consumed == entries.size() ? 0 : 1;
}
