// The DASH manifest reader (and its XML reader) under arbitrary input. The input is
//   manifest address \x01 manifest text
// and each run checks that whatever manifest is read holds only http(s) addresses, sane
// byte ranges and times, and stays within the bounds.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "ManifestChecks.h"
#include "cache/Stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string_view> fields = fuzz::SplitFields(data, size, 2);
    if (const auto m = cache::ReadDashManifest(fields[1], fields[0])) {
        fuzz::CheckManifest(*m, fields[1]);
    }
    return 0;
}
