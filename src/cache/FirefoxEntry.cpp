#include "cache/FirefoxEntry.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "cache/MediaType.h"

namespace cache {

namespace {

// What the first read from the end takes: usually the whole metadata.

std::uint32_t Be32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// "1;<offset>,<type>": the alternative data (compiled script and the like) that starts
// at <offset>, after the real body.
bool AltDataOffset(std::string_view value, std::uint64_t& offset) {
    const auto semicolon = value.find(';');
    const auto comma = value.find(',');
    if (semicolon == std::string_view::npos || comma == std::string_view::npos ||
        comma < semicolon) {
        return false;
    }
    return ParseDecimal(value.substr(semicolon + 1, comma - semicolon - 1), offset);
}

}  // namespace

bool FirefoxKeyUrl(std::string_view key, std::string& url) {
    std::size_t i = 0;
    while (i < key.size()) {
        if (key[i] == ':') {
            url.assign(key.substr(i + 1));
            return !url.empty();
        }
        // One tag, up to a comma that is not doubled.
        while (i < key.size()) {
            if (key[i] == ',') {
                if (i + 1 < key.size() && key[i + 1] == ',') {
                    i += 2;
                    continue;
                }
                ++i;
                break;
            }
            ++i;
        }
    }
    return false;
}

bool ReadFirefoxEntry(const ByteSource& file, FirefoxEntryFacts& facts) {
    facts = FirefoxEntryFacts{};
    const std::uint64_t size = file.Size();
    if (size < 4) {
        return false;
    }
    const std::uint64_t tailStart = size > kFirefoxTailRead ? size - kFirefoxTailRead : 0;
    std::string tail(static_cast<std::size_t>(size - tailStart), '\0');
    if (!file.ReadExactly(tailStart, tail.data(), tail.size())) {
        return false;
    }
    const auto* tailBytes = reinterpret_cast<const unsigned char*>(tail.data());
    const std::uint64_t offset = Be32(tailBytes + tail.size() - 4);
    if (offset > size - 4) {
        return false;
    }
    const std::uint64_t chunks = (offset + kFirefoxChunkSize - 1) / kFirefoxChunkSize;
    const std::uint64_t metaStart = offset + 4 + 2 * chunks;
    if (metaStart > size - 4) {
        return false;
    }
    const std::uint64_t metaLength = size - 4 - metaStart;
    if (metaLength > kFirefoxMaxMetadata) {
        return false;
    }
    std::string metaRead;
    std::string_view meta;
    if (metaStart >= tailStart) {
        meta = std::string_view(tail).substr(static_cast<std::size_t>(metaStart - tailStart),
                                             static_cast<std::size_t>(metaLength));
    } else {
        metaRead.resize(static_cast<std::size_t>(metaLength));  // bounded above
        if (!file.ReadExactly(metaStart, metaRead.data(), metaRead.size())) {
            return false;
        }
        meta = metaRead;
    }
    if (meta.size() < 28) {
        return false;
    }
    const auto* m = reinterpret_cast<const unsigned char*>(meta.data());
    const std::uint32_t version = Be32(m);
    if (version < 1 || version > 4) {
        return false;
    }
    // Version 1 has seven fields; the flags came later as an eighth.
    const std::size_t headerSize = version == 1 ? 28 : 32;
    if (meta.size() < headerSize) {
        return false;
    }
    facts.lastModified = Be32(m + 12);
    const std::uint64_t keySize = Be32(m + 24);
    if (keySize >= meta.size() - headerSize || meta[headerSize + keySize] != '\0') {
        return false;
    }
    const std::string_view key = meta.substr(headerSize, static_cast<std::size_t>(keySize));
    if (!IsCleanUtf8(key) || !FirefoxKeyUrl(key, facts.url)) {
        return false;
    }
    facts.bodySize = offset;

    // Elements: name NUL value NUL, to the end of the metadata; version 4 (as the Firefox
    // ESR of Debian 12 writes it) ends it with one more u32 after them.
    const std::uint64_t elementsStart = headerSize + keySize + 1;
    const std::uint64_t trailer = version >= 4 ? 4 : 0;
    if (meta.size() < elementsStart + trailer) {
        return false;
    }
    std::string_view elements =
        meta.substr(static_cast<std::size_t>(elementsStart),
                    static_cast<std::size_t>(meta.size() - elementsStart - trailer));
    while (!elements.empty()) {
        const auto nameEnd = elements.find('\0');
        if (nameEnd == std::string_view::npos) {
            return false;
        }
        const auto valueEnd = elements.find('\0', nameEnd + 1);
        if (valueEnd == std::string_view::npos) {
            return false;
        }
        const std::string_view name = elements.substr(0, nameEnd);
        const std::string_view value = elements.substr(nameEnd + 1, valueEnd - nameEnd - 1);
        if (name == "response-head") {
            facts.hasHead = ParseHttpHead(value, facts.head);
        } else if (name == "alt-data") {
            std::uint64_t altOffset = 0;
            if (AltDataOffset(value, altOffset) && altOffset <= facts.bodySize) {
                facts.bodySize = altOffset;
            }
        }
        elements.remove_prefix(valueEnd + 1);
    }
    if (!facts.hasHead) {
        facts.head = HttpHead{};
    }

    const auto sniff =
        static_cast<std::size_t>(std::min<std::uint64_t>(facts.bodySize, kSniffBytes));
    facts.firstBytes.resize(sniff);
    if (sniff > 0 && !file.ReadExactly(0, facts.firstBytes.data(), sniff)) {
        facts.firstBytes.clear();
    }
    return true;
}

}  // namespace cache
