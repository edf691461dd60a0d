#include "cache/MediaType.h"

#include <array>
#include <cctype>
#include <cstring>
#include <utility>

namespace cache {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool Has(const unsigned char* bytes, std::size_t length, std::size_t at, const char* text) {
    const std::size_t n = std::strlen(text);
    return length >= at + n && std::memcmp(bytes + at, text, n) == 0;
}

// An MPEG audio frame header: sync, a real version and layer, a bit rate and a sample
// rate that exist.
bool IsMpegAudioFrame(const unsigned char* b, std::size_t length) {
    if (length < 4 || b[0] != 0xff || (b[1] & 0xe0) != 0xe0) {
        return false;
    }
    const unsigned version = (b[1] >> 3) & 3;
    const unsigned layer = (b[1] >> 1) & 3;
    const unsigned bitrate = b[2] >> 4;
    const unsigned rate = (b[2] >> 2) & 3;
    return version != 1 && layer != 0 && bitrate != 0 && bitrate != 15 && rate != 3;
}

// An ADTS header: sync, layer 00, a sample rate index that exists.
bool IsAdtsFrame(const unsigned char* b, std::size_t length) {
    return length >= 7 && b[0] == 0xff && (b[1] & 0xf6) == 0xf0 && ((b[2] >> 2) & 0x0f) < 13;
}

// Transport stream packets are 188 bytes, each starting with 0x47: two in a row, or one
// when the body is no longer.
bool IsTransportStream(const unsigned char* b, std::size_t length) {
    if (length < 188 || b[0] != 0x47) {
        return false;
    }
    return length < 189 || (b[188] == 0x47 && (length < 377 || b[376] == 0x47));
}

// WebM is Matroska with the document type "webm", which stands in the first header.
bool MatroskaSaysWebm(const unsigned char* b, std::size_t length) {
    const std::size_t limit = std::min<std::size_t>(length, 64);
    for (std::size_t i = 0; i + 4 <= limit; ++i) {
        if (std::memcmp(b + i, "webm", 4) == 0) {
            return true;
        }
    }
    return false;
}

constexpr std::array<std::pair<std::string_view, std::string_view>, 22> kExtensions{{
    {"video/mp4", "mp4"},       {"video/webm", "webm"},     {"video/x-matroska", "mkv"},
    {"video/x-flv", "flv"},     {"video/quicktime", "mov"}, {"video/x-msvideo", "avi"},
    {"video/avi", "avi"},       {"video/mp2t", "ts"},       {"video/mpeg", "mpg"},
    {"video/ogg", "ogv"},       {"video/3gpp", "3gp"},      {"video/x-ms-wmv", "wmv"},
    {"audio/mpeg", "mp3"},      {"audio/mp3", "mp3"},       {"audio/aac", "aac"},
    {"audio/mp4", "m4a"},       {"audio/ogg", "ogg"},       {"audio/webm", "weba"},
    {"audio/wav", "wav"},       {"audio/x-wav", "wav"},     {"application/ogg", "ogg"},
    {"application/mp4", "mp4"},
}};

// Types that are no media, though some of them say "audio" or "video": lists of other
// resources.
bool IsPlaylist(std::string_view type) {
    return EndsWith(type, "mpegurl") || EndsWith(type, "+xml") || EndsWith(type, "scpls") ||
           EndsWith(type, "/x-ms-asx");
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// What may not stand in a file name, or would only confuse in a list: "/", NUL and the
// other control characters become "_".
std::string SafeName(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7f) {
            c = '_';
        }
    }
    return text;
}

}  // namespace

