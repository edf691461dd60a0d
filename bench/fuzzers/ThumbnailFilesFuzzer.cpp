// The files of the thumbnail cache and the facts index as found on disk (written by other
// programs, cut short by a crash, or anything at all): the PNG text reader and the index
// parser under arbitrary bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "media/FactsIndex.h"
#include "media/Thumbnail.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    std::vector<media::PngText> texts;
    if (media::ReadPngTexts(input, texts)) {
        // What was read can be written into a PNG again and read back the same.
        const std::string again = media::InsertPngTexts(input, texts);
        std::vector<media::PngText> back;
        Check(!again.empty() && media::ReadPngTexts(again, back) && back.size() == 2 * texts.size(),
              "texts written after the header read back", {{"input", input}});
    } else {
        Check(texts.empty(), "a refused PNG gives no texts", {{"input", input}});
    }

    media::FactsIndex index;
    const std::size_t count = index.Parse(input);
    Check(count == index.Size() && count <= media::FactsIndex::kMaxRecords,
          "the index holds what it read", {{"input", input}});
    const std::string text = index.Serialize();
    media::FactsIndex reread;
    Check(reread.Parse(text) == count && reread.Serialize() == text,
          "a saved index reads back as it was", {{"input", input}, {"saved", text}});
    return 0;
}
