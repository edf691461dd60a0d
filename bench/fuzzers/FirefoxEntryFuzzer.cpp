// Firefox's cache2 metadata reader on arbitrary bytes: it must never read outside the
// file, and the body it finds lies before the metadata.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "cache/FirefoxEntry.h"
#include "cache/MediaType.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    cache::FirefoxEntryFacts facts;
    if (!cache::ReadFirefoxEntry(cache::MemorySource(bytes), facts)) {
        std::string url;
        (void)cache::FirefoxKeyUrl(bytes, url);
        return 0;
    }
    fuzz::Check(size >= 4 && facts.bodySize <= size - 4, "the body lies before the metadata",
                {{"input", bytes}});
    fuzz::Check(cache::IsCleanUtf8(facts.url) && !facts.url.empty(), "the address is clean",
                {{"url", facts.url}});
    fuzz::Check(bytes.substr(0, facts.firstBytes.size()) == facts.firstBytes,
                "the first bytes are the body's", {{"input", bytes}});
    (void)cache::DisplayNameFromUrl(facts.url);
    return 0;
}
