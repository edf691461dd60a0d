#include "platform/ProfileText.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

constexpr std::string_view kLineBreaks = "\r\n";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Blanks around names and values; 0x1A is the old end-of-file mark some editors leave.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

// [begin, end) of `text`, shrunk past blanks on both sides.
struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool empty() const { return begin == end; }
    std::string_view in(std::string_view text) const { return text.substr(begin, end - begin); }
};

Span Trim(std::string_view text, std::size_t begin, std::size_t end) {
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return {begin, end};
}

std::string_view Trim(std::string_view s) {
    const Span span = Trim(s, 0, s.size());
    return span.in(s);
}

struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;   // where the line break starts
    std::size_t next = 0;  // where the next line starts
    bool hasBreak() const { return next > end; }
};

// The first CR or LF at or after `pos`, or npos. Looked for with memchr, block by block so
// that a file with only one kind of line break is not searched to its end for the other:
// find_first_of looks each byte up in the set, which made a pass over a large file
// several times slower.
std::size_t NextBreak(std::string_view text, std::size_t pos) {
    constexpr std::size_t kBlock = 256;
    const char* data = text.data();
    while (pos < text.size()) {
        const std::size_t length = std::min(kBlock, text.size() - pos);
        const auto* lf = static_cast<const char*>(std::memchr(data + pos, '\n', length));
        const std::size_t limit =
            lf != nullptr ? static_cast<std::size_t>(lf - data - pos) : length;
        const auto* cr = static_cast<const char*>(std::memchr(data + pos, '\r', limit));
        if (cr != nullptr) {
            return static_cast<std::size_t>(cr - data);
        }
        if (lf != nullptr) {
            return static_cast<std::size_t>(lf - data);
        }
        pos += length;
    }
    return std::string_view::npos;
}

Line LineAt(std::string_view text, std::size_t pos) {
    Line line;
    line.begin = pos;
    const std::size_t brk = NextBreak(text, pos);
    if (brk == std::string_view::npos) {
        line.end = line.next = text.size();
    } else {
        line.end = brk;
        line.next = brk + 1;
        if (text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n') {
            ++line.next;
        }
    }
    return line;
}

enum class Kind { kBlank, kComment, kSection, kKey };

struct Parsed {
    Kind kind = Kind::kBlank;
    Span name;
    std::size_t equals = std::string_view::npos;  // of a key line
    Span value;                                   // of a key line
};

Parsed ParseLine(std::string_view text, const Line& line) {
    std::size_t begin = line.begin;
    if (begin == 0 && text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        begin = kUtf8Bom.size();
    }
    const Span content = Trim(text, std::min(begin, line.end), line.end);
    Parsed parsed;
    if (content.empty()) {
        return parsed;
    }
    if (text[content.begin] == ';') {
        parsed.kind = Kind::kComment;
        return parsed;
    }
    if (text[content.begin] == '[') {
        const std::size_t close = content.in(text).rfind(']');
        if (close != std::string_view::npos && close > 0) {
            parsed.kind = Kind::kSection;
            parsed.name = Trim(text, content.begin + 1, content.begin + close);
            return parsed;
        }
        // No closing bracket: not a header, so it is read like any other line.
    }
    parsed.kind = Kind::kKey;
    const std::size_t eq = content.in(text).find('=');
    if (eq == std::string_view::npos) {
        parsed.name = content;
        parsed.value = {content.end, content.end};
    } else {
        parsed.equals = content.begin + eq;
        parsed.name = Trim(text, content.begin, parsed.equals);
        parsed.value = Trim(text, parsed.equals + 1, content.end);
    }
    return parsed;
}

// The first line break in `text`, so that added lines match the file's own convention.
std::string_view LineBreakOf(std::string_view text) {
    const std::size_t brk = text.find_first_of(kLineBreaks);
    if (brk == std::string_view::npos) {
        return "\n";
    }
    if (text[brk] == '\r') {
        return (brk + 1 < text.size() && text[brk + 1] == '\n') ? "\r\n" : "\r";
    }
    return "\n";
}

bool HasAny(std::string_view s, std::string_view chars) {
    return s.find_first_of(chars) != std::string_view::npos;
}

