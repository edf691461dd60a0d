#include "cache/Url.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace cache {

namespace {

struct Parts {
    std::string scheme;  // lower case, without ':'
    bool hasAuthority = false;
    std::string_view authority;
    std::string_view path;
    bool hasQuery = false;
    std::string_view query;
};

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Browsers strip C0 controls and spaces around a link and drop tabs and line breaks
// inside it.
std::string Cleaned(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) {
        text.remove_prefix(1);
    }
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) {
        text.remove_suffix(1);
    }
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c != '\t' && c != '\n' && c != '\r') {
            out += c == '\\' ? '/' : c;  // http(s) links take a backslash as a slash
        }
    }
    return out;
}

// Splits per RFC 3986 appendix B; the fragment is cut off.
Parts Split(std::string_view text) {
    Parts p;
    text = text.substr(0, text.find('#'));
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && colon > 0 && IsAlpha(text[0]) &&
        text.substr(0, colon).find_first_of("/?") == std::string_view::npos) {
        bool valid = true;
        for (const char c : text.substr(0, colon)) {
            valid =
                valid && (IsAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.');
        }
        if (valid) {
            for (const char c : text.substr(0, colon)) {
                p.scheme += Lower(c);
            }
            text.remove_prefix(colon + 1);
        }
    }
    if (text.substr(0, 2) == "//") {
        text.remove_prefix(2);
        const std::size_t end = std::min(text.find_first_of("/?"), text.size());
        p.hasAuthority = true;
        p.authority = text.substr(0, end);
        text.remove_prefix(end);
    }
    const std::size_t question = text.find('?');
    p.path = text.substr(0, question);
    if (question != std::string_view::npos) {
        p.hasQuery = true;
        p.query = text.substr(question + 1);
    }
    return p;
}

bool IsWeb(std::string_view scheme) {
    return scheme == "http" || scheme == "https";
}

// RFC 3986 5.2.4: "." and ".." segments taken out; ".." never climbs above the root.
std::string WithoutDots(std::string_view path) {
    std::string out;
    while (!path.empty()) {
        if (path.substr(0, 3) == "../") {
            path.remove_prefix(3);
        } else if (path.substr(0, 2) == "./") {
            path.remove_prefix(2);
        } else if (path.substr(0, 3) == "/./") {
            path.remove_prefix(2);
        } else if (path == "/.") {
            path = "/";
        } else if (path.substr(0, 4) == "/../" || path == "/..") {
            path = path.size() == 3 ? std::string_view("/") : path.substr(3);
            const std::size_t cut = out.rfind('/');
            out.resize(cut == std::string::npos ? 0 : cut);
        } else if (path == "." || path == "..") {
            path = {};
        } else {
            const std::size_t next = path.find('/', 1);
            const std::size_t end = next == std::string_view::npos ? path.size() : next;
            out.append(path.substr(0, end));
            path.remove_prefix(end);
        }
    }
    return out;
}

// Lower-case host, no credentials, no default port; false when there is no usable host.
bool NormalAuthority(std::string_view authority, std::string_view scheme, std::string& out) {
    // Credentials are no part of the address a cache keeps a reply under.
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    std::string_view port;
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) {
        return false;
    }
    for (const char c : host) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7f ||
            std::string_view("<>\"^|%/").find(c) != std::string_view::npos) {
            return false;  // no host a browser would fetch from
        }
    }
    for (const char c : port) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    while (port.size() > 1 && port.front() == '0') {
        port.remove_prefix(1);
    }
    if ((scheme == "http" && port == "80") || (scheme == "https" && port == "443")) {
        port = {};
    }
    for (const char c : host) {
        out += Lower(c);
    }
    if (!port.empty()) {
        out += ':';
        out.append(port);
    }
    return true;
}

void AppendEncoded(std::string& out, std::string_view text, bool inQuery) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        const bool escape = u <= 0x20 || u >= 0x7f || c == '"' || c == '<' || c == '>' ||
                            (!inQuery && (c == '`' || c == '{' || c == '}'));
        if (escape) {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
}

}  // namespace

std::string ResolveUrl(std::string_view base, std::string_view reference) {
    const std::string ref = Cleaned(reference);
    const std::string baseText = Cleaned(base);
    Parts r = Split(ref);
    const Parts b = Split(baseText);
    // A special scheme repeated without "//" ("http:seg.ts") is relative to a base of the
    // same scheme, as browsers read it.
    if (!r.scheme.empty() && r.scheme == b.scheme && IsWeb(r.scheme) && !r.hasAuthority) {
        r.scheme.clear();
    }

    Parts t;
    std::string path;
    if (!r.scheme.empty()) {
        t = r;
        path = WithoutDots(r.path);
    } else {
        if (!IsWeb(b.scheme) || !b.hasAuthority) {
            return {};
        }
        t.scheme = b.scheme;
        if (r.hasAuthority) {
            t.hasAuthority = true;
            t.authority = r.authority;
            path = WithoutDots(r.path);
            t.hasQuery = r.hasQuery;
            t.query = r.query;
        } else {
            t.hasAuthority = true;
            t.authority = b.authority;
            if (r.path.empty()) {
                path = WithoutDots(b.path);
                t.hasQuery = r.hasQuery || b.hasQuery;
                t.query = r.hasQuery ? r.query : b.query;
            } else {
                if (r.path.front() == '/') {
                    path = WithoutDots(r.path);
                } else {
                    const std::size_t slash = b.path.rfind('/');
                    std::string merged = slash == std::string_view::npos
                                             ? "/"
                                             : std::string(b.path.substr(0, slash + 1));
                    merged.append(r.path);
                    path = WithoutDots(merged);
                }
                t.hasQuery = r.hasQuery;
                t.query = r.query;
            }
        }
    }
    if (!IsWeb(t.scheme) || !t.hasAuthority) {
        return {};
    }
    std::string out = t.scheme + "://";
    if (!NormalAuthority(t.authority, t.scheme, out)) {
        return {};
    }
    if (path.empty() || path.front() != '/') {
        path.insert(path.begin(), '/');
    }
    AppendEncoded(out, path, false);
    if (t.hasQuery) {
        out += '?';
        AppendEncoded(out, t.query, true);
    }
    return out;
}

}  // namespace cache
