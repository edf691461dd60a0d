#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One INI file, read and written value by value. Every read looks at the file as it is
// now, every write reaches the file at once. Reads never fail: what cannot be read gives
// the default (and is remembered in ReadFailed()); writes report failure as false.
class IniFile {
  public:
    explicit IniFile(std::string path) : path_(std::move(path)) {}

    const std::string& FileName() const { return path_; }

    std::string ReadString(std::string_view section, std::string_view ident,
                           const std::string& defaultValue);
    std::int32_t ReadInteger(std::string_view section, std::string_view ident,
                             std::int32_t defaultValue);
    // An integer that is true when not zero.
    bool ReadBool(std::string_view section, std::string_view ident, bool defaultValue);

    bool WriteString(std::string_view section, std::string_view ident, std::string_view value);
    // Signed decimal.
    bool WriteInteger(std::string_view section, std::string_view ident, std::int32_t value);
    // "1" or "0".
    bool WriteBool(std::string_view section, std::string_view ident, bool value);

    // Several values written together: one replacement of the file, so a reader sees all
    // of them or none. A value the file cannot hold (a line break in it) is left out, the
    // file keeping its old value, and the result is false; the others are still written.
    struct Value {
        std::string_view section;
        std::string_view ident;
        std::string text;
    };
    bool WriteValues(const std::vector<Value>& values);
    static std::string IntegerText(std::int32_t value);
    static std::string BoolText(bool value);

    // True once a read met a file that exists but could not be read.
    bool ReadFailed() const { return readFailed_; }

  private:
    std::string path_;
    bool readFailed_ = false;
};

// Decimal, or hexadecimal after "0x", "0X" or "$", with an optional sign; nothing before or
// after. Decimal must fit a signed 32-bit number; hexadecimal may use all 32 bits (so
// "$FFFFFFFF" is -1), and the sign then negates that bit pattern. Anything else, the empty
// text included, gives nothing.
std::optional<std::int32_t> ParseIniInteger(std::string_view text);
