// The profile text rules under arbitrary input. The input is
//   section \x01 key \x01 value \x01 text
// and each run checks:
//  - looking the key up in any text ends and hands out a plausible value;
//  - a write is accepted exactly for names that can be written and values without a line
//    break or NUL, and the value then reads back as it was (blanks and quotes at its ends
//    included), cut at kProfileMaxValueLength characters;
//  - the write touches one line at most: the bytes outside it are the same, and every
//    other key of the file reads as before.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "platform/ProfileText.h"

namespace {

using fuzz::Check;

constexpr std::string_view kBreaks = "\r\n";
constexpr std::string_view kBreaksAndNul{"\r\n\0", 3};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool Contains(std::string_view s, std::string_view chars) {
    return s.find_first_of(chars) != std::string_view::npos;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool SameName(std::string_view a, std::string_view b) {
    a = Trimmed(a);
    b = Trimmed(b);
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Names that a header or a key line can carry without changing the file's structure.
bool WritableSection(std::string_view name) {
    name = Trimmed(name);
    return !name.empty() && !Contains(name, kBreaksAndNul) && !Contains(name, "[]");
}

bool WritableKey(std::string_view name) {
    name = Trimmed(name);
    return !name.empty() && !Contains(name, kBreaksAndNul) && !Contains(name, "=") &&
           name.front() != ';' && name.front() != '[';
}

// What a written value reads back as: itself, as long as the reader hands out values.
std::string ReadBack(std::string_view value) {
    return std::string(value.substr(0, platform::kProfileMaxValueLength));
}

// Section and key names that occur in `text`, found by a rough reading of its lines:
// enough to probe the keys that a write must leave alone.
constexpr std::size_t kMaxProbeNames = 8;
void CollectNames(std::string_view text, std::vector<std::string>& sections,
                  std::vector<std::string>& keys) {
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of(kBreaks), text.size());
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t close = line.rfind(']');
        if (!line.empty() && line.front() == '[' && close != std::string_view::npos) {
            if (sections.size() < kMaxProbeNames) {
                sections.emplace_back(line.substr(1, close - 1));
            }
        } else if (!line.empty() && line.front() != ';' && keys.size() < kMaxProbeNames) {
            keys.emplace_back(line.substr(0, line.find('=')));
        }
    }
}

struct Lookup {
    bool found = false;
    std::string value;
    bool operator==(const Lookup&) const = default;
};

Lookup Find(std::string_view text, std::string_view section, std::string_view key) {
    Lookup result;
    result.found = platform::FindProfileValue(text, section, key, &result.value);
    return result;
}

void CheckLookupOfAnyText(std::string_view text, std::string_view section, std::string_view key) {
    const Lookup got = Find(text, section, key);
    if (got.found) {
        Check(got.value.size() <= platform::kProfileMaxValueLength &&
                  !Contains(got.value, kBreaksAndNul),
              "a value read from any text is one line of bounded length without NUL",
              {{"text", text}, {"section", section}, {"key", key}, {"value", got.value}});
    }
}

// The edit between `before` and `after` lies inside one line: what it replaced holds no
// line break (an added line replaces nothing).
void CheckOneLineEdit(const std::string& before, const std::string& after) {
    const std::size_t shorter = std::min(before.size(), after.size());
    std::size_t prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
        ++suffix;
    }
    const std::string_view replaced =
        std::string_view(before).substr(prefix, before.size() - prefix - suffix);
    Check(!Contains(replaced, kBreaks), "a write changes the bytes of one line at most",
          {{"before", before}, {"after", after}, {"replaced", replaced}});
}

void CheckOtherKeysKept(const std::string& before, const std::string& after,
                        std::string_view section, std::string_view key) {
    std::vector<std::string> sections{std::string(section)};
    std::vector<std::string> keys{std::string(key)};
    CollectNames(before, sections, keys);
    for (const std::string& s : sections) {
        for (const std::string& k : keys) {
            if (SameName(s, section) && SameName(k, key)) {
                continue;
            }
            Check(Find(before, s, k) == Find(after, s, k),
                  "a write leaves every other key as it read",
                  {{"before", before}, {"after", after}, {"probe section", s}, {"probe key", k}});
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string_view> fields = fuzz::SplitFields(data, size, 4);
    const std::string_view section = fields[0];
    const std::string_view key = fields[1];
    const std::string_view value = fields[2];
    const std::string before(fields[3]);

    CheckLookupOfAnyText(before, section, key);

    std::string after = before;
    const bool written = platform::SetProfileValue(after, section, key, value);
    Check(written ==
              (WritableSection(section) && WritableKey(key) && !Contains(value, kBreaksAndNul)),
          "a write is refused exactly for names and values that cannot be written",
          {{"section", section}, {"key", key}, {"value", value}});
    if (!written) {
        Check(after == before, "a refused write leaves the text alone",
              {{"before", before}, {"after", after}});
        return 0;
    }

    const Lookup got = Find(after, section, key);
    const std::string expected = ReadBack(value);
    Check(got.found && got.value == expected, "a written value reads back",
          {{"before", before},
           {"after", after},
           {"value", value},
           {"expected", expected},
           {"read", got.value}});
    CheckOneLineEdit(before, after);
    CheckOtherKeysKept(before, after, section, key);
    return 0;
}
