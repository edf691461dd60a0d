#include "media/Thumbnail.h"

extern "C" {
#include <libavutil/crc.h>
#include <libavutil/md5.h>
}

#include <cstring>

#include "platform/WholeFile.h"

namespace media {

namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// Signature, then the header chunk: length, type, 13 bytes, checksum.
constexpr std::size_t kHeaderEnd = 8 + 4 + 4 + 13 + 4;
// Thumbnails are small; anything far bigger is not one of ours or a standard one.
constexpr std::size_t kMaxThumbnailFile = 8u << 20;

std::uint32_t Crc(const unsigned char* data, std::size_t size) {
    return av_crc(av_crc_get_table(AV_CRC_32_IEEE_LE), 0xffffffffU, data, size) ^ 0xffffffffU;
}

std::uint32_t Get32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

void Put32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((value >> shift) & 0xff);
    }
}

bool IsUnescaped(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("!$&'()*+,-./:=@_~", c) != nullptr;
}

}  // namespace

std::string FileUri(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c != 0 && IsUnescaped(c)) {
            uri += ch;
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

std::string Md5Hex(std::string_view text) {
    std::uint8_t digest[16];
    av_md5_sum(digest, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t b : digest) {
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    return hex;
}

std::string ThumbnailPath(const std::string& cacheHome, const ThumbnailSize& size,
                          const std::string& uri) {
    return cacheHome + "/thumbnails/" + size.folder + "/" + Md5Hex(uri) + ".png";
}

std::string InsertPngTexts(std::string_view png, const std::vector<PngText>& texts) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(png.data());
    if (png.size() < kHeaderEnd || std::memcmp(bytes, kSignature, 8) != 0 ||
        Get32(bytes + 8) != 13 || std::memcmp(bytes + 12, "IHDR", 4) != 0) {
        return {};
    }
    std::string out(png.substr(0, kHeaderEnd));
    for (const PngText& text : texts) {
        std::string chunk = "tEXt";
        chunk += text.key;
        chunk += '\0';
        chunk += text.value;
        Put32(out, static_cast<std::uint32_t>(chunk.size() - 4));
        out += chunk;
        Put32(out, Crc(reinterpret_cast<const unsigned char*>(chunk.data()), chunk.size()));
    }
    out.append(png.substr(kHeaderEnd));
    return out;
}

bool ReadPngTexts(std::string_view png, std::vector<PngText>& texts) {
    texts.clear();
    const auto* bytes = reinterpret_cast<const unsigned char*>(png.data());
    if (png.size() < kHeaderEnd || std::memcmp(bytes, kSignature, 8) != 0) {
        return false;
    }
    std::size_t at = 8;
    bool first = true;
    while (png.size() - at >= 12) {
        const std::uint32_t length = Get32(bytes + at);
        // Compared as a difference, so that no length wraps the sum around.
        if (length > png.size() - at - 12) {
            break;
        }
        const unsigned char* type = bytes + at + 4;
        const unsigned char* data = type + 4;
        if (Get32(data + length) != Crc(type, std::size_t{length} + 4)) {
            break;
        }
        if (first != (std::memcmp(type, "IHDR", 4) == 0) || (first && length != 13)) {
            break;  // the header comes first, only there, and has its size
        }
        first = false;
        if (std::memcmp(type, "IEND", 4) == 0) {
            if (at + 12 == png.size()) {
                return true;
            }
            break;  // something after the end
        }
        if (std::memcmp(type, "tEXt", 4) == 0) {
            const auto* text = reinterpret_cast<const char*>(data);
            const void* zero = std::memchr(text, 0, length);
            if (zero != nullptr) {
                const auto keyLength =
                    static_cast<std::size_t>(static_cast<const char*>(zero) - text);
                texts.push_back({std::string(text, keyLength),
                                 std::string(text + keyLength + 1, length - keyLength - 1)});
            }
        }
        at += std::size_t{length} + 12;
    }
    texts.clear();
    return false;
}

const std::string* FindPngText(const std::vector<PngText>& texts, std::string_view key) {
    for (const PngText& text : texts) {
        if (text.key == key) {
            return &text.value;
        }
    }
    return nullptr;
}

bool ThumbnailIsCurrent(const std::string& path, const std::string& uri, std::int64_t mtime) {
    std::string png;
    std::vector<PngText> texts;
    if (!platform::ReadWholeFile(path, kMaxThumbnailFile, png) || !ReadPngTexts(png, texts)) {
        return false;
    }
    const std::string* storedUri = FindPngText(texts, kThumbUri);
    const std::string* storedTime = FindPngText(texts, kThumbMTime);
    return storedUri != nullptr && storedTime != nullptr && *storedUri == uri &&
           *storedTime == std::to_string(mtime);
}

}  // namespace media
