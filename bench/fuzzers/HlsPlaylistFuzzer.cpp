// The HLS playlist reader and the address resolution under arbitrary input. The input is
//   playlist address \x01 reference \x01 playlist text
// and each run checks that the reference resolves to an http(s) address or none, and that
// whatever playlist is read holds only http(s) addresses, sane byte ranges and times, and
// stays within the bounds.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "ManifestChecks.h"
#include "cache/Stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string_view> fields = fuzz::SplitFields(data, size, 3);
    fuzz::CheckResolved(fields[0], fields[1]);
    if (const auto m = cache::ReadHlsPlaylist(fields[2], fields[0])) {
        fuzz::CheckManifest(*m, fields[2]);
        fuzz::Check(!m->master || m->renditions.empty() || m->renditions.front().segments.empty(),
                    "a master names playlists, not segments", {{"text", fields[2]}});
    }
    return 0;
}
