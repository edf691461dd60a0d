#pragma once

// Small writers of the two browser caches the program reads, for tests: they produce the
// bytes of Chromium's simple-cache files and of Firefox's cache2 entry files, byte for
// byte as the browsers lay them out, so that tests can build good and bad caches alike.
// Everything returns the file's bytes; the Write* helpers put them on disk.
//
//   Chromium `<hash>_0`: [header][key][body][end record][response info][key hash][end record]
//   Chromium `<hash>_s`: [header][key] then per range [range header][data]
//   Firefox entry:       [body][hash][chunk hashes][header][key NUL][elements][offset]

#include <cstdint>
#include <string>
#include <vector>

#include "TempDir.h"

namespace testsupport {

inline void PutLe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

inline void PutBe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out += static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

// ---- Chromium --------------------------------------------------------------------

constexpr std::uint64_t kChromiumMagicValue = 0xfcfb6d1ba7725c30ULL;
constexpr std::uint64_t kChromiumEndMagicValue = 0xf4fa6f45970d41d8ULL;
constexpr std::uint64_t kChromiumRangeMagicValue = 0xeb97bf016553676bULL;

// A key as today's Chromium writes it: partition prefixes, then a blank and the URL.
inline std::string ChromiumKey(const std::string& url) {
    return "1/0/_dk_https://site.test https://site.test " + url;
}

// The response headers of stream 0.
struct ChromiumResponse {
    std::string statusLine = "HTTP/1.1 200 OK";
    std::vector<std::string> headers;  // "Name: value"
    bool truncated = false;
    bool extraFlags = true;            // the flags word is followed by extra flags
    bool originalResponseTime = true;  // extra flag bit 2 and its time field
};

inline ChromiumResponse ChromiumHttp(const std::string& type, std::int64_t length = -1) {
    ChromiumResponse r;
    if (!type.empty()) {
        r.headers.push_back("Content-Type: " + type);
    }
    if (length >= 0) {
        r.headers.push_back("Content-Length: " + std::to_string(length));
    }
    return r;
}

// Stream 0: a serialized response info (payload size, flags, times, raw headers).
inline std::string ChromiumStream0(const ChromiumResponse& r) {
    std::string raw = r.statusLine + '\0';
    for (const auto& h : r.headers) {
        raw += h + '\0';
    }
    raw += '\0';
    std::string payload;
    std::uint32_t flags = 3;  // the version in the low bits
    if (r.truncated) {
        flags |= 1u << 12;
    }
    if (r.extraFlags) {
        flags |= 1u << 31;
    }
    PutLe(payload, flags, 4);
    if (r.extraFlags) {
        PutLe(payload, r.originalResponseTime ? 4 : 0, 4);
    }
    PutLe(payload, 13300000000000000ULL, 8);  // request time
    PutLe(payload, 13300000000100000ULL, 8);  // response time
    if (r.extraFlags && r.originalResponseTime) {
        PutLe(payload, 13300000000000000ULL, 8);
    }
    PutLe(payload, raw.size(), 4);
    payload += raw;
    while (payload.size() % 4 != 0) {
        payload += '\0';
    }
    payload += std::string(8, '\x7f');  // fields the program does not read
    std::string out;
    PutLe(out, payload.size(), 4);
    return out + payload;
}

inline std::string ChromiumFileHeader(const std::string& key, std::uint32_t version = 5,
                                      std::uint64_t magic = kChromiumMagicValue) {
    std::string out;
    PutLe(out, magic, 8);
    PutLe(out, version, 4);
    PutLe(out, key.size(), 4);
    PutLe(out, 0x12345678, 4);  // key hash
    PutLe(out, 0, 4);
    return out + key;
}

inline std::string ChromiumEndRecord(std::uint32_t flags, std::uint64_t streamSize) {
    std::string out;
    PutLe(out, kChromiumEndMagicValue, 8);
    PutLe(out, flags, 4);
    PutLe(out, 0, 4);  // crc32
    PutLe(out, streamSize, 4);
    PutLe(out, 0, 4);
    return out;
}

// A closed `_0` file. With `keyHash`, stream 0 is followed by the key's SHA-256 (here
// any 32 bytes) and its end record says so.
inline std::string ChromiumEntryFile(const std::string& key, const std::string& body,
                                     const std::string& stream0, bool keyHash = true) {
    std::string out = ChromiumFileHeader(key) + body;
    out += ChromiumEndRecord(0, body.size());
    out += stream0;
    if (keyHash) {
        out += std::string(32, '\x5a');
    }
    out += ChromiumEndRecord(keyHash ? 3 : 1, stream0.size());
    return out;
}

// A `_0` file the browser is still writing: header, key and the body so far.
inline std::string ChromiumOpenEntryFile(const std::string& key, const std::string& bodySoFar) {
    return ChromiumFileHeader(key) + bodySoFar;
}

struct ChromiumRangeData {
    std::uint64_t offset;
    std::string data;
};

inline std::string ChromiumRangeHeader(std::uint64_t offset, std::uint64_t length,
                                       std::uint64_t magic = kChromiumRangeMagicValue) {
    std::string out;
    PutLe(out, magic, 8);
    PutLe(out, offset, 8);
    PutLe(out, length, 8);
    PutLe(out, 0, 4);
    PutLe(out, 0, 4);
    return out;
}

// A `_s` file holding `ranges` in the order given (the order they arrived in).
inline std::string ChromiumSparseFile(const std::string& key,
                                      const std::vector<ChromiumRangeData>& ranges) {
    std::string out = ChromiumFileHeader(key, 9);
    for (const auto& r : ranges) {
        out += ChromiumRangeHeader(r.offset, r.data.size()) + r.data;
    }
    return out;
}

// `resource` cut into ranges of `piece` bytes, in order.
inline std::vector<ChromiumRangeData> ChromiumPieces(const std::string& resource,
                                                     std::size_t piece = 65536) {
    std::vector<ChromiumRangeData> ranges;
    for (std::size_t at = 0; at < resource.size(); at += piece) {
        ranges.push_back({at, resource.substr(at, piece)});
    }
    return ranges;
}

// The folder's `index`: what tells a Chromium cache folder.
inline void WriteChromiumIndex(const std::string& dir) {
    std::string index;
    PutLe(index, kChromiumMagicValue, 8);
    PutLe(index, 9, 4);
    index += std::string(12, '\0');
    WriteFile(dir + "/index", index);
}

// ---- Firefox ---------------------------------------------------------------------

inline std::string FirefoxResponseHead(const std::string& type, std::int64_t length = -1,
                                       const std::string& status = "HTTP/1.1 200 OK") {
    std::string head = status + "\r\n";
    if (!type.empty()) {
        head += "Content-Type: " + type + "\r\n";
    }
    if (length >= 0) {
        head += "Content-Length: " + std::to_string(length) + "\r\n";
    }
    return head;
}

struct FirefoxElement {
    std::string name;
    std::string value;
};

// One entry file. `key` is the whole cache key (e.g. "a,:https://x/v.mp4"); version 1
// has no flags field.
inline std::string FirefoxEntryFile(const std::string& key, const std::string& body,
                                    const std::vector<FirefoxElement>& elements,
                                    std::uint32_t version = 3) {
    std::string out = body;
    PutBe(out, 0xdeadbeef, 4);  // metadata hash
    const std::size_t chunks = (body.size() + 262143) / 262144;
    for (std::size_t i = 0; i < chunks; ++i) {
        PutBe(out, 0xabcd, 2);
    }
    PutBe(out, version, 4);
    PutBe(out, 1, 4);           // fetch count
    PutBe(out, 1700000000, 4);  // last fetched
    PutBe(out, 1700000000, 4);  // last modified
    PutBe(out, 1, 4);           // frecency
    PutBe(out, 0xffffffff, 4);  // expiration
    PutBe(out, key.size(), 4);
    if (version != 1) {
        PutBe(out, 0, 4);  // flags
    }
    out += key + '\0';
    for (const auto& e : elements) {
        out += e.name + '\0' + e.value + '\0';
    }
    PutBe(out, body.size(), 4);
    return out;
}

inline std::string FirefoxMediaEntry(const std::string& url, const std::string& body,
                                     const std::string& type, std::int64_t length = -1) {
    if (length < 0) {
        length = static_cast<std::int64_t>(body.size());
    }
    return FirefoxEntryFile("a,:" + url, body,
                            {{"request-method", "GET"},
                             {"response-head", FirefoxResponseHead(type, length)},
                             {"net-response-time-onstart", "12"}});
}

// A Firefox cache2 folder: `cache2/index` and `cache2/entries/`. Returns the entries
// folder.
inline std::string MakeFirefoxCache(const std::string& cache2) {
    std::filesystem::create_directories(cache2 + "/entries");
    WriteFile(cache2 + "/index", std::string(12, '\0'));
    return cache2 + "/entries";
}

// A body that starts like an MP4 file: what the signature test knows as video.
inline std::string Mp4Body(std::size_t size, char fill = 'v') {
    std::string body(
        "\0\0\0\x18"
        "ftypisom\0\0\0\0isomiso2",
        24);
    if (size > body.size()) {
        body += std::string(size - body.size(), fill);
    }
    body.resize(size);
    return body;
}

}  // namespace testsupport
