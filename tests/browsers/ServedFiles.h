#pragma once

// What make-browser-caches.sh served to the browsers, read back from its manifest and its
// log: the tests over the real caches compare what the program finds with it.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/TempDir.h"

namespace testsupport {

// One file the page loaded.
struct Served {
    std::string urlPath;  // "/name.mp4"
    std::string contentType;
    std::string bytes;  // the whole file
    std::string mode;   // "range" (206), "whole" (200) or "stall" (half, then dropped)
    bool video = false;
    // Of a file of an adaptive stream: the stream ("hls-ts", "hls-fmp4", "dash",
    // "dash-ondemand"), the file's role in it ("master", "playlist", "mpd", "init",
    // "segment", or "track": one file fetched in byte ranges), its track ("av", "video",
    // "audio"; empty for a playlist or manifest) and a segment's place in its track's list.
    // Empty, or -1, for other files.
    std::string stream;
    std::string role;
    std::string track;
    int order = -1;
    std::uint64_t sentToChromium = 0;  // the most bytes one answer sent
    std::uint64_t sentToFirefox = 0;

    std::uint64_t SentTo(bool firefox) const { return firefox ? sentToFirefox : sentToChromium; }
};

// The files served from the fixture folder, by URL path.
inline std::map<std::string, Served> ReadServedFiles(const std::string& fixture) {
    std::map<std::string, Served> files;
    std::ifstream manifest(fixture + "/manifest.tsv");
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream fields(line);
        std::string path, size, kind, order;
        Served s;
        std::getline(fields, path, '\t');
        std::getline(fields, s.urlPath, '\t');
        std::getline(fields, s.contentType, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, s.mode, '\t');
        std::getline(fields, kind, '\t');
        std::getline(fields, s.stream, '\t');
        std::getline(fields, s.role, '\t');
        std::getline(fields, s.track, '\t');
        std::getline(fields, order, '\t');
        s.bytes = ReadFile(fixture + "/" + path);
        s.video = kind == "video";
        if (kind != "stream") {
            s.stream = s.role = s.track = "";
        }
        if (s.track == "-") {
            s.track.clear();
        }
        if (!s.stream.empty() && order != "-") {
            s.order = std::stoi(order);
        }
        files[s.urlPath] = std::move(s);
    }
    std::ifstream log(fixture + "/served.log");
    for (std::string browser, path, status, start, end, sent;
         log >> browser >> path >> status >> start >> end >> sent;) {
        if (const auto it = files.find(path); it != files.end()) {
            std::uint64_t& most =
                browser == "firefox" ? it->second.sentToFirefox : it->second.sentToChromium;
            most = std::max<std::uint64_t>(most, std::stoull(sent));
        }
    }
    return files;
}

// The path of a URL, as the manifest names the files.
inline std::string PathOf(const std::string& url) {
    const std::size_t scheme = url.find("://");
    const std::size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return slash == std::string::npos ? url : url.substr(slash);
}

}  // namespace testsupport
