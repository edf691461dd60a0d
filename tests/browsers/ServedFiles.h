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
        std::string path, size, kind;
        Served s;
        std::getline(fields, path, '\t');
        std::getline(fields, s.urlPath, '\t');
        std::getline(fields, s.contentType, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, s.mode, '\t');
        std::getline(fields, kind, '\t');
        s.bytes = ReadFile(fixture + "/" + path);
        s.video = kind == "video";
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
