#pragma once

// Small helpers shared by the fuzz targets: taking an input apart into fields and failing
// loudly, with the offending texts shown, when a property does not hold.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// The byte between the fields of an input. It is rare in the texts under test, so seeds
// stay readable, and a field can still hold every other byte.
constexpr char kFieldSeparator = '\x01';

// The first `count - 1` fields separated by kFieldSeparator, then the rest of the input
// as the last field; missing fields are empty.
inline std::vector<std::string_view> SplitFields(const std::uint8_t* data, std::size_t size,
                                                 std::size_t count) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> fields;
    while (fields.size() + 1 < count) {
        const std::size_t cut = rest.find(kFieldSeparator);
        if (cut == std::string_view::npos) {
            break;
        }
        fields.push_back(rest.substr(0, cut));
        rest.remove_prefix(cut + 1);
    }
    fields.push_back(rest);
    fields.resize(count);
    return fields;
}

// `text` with every byte outside printable ASCII as \xNN, for the failure report.
inline std::string Escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && c != '\\') {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    return out;
}

struct Shown {
    const char* label;
    std::string_view text;
};

// Aborts (which libFuzzer records as a finding) when `holds` is false.
inline void Check(bool holds, const char* property, std::initializer_list<Shown> shown = {}) {
    if (holds) {
        return;
    }
    std::fprintf(stderr, "property violated: %s\n", property);
    for (const Shown& s : shown) {
        std::fprintf(stderr, "  %s: \"%s\"\n", s.label, Escaped(s.text).c_str());
    }
    std::abort();
}

}  // namespace fuzz