std::string NormalizeContentType(std::string_view value) {
    const auto semicolon = value.find(';');
    value = value.substr(0, semicolon);
    std::string out;
    for (const char c : value) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\0') {
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

bool IsMediaContentType(std::string_view type) {
    if (IsPlaylist(type)) {
        return false;
    }
    if ((StartsWith(type, "video/") || StartsWith(type, "audio/")) && type.size() > 6) {
        return true;
    }
    return type == "application/ogg" || type == "application/mp4" ||
           type == "application/x-matroska" || type == "application/mxf" ||
           type == "application/x-flash-video";
}

bool IsUnusableContentType(std::string_view type) {
    return type.empty() || type == "application/octet-stream" || type == "binary/octet-stream" ||
           type == "application/unknown" || type == "application/binary" ||
           type == "application/x-download" || type == "application/force-download" ||
           type == "content/unknown";
}

std::string SniffMediaType(const unsigned char* b, std::size_t n) {
    if (Has(b, n, 4, "ftyp")) {
        return Has(b, n, 8, "qt  ") ? "video/quicktime" : "video/mp4";
    }
    if (Has(b, n, 4, "moov") || Has(b, n, 4, "mdat") || Has(b, n, 4, "wide") ||
        Has(b, n, 4, "free") || Has(b, n, 4, "skip")) {
        return "video/quicktime";
    }
    if (n >= 4 && b[0] == 0x1a && b[1] == 0x45 && b[2] == 0xdf && b[3] == 0xa3) {
        return MatroskaSaysWebm(b, n) ? "video/webm" : "video/x-matroska";
    }
    if (Has(b, n, 0, "FLV") && n >= 4 && b[3] == 1) {
        return "video/x-flv";
    }
    if (Has(b, n, 0, "RIFF") && Has(b, n, 8, "AVI ")) {
        return "video/x-msvideo";
    }
    if (Has(b, n, 0, "RIFF") && Has(b, n, 8, "WAVE")) {
        return "audio/wav";
    }
    if (Has(b, n, 0, "OggS")) {
        return "application/ogg";
    }
    if (n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0xba) {
        return "video/mpeg";
    }
    if (IsTransportStream(b, n)) {
        return "video/mp2t";
    }
    if (Has(b, n, 0, "ID3") || IsMpegAudioFrame(b, n)) {
        return "audio/mpeg";
    }
    if (IsAdtsFrame(b, n)) {
        return "audio/aac";
    }
    return {};
}

std::string MediaTypeOf(std::string_view contentType, std::string_view firstBytes) {
    if (IsMediaContentType(contentType)) {
        return std::string(contentType);
    }
    if (IsUnusableContentType(contentType)) {
        return SniffMediaType(reinterpret_cast<const unsigned char*>(firstBytes.data()),
                              firstBytes.size());
    }
    return {};
}

std::string_view ManifestTypeOf(std::string_view contentType, std::string_view firstBytes) {
    if (contentType == kHlsType || contentType == "application/x-mpegurl" ||
        contentType == "audio/mpegurl" || contentType == "audio/x-mpegurl") {
        return kHlsType;
    }
    if (contentType == kDashType) {
        return kDashType;
    }
    if (!IsUnusableContentType(contentType) && !StartsWith(contentType, "text/") &&
        !EndsWith(contentType, "/xml")) {
        return {};
    }
    // Servers that send playlists as text or octets: the text itself tells, after a
    // byte order mark and, for XML, a declaration or comments.
    std::string_view text = firstBytes;
    if (StartsWith(text, "\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    if (StartsWith(text, "#EXTM3U")) {
        return kHlsType;
    }
    const std::size_t root = text.find("<MPD");
    if (root != std::string_view::npos &&
        (root + 4 == text.size() || text[root + 4] == ' ' || text[root + 4] == '>' ||
         text[root + 4] == '\n' || text[root + 4] == '\r' || text[root + 4] == '\t')) {
        return kDashType;
    }
    return {};
}

std::string ExtensionForType(std::string_view type) {
    for (const auto& [name, extension] : kExtensions) {
        if (name == type) {
            return std::string(extension);
        }
    }
    return {};
}

std::string DisplayNameFromUrl(std::string_view url) {
    // scheme://host/path?query#fragment
    const auto scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("?#"));
    const auto slash = rest.find('/');
    std::string_view host = rest.substr(0, slash);
    host = host.substr(host.rfind('@') == std::string_view::npos ? 0 : host.rfind('@') + 1);
    if (slash != std::string_view::npos) {
        std::string_view path = rest.substr(slash);
        while (!path.empty() && path.back() == '/') {
            path.remove_suffix(1);
        }
        const std::string_view segment = path.substr(path.rfind('/') + 1);
        if (!segment.empty()) {
            const std::string name = SafeName(PercentDecoded(segment));
            if (name != "." && name != "..") {
                return name;
            }
        }
    }
    return SafeName(std::string(host));
}

bool IsCleanUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0) {
            return false;
        }
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra = 0;
        std::uint32_t code = 0;
        if ((c & 0xe0) == 0xc0) {
            extra = 1;
            code = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            extra = 2;
            code = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xc0) != 0x80) {
                return false;
            }
            code = (code << 6) | (d & 0x3f);
        }
        // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
        static constexpr std::uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
        if (code < kLeast[extra] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

}  // namespace cache
