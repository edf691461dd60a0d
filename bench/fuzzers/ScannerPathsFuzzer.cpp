// The scanner's path arithmetic under arbitrary names. The input is
//   pattern \x01 name \x01 eight bytes \x01 eight bytes
// (the last two, when present, are lengths for FitsPathLimit beyond real string sizes).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "browser/CacheScanner.h"
#include "platform/DirectoryListing.h"

namespace {

using fuzz::Check;

// Whether a subdirectory pattern patternLength + nameLength + 1 long, with its zero,
// fits kMaxPath; computed so that no length can overflow.
bool FitsExactly(std::size_t patternLength, std::size_t nameLength) {
    const unsigned __int128 needed =
        static_cast<unsigned __int128>(patternLength) + nameLength + 1 + 1;
    return needed <= platform::kMaxPath;
}

std::size_t LengthFrom(std::string_view bytes) {
    std::size_t length = 0;
    if (!bytes.empty()) {
        std::memcpy(&length, bytes.data(), std::min(bytes.size(), sizeof length));
    }
    return length;
}

void CheckSubdirectoryPattern(const std::string& pattern, const std::string& name) {
    const std::string sub = SubdirectoryPattern(pattern, name);
    const std::size_t slash = pattern.rfind('/');
    const std::size_t tail = slash == std::string::npos ? 0 : slash + 1;
    Check(sub == pattern.substr(0, tail) + name + "/" + pattern.substr(tail),
          "SubdirectoryPattern puts name and '/' before the last component",
          {{"pattern", pattern}, {"name", name}, {"result", sub}});

    // The new pattern searches the subdirectory of the old one's directory.
    const std::string expectedDirectory =
        slash == std::string::npos ? name : PatternDirectory(pattern) + "/" + name;
    Check(PatternDirectory(sub) == expectedDirectory,
          "PatternDirectory of a subdirectory pattern is the parent, '/' and the name",
          {{"pattern", pattern}, {"name", name}, {"result", sub}});

    Check(FitsPathLimit(pattern.size(), name.size()) == (sub.size() + 1 <= platform::kMaxPath),
          "FitsPathLimit tells whether the subdirectory pattern fits with its zero",
          {{"pattern", pattern}, {"name", name}});
}

void CheckTopLevelPattern(const std::string& dir) {
    const std::string top = TopLevelPattern(dir);
    const std::string_view tail = "/*.*";
    Check(
        top.size() >= tail.size() && top.compare(top.size() - tail.size(), tail.size(), tail) == 0,
        "TopLevelPattern ends in /*.*", {{"dir", dir}, {"result", top}});
    // One trailing separator is the directory's own; the entries then read dir + "/" + name.
    const std::string withoutSlash =
        !dir.empty() && dir.back() == '/' ? dir.substr(0, dir.size() - 1) : dir;
    Check(PatternDirectory(top) == withoutSlash,
          "PatternDirectory undoes TopLevelPattern, one trailing '/' aside",
          {{"dir", dir}, {"result", top}});
}

void CheckPatternDirectory(const std::string& pattern) {
    const std::string directory = PatternDirectory(pattern);
    const std::size_t slash = pattern.rfind('/');
    Check(directory == (slash == std::string::npos ? std::string() : pattern.substr(0, slash)),
          "PatternDirectory is everything before the last '/'",
          {{"pattern", pattern}, {"result", directory}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string_view> fields = fuzz::SplitFields(data, size, 4);
    const std::string pattern(fields[0]);
    const std::string name(fields[1]);

    CheckPatternDirectory(pattern);
    CheckTopLevelPattern(pattern);
    CheckSubdirectoryPattern(pattern, name);

    if (!fields[2].empty()) {
        const std::size_t patternLength = LengthFrom(fields[2]);
        const std::size_t nameLength = LengthFrom(fields[3]);
        Check(FitsPathLimit(patternLength, nameLength) == FitsExactly(patternLength, nameLength),
              "FitsPathLimit never wraps around",
              {{"pattern length bytes", fields[2]}, {"name length bytes", fields[3]}});
    }
    return 0;
}
