#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cache {

// What the program wants of a cached response's status line and headers.
struct HttpHead {
    int status = 0;                   // 0 when the status line is not HTTP's
    std::string contentType;          // normalized (see NormalizeContentType)
    std::uint64_t contentLength = 0;  // valid when hasContentLength
    bool hasContentLength = false;
    std::uint64_t rangeTotal = 0;  // the "/total" of a Content-Range, 0 when none
};

// Parses a status line and header lines. Chromium separates them with NULs, Firefox with
// CR LF; both are taken. Unknown and malformed lines are passed over. False when the
// first line is not an HTTP status line.
bool ParseHttpHead(std::string_view text, HttpHead& head);

// The decimal number `text` holds exactly (blanks around it allowed); false on anything
// else, an overflow included.
bool ParseDecimal(std::string_view text, std::uint64_t& value);

}  // namespace cache
