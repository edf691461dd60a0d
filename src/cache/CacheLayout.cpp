#include "cache/CacheLayout.h"

#include <array>
#include <cstring>

#include "platform/DirectoryListing.h"
#include "platform/ReadOnlyFile.h"

namespace cache {

namespace {

std::string Join(const std::string& dir, const char* name) {
    std::string path = dir;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path + name;
}

// The folder's own name, whatever separators trail it.
std::string BaseName(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    const auto slash = dir.rfind('/');
    return slash == std::string::npos ? dir : dir.substr(slash + 1);
}

std::string Parent(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    const auto slash = dir.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : dir.substr(0, slash);
}

}  // namespace

bool HasChromiumIndex(const std::string& dir) {
    platform::ReadOnlyFile index(Join(dir, "index"));
    std::array<unsigned char, 8> head{};
    if (!index.IsOpen() || index.ReadAt(0, head.data(), head.size()) != 8) {
        return false;
    }
    std::uint64_t magic = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        magic |= static_cast<std::uint64_t>(head[i]) << (8 * i);
    }
    return magic == kChromiumMagic;
}

bool IsFirefoxCache2(const std::string& dir) {
    platform::FileIdentity index;
    return platform::IsDirectory(Join(dir, "entries")) &&
           (platform::StatFile(Join(dir, "index"), index) || BaseName(dir) == "cache2");
}

CacheFolder ResolveCacheFolder(const std::string& dir) {
    if (dir.empty()) {
        return {Format::Classic, dir};
    }
    const std::string candidates[] = {dir, Join(dir, "Cache_Data"), Join(dir, "Cache/Cache_Data")};
    for (const auto& candidate : candidates) {
        if (HasChromiumIndex(candidate)) {
            return {Format::Chromium, candidate};
        }
    }
    if (IsFirefoxCache2(dir)) {
        return {Format::Firefox, Join(dir, "entries")};
    }
    if (BaseName(dir) == "entries" && IsFirefoxCache2(Parent(dir))) {
        return {Format::Firefox, dir};
    }
    const std::string profileCache = Join(dir, "cache2");
    if (IsFirefoxCache2(profileCache)) {
        return {Format::Firefox, Join(profileCache, "entries")};
    }
    return {Format::Classic, dir};
}

}  // namespace cache