constexpr std::string_view kBreaksAndNul{"\r\n\0", 3};

bool WritableSectionName(std::string_view name) {
    return !name.empty() && !HasAny(name, kBreaksAndNul) && !HasAny(name, "[]");
}

bool WritableKeyName(std::string_view name) {
    return !name.empty() && !HasAny(name, kBreaksAndNul) && !HasAny(name, "=") &&
           name.front() != ';' && name.front() != '[';
}

// The reader trims a value and takes one pair of quotes off it; a value it would change
// so goes into quotes of its own.
std::string Quoted(std::string_view value) {
    const bool blankEnds = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    const bool quotedAlready = value.size() >= 2 &&
                               (value.front() == '"' || value.front() == '\'') &&
                               value.back() == value.front();
    if (!blankEnds && !quotedAlready) {
        return std::string(value);
    }
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted.append("\"").append(value).append("\"");
    return quoted;
}

}  // namespace

bool FindProfileValue(std::string_view text, std::string_view section, std::string_view key,
                      std::string* value) {
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || key.empty()) {
        return false;
    }
    bool inSection = false;
    for (std::size_t pos = 0; pos < text.size();) {
        const Line line = LineAt(text, pos);
        pos = line.next;
        const Parsed parsed = ParseLine(text, line);
        if (parsed.kind == Kind::kSection) {
            if (inSection) {
                return false;  // a later section of the same name is never looked at
            }
            inSection = SameName(parsed.name.in(text), section);
        } else if (parsed.kind == Kind::kKey && inSection && SameName(parsed.name.in(text), key)) {
            std::string_view found = parsed.value.in(text);
            if (found.size() >= 2 && (found.front() == '"' || found.front() == '\'') &&
                found.back() == found.front()) {
                found = found.substr(1, found.size() - 2);
            }
            found = found.substr(0, found.find('\0'));
            found = found.substr(0, kProfileMaxValueLength);
            value->assign(found);
            return true;
        }
    }
    return false;
}

bool SetProfileValue(std::string& text, std::string_view section, std::string_view key,
                     std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    if (!WritableSectionName(section) || !WritableKeyName(key) || HasAny(value, kBreaksAndNul)) {
        return false;
    }
    const std::string written = Quoted(value);
    value = written;
    const std::string_view brk = LineBreakOf(text);

    bool inSection = false;
    bool lastLineBlank = true;
    Line insertAfter;  // the section's header or its last key line
    for (std::size_t pos = 0; pos < text.size();) {
        const Line line = LineAt(text, pos);
        pos = line.next;
        const Parsed parsed = ParseLine(text, line);
        lastLineBlank = parsed.kind == Kind::kBlank;
        if (parsed.kind == Kind::kSection) {
            if (inSection) {
                break;
            }
            inSection = SameName(parsed.name.in(text), section);
            insertAfter = line;
        } else if (parsed.kind == Kind::kKey && inSection) {
            if (SameName(parsed.name.in(text), key)) {
                std::string replaced;
                if (parsed.equals == std::string_view::npos) {
                    replaced.append(text, 0, parsed.name.end).append("=");
                } else {
                    // Keep the spacing after '=' the file used, unless the value was empty.
                    const std::size_t keep =
                        parsed.value.empty() ? parsed.equals + 1 : parsed.value.begin;
                    replaced.append(text, 0, keep);
                }
                replaced.append(value).append(text, line.end, std::string::npos);
                text = std::move(replaced);
                return true;
            }
            insertAfter = line;
        }
    }

    std::string added;
    if (inSection) {
        if (!insertAfter.hasBreak()) {
            added.append(brk);
        }
        added.append(key).append("=").append(value).append(brk);
        text.insert(insertAfter.next, added);
        return true;
    }
    if (!text.empty()) {
        if (kLineBreaks.find(text.back()) == std::string_view::npos) {
            added.append(brk);
            lastLineBlank = false;
        }
        if (!lastLineBlank) {
            added.append(brk);
        }
    }
    added.append("[").append(section).append("]").append(brk);
    added.append(key).append("=").append(value).append(brk);
    text.append(added);
    return true;
}

}  // namespace platform
