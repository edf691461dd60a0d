#include "cache/CacheDiscovery.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

#include "cache/CacheLayout.h"
#include "platform/DirectoryListing.h"
#include "platform/UserFolders.h"

namespace cache {

namespace {

// Levels of folders listed below a place, the place itself included: Brave's Cache_Data
// is the deepest we know (BraveSoftware/Brave-Browser/Default/Cache/Cache_Data), seen in
// the listing four levels down, as deep as an application's session partition
// (<application>/Partitions/<partition>/Cache/Cache_Data). Deeper trees (build caches,
// thumbnails, editors' workspace state) hold none.
constexpr int kListedLevels = 5;
// A bound on the folders one place may cost, whatever its shape.
constexpr std::size_t kMaxFoldersPerPlace = 100000;

struct Place {
    std::string path;
    std::string sandbox;
};

struct Walk {
    const Place& place;
    std::vector<FoundCache>& found;
    std::size_t folders = 0;
};

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    return parts;
}

// "google-chrome" reads "Google Chrome": words split at '-' and '_', each capitalised.
std::string ProductName(const std::string& folder) {
    std::string name;
    bool wordStart = true;
    for (const char c : folder) {
        if (c == '-' || c == '_') {
            name += ' ';
            wordStart = true;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        name += wordStart && byte < 0x80 ? static_cast<char>(std::toupper(byte)) : c;
        wordStart = false;
    }
    return name;
}

void Descend(Walk& walk, platform::DirectoryListing& folder, const std::string& path,
             const std::string& relative, int level) {
    platform::DirectoryEntry entry;
    while (folder.Next(entry)) {
        if (entry.kind != platform::EntryKind::Directory) {
            continue;  // files, and links (to folders too: never followed)
        }
        const std::string name(entry.name, entry.nameLength);
        const std::string childPath = path + '/' + name;
        const std::string childRelative = relative.empty() ? name : relative + '/' + name;
        if (name == "Cache_Data" || name == "cache2") {
            const bool chromium = name == "Cache_Data";
            if (chromium ? HasChromiumIndex(childPath) : IsFirefoxCache2(childPath)) {
                const Format format = chromium ? Format::Chromium : Format::Firefox;
                walk.found.push_back(
                    {format, childPath, CacheLabel(format, childRelative, walk.place.sandbox)});
            }
            continue;  // a cache's own folders hold no other cache
        }
        if (level + 1 >= kListedLevels || walk.folders >= kMaxFoldersPerPlace) {
            continue;
        }
        platform::DirectoryListing child(folder, name.c_str());
        if (!child.IsOpen()) {
            continue;  // unreadable, or replaced by a link meanwhile
        }
        ++walk.folders;
        child.SkipFileDetails();
        Descend(walk, child, childPath, childRelative, level + 1);
    }
}

void WalkPlace(const Place& place, std::vector<FoundCache>& found) {
    platform::DirectoryListing top(place.path);
    if (!top.IsOpen()) {
        return;
    }
    top.SkipFileDetails();
    std::vector<FoundCache> mine;
    Walk walk{place, mine};
    Descend(walk, top, place.path, std::string(), 0);
    std::sort(mine.begin(), mine.end(),
              [](const FoundCache& a, const FoundCache& b) { return a.folder < b.folder; });
    found.insert(found.end(), mine.begin(), mine.end());
}

// The sandboxed browsers' places: `inner` below each folder of `outer`, by name.
std::vector<Place> SandboxPlaces(const std::string& outer, const std::string& inner,
                                 const std::string& sandbox) {
    std::vector<std::string> names;
    platform::DirectoryListing listing(outer);
    listing.SkipFileDetails();
    platform::DirectoryEntry entry;
    while (listing.Next(entry)) {
        if (entry.kind == platform::EntryKind::Directory) {
            names.emplace_back(entry.name, entry.nameLength);
        }
    }
    std::sort(names.begin(), names.end());
    std::vector<Place> places;
    for (const auto& name : names) {
        places.push_back({outer + '/' + name + '/' + inner, sandbox});
    }
    return places;
}

}  // namespace

DiscoveryPlaces UserDiscoveryPlaces() {
    return {platform::XdgBaseFolder(platform::XdgFolder::kCache), platform::HomeFolder(),
            platform::XdgBaseFolder(platform::XdgFolder::kConfig)};
}

std::vector<FoundCache> DiscoverCaches(const DiscoveryPlaces& places) {
    std::vector<Place> all;
    for (const std::string* own : {&places.cacheHome, &places.configHome}) {
        if (!own->empty()) {
            all.push_back({*own, std::string()});
        }
    }
    if (!places.home.empty()) {
        for (auto& place : SandboxPlaces(places.home + "/snap", "common/.cache", "snap")) {
            all.push_back(std::move(place));
        }
        for (auto& place : SandboxPlaces(places.home + "/.var/app", "cache", "Flatpak")) {
            all.push_back(std::move(place));
        }
    }
    std::vector<FoundCache> found;
    for (const auto& place : all) {
        WalkPlace(place, found);
    }
    // A place inside another (a cache folder set to a snap's own) is found once.
    std::vector<FoundCache> unique;
    for (auto& cache : found) {
        const bool seen = std::any_of(unique.begin(), unique.end(), [&](const FoundCache& u) {
            return u.folder == cache.folder;
        });
        if (!seen) {
            unique.push_back(std::move(cache));
        }
    }
    return unique;
}

std::string CacheLabel(Format format, const std::string& relativeFolder,
                       const std::string& sandbox) {
    std::vector<std::string> parts = Split(relativeFolder);
    if (!parts.empty()) {
        parts.pop_back();  // Cache_Data or cache2 itself
    }
    // Chromium keeps Cache_Data in a Cache folder of the profile.
    if (format == Format::Chromium && !parts.empty() && parts.back() == "Cache") {
        parts.pop_back();
    }
    // An application built on Chromium keeps one profile per session partition:
    // <application>/Partitions/<partition>.
    if (format == Format::Chromium && parts.size() >= 3 &&
        parts[parts.size() - 2] == "Partitions") {
        parts.erase(parts.end() - 2);
    }
    std::string product;
    std::string profile;
    if (parts.size() >= 2) {
        product = ProductName(parts[parts.size() - 2]);
        profile = parts.back();
    } else if (parts.size() == 1) {
        product = ProductName(parts.front());
    } else {
        product = format == Format::Firefox ? "Firefox" : "Chromium";
    }
    if (!sandbox.empty()) {
        product += " (" + sandbox + ")";
    }
    return profile.empty() ? product : product + ", " + profile;
}

}  // namespace cache
