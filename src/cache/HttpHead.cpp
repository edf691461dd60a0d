#include "cache/HttpHead.h"

#include <cctype>

#include "cache/MediaType.h"

namespace cache {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// "HTTP/1.1 200 OK" gives 200; anything else 0.
int StatusOf(std::string_view line) {
    if (line.substr(0, 5) != "HTTP/") {
        return 0;
    }
    const auto blank = line.find(' ');
    if (blank == std::string_view::npos || line.size() < blank + 4) {
        return 0;
    }
    int status = 0;
    for (std::size_t i = blank + 1; i < blank + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return 0;
        }
        status = status * 10 + (line[i] - '0');
    }
    return status;
}

void TakeHeader(std::string_view line, HttpHead& head) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
        return;
    }
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (SameName(name, "Content-Type")) {
        head.contentType = NormalizeContentType(value);
    } else if (SameName(name, "Content-Length")) {
        head.hasContentLength = ParseDecimal(value, head.contentLength);
    } else if (SameName(name, "Content-Range")) {
        // "bytes 0-99/1000": the total after the slash; "*" says it is unknown.
        const auto slash = value.rfind('/');
        std::uint64_t total = 0;
        if (slash != std::string_view::npos && ParseDecimal(value.substr(slash + 1), total)) {
            head.rangeTotal = total;
        }
    }
}

}  // namespace

bool ParseDecimal(std::string_view text, std::uint64_t& value) {
    text = Trim(text);
    if (text.empty() || text.size() > 19) {
        return false;  // 19 digits always fit 64 bits
    }
    std::uint64_t result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<std::uint64_t>(c - '0');
    }
    value = result;
    return true;
}

bool ParseHttpHead(std::string_view text, HttpHead& head) {
    head = HttpHead{};
    bool first = true;
    while (!text.empty()) {
        std::size_t end = 0;
        while (end < text.size() && text[end] != '\0' && text[end] != '\n') {
            ++end;
        }
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end < text.size() ? end + 1 : end);
        if (first) {
            head.status = StatusOf(line);
            if (head.status == 0) {
                return false;
            }
            first = false;
        } else if (!line.empty()) {
            TakeHeader(line, head);
        }
    }
    return !first;
}

}  // namespace cache
