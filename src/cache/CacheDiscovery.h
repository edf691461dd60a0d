#pragma once

#include <string>
#include <vector>

#include "cache/CacheEntry.h"

namespace cache {

// A browser cache found on this machine, ready to be offered as the cache folder.
struct FoundCache {
    Format format = Format::Chromium;
    std::string folder;  // the Cache_Data or cache2 folder itself
    std::string label;   // "Chromium, Default", "Firefox, abcd.default-esr", ...
};

// Where the browsers of this user keep their caches: the user's cache folder, the home
// that holds the sandboxed browsers' own ones (~/snap/<name>/common/.cache and
// ~/.var/app/<id>/cache), and the user's configuration folder, where applications built
// on Chromium (chat, mail and meeting clients, editors) and some Chromium-family browsers
// keep theirs.
struct DiscoveryPlaces {
    std::string cacheHome;
    std::string home;
    std::string configHome;
};

// $XDG_CACHE_HOME (default ~/.cache), the home folder of the running user and
// $XDG_CONFIG_HOME (default ~/.config).
DiscoveryPlaces UserDiscoveryPlaces();

// Every Chromium-family Cache_Data (told by its index's magic, whatever the product's
// name) and every Firefox cache2 in the places. The walk lists folders only, goes a few
// levels deep, never follows a link, skips what it may not read and never descends into
// a cache it found. The order is stable: the user's cache folder first, then the
// configuration folder, then the snaps, then the flatpaks, each by path.
std::vector<FoundCache> DiscoverCaches(const DiscoveryPlaces& places);

// The name a cache goes by, from its folder's path below the place it was found in:
// "google-chrome/Profile 1/Cache/Cache_Data" gives "Google Chrome, Profile 1",
// "mozilla/firefox/abcd.default-esr/cache2" gives "Firefox, abcd.default-esr",
// "Slack/Partitions/work/Cache/Cache_Data" gives "Slack, work".
// `sandbox` ("snap", "Flatpak" or empty) is added after the product in brackets.
std::string CacheLabel(Format format, const std::string& relativeFolder,
                       const std::string& sandbox = std::string());

}  // namespace cache
