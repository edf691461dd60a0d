#include "settings/IniFile.h"

#include <string>

#include "platform/ProfileFile.h"

std::optional<std::int32_t> ParseIniInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    const std::uint64_t limit =
        base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t magnitude = 0;
    for (const char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    const auto bits = static_cast<std::uint32_t>(magnitude);
    return static_cast<std::int32_t>(negative ? 0u - bits : bits);
}

std::string IniFile::ReadString(std::string_view section, std::string_view ident,
                                const std::string& defaultValue) {
    std::string value;
    switch (platform::ReadProfileString(path_, section, ident, &value)) {
        case platform::ProfileLookup::kFound:
            return value;
        case platform::ProfileLookup::kUnreadable:
            readFailed_ = true;
            break;
        case platform::ProfileLookup::kNotFound:
            break;
    }
    return defaultValue;
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view ident,
                                  std::int32_t defaultValue) {
    return ParseIniInteger(ReadString(section, ident, std::string())).value_or(defaultValue);
}

bool IniFile::ReadBool(std::string_view section, std::string_view ident, bool defaultValue) {
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

bool IniFile::WriteString(std::string_view section, std::string_view ident,
                          std::string_view value) {
    return platform::WriteProfileString(path_, section, ident, value);
}

bool IniFile::WriteInteger(std::string_view section, std::string_view ident, std::int32_t value) {
    return WriteString(section, ident, IntegerText(value));
}

bool IniFile::WriteBool(std::string_view section, std::string_view ident, bool value) {
    return WriteString(section, ident, BoolText(value));
}

std::string IniFile::IntegerText(std::int32_t value) {
    return std::to_string(value);
}

std::string IniFile::BoolText(bool value) {
    return value ? "1" : "0";
}

bool IniFile::WriteValues(const std::vector<Value>& values) {
    std::vector<platform::ProfileValue> all;
    all.reserve(values.size());
    for (const Value& v : values) {
        all.push_back({v.section, v.ident, v.text});
    }
    return platform::WriteProfileStrings(path_, all);
}
