// Where files were left, read from a file that is not ours to trust: whatever it holds,
// what is kept writes out and reads back the same, within the bounds.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "player/ResumePoints.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ResumePoints points;
    points.Parse(text);
    Check(points.Size() <= ResumePoints::kMaxRecords, "no more records than the bound", {});
    const std::string written = points.Serialize();
    ResumePoints again;
    again.Parse(written);
    Check(again.Serialize() == written, "what is kept reads back the same", {{"written", written}});
    return 0;
}
