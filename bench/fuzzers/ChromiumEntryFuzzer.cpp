// Chromium's `_0` entry reader on arbitrary bytes: it must never read outside the file,
// and whatever it accepts must lie inside it.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzSupport.h"
#include "cache/ChromiumEntry.h"
#include "cache/MediaType.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    cache::ChromiumEntryFacts facts;
    if (!cache::ReadChromiumEntry(cache::MemorySource(bytes), facts)) {
        return 0;
    }
    fuzz::Check(facts.bodyOffset <= size && facts.bodySize <= size - facts.bodyOffset,
                "the body lies inside the file", {{"input", bytes}});
    fuzz::Check(cache::IsCleanUtf8(facts.url), "the address is clean UTF-8", {{"url", facts.url}});
    fuzz::Check(facts.firstBytes.size() <= cache::kSniffBytes &&
                    bytes.substr(static_cast<std::size_t>(facts.bodyOffset),
                                 facts.firstBytes.size()) == facts.firstBytes,
                "the first bytes are the body's", {{"input", bytes}});
    (void)cache::MediaTypeOf(facts.head.contentType, facts.firstBytes);
    (void)cache::DisplayNameFromUrl(facts.url);
    return 0;
}
