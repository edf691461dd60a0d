// Random bodies through the media facts reader with its limits on, as the worker reads
// cached files: whatever the bytes, the reader ends in time and its facts are sane.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "media/MediaFacts.h"
#include "media/Thumbnail.h"

namespace {

using fuzz::Check;

class MemoryBody final : public cache::BodyReader {
  public:
    MemoryBody(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        if (offset >= size_) {
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(length, size_ - offset);
        std::memcpy(buffer, data_ + offset, n);
        return static_cast<std::int64_t>(n);
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    media::Limits limits;
    limits.time = std::chrono::milliseconds(2000);
    limits.probeBytes = 1 << 20;
    limits.maxSide = 4096;
    limits.maxPixels = 4096 * 2304;
    limits.maxPackets = 200;
    const std::vector<media::PngText> texts = {{media::kThumbUri, "file:///f"},
                                               {media::kThumbMTime, "1"}};
    MemoryBody body(data, size);
    std::vector<media::Thumbnail> thumbnails;
    media::Outcome outcome = media::Outcome::Done;
    const media::Facts facts =
        media::ReadFactsAndThumbnails(body, limits, {256, 128}, texts, thumbnails, &outcome);
    const std::string shown = media::PictureText(facts) + " " + media::LengthText(facts);

    Check(outcome != media::Outcome::Cancelled, "nothing cancelled it", {{"facts", shown}});
    Check(facts.durationMs >= -1, "a duration is known or -1", {{"facts", shown}});
    switch (facts.kind) {
        case media::Kind::NotMedia:
            Check(facts == media::Facts{} && thumbnails.empty(), "not media says nothing more",
                  {{"facts", shown}});
            break;
        case media::Kind::AudioOnly:
            Check(facts.width == 0 && facts.height == 0 && facts.videoCodec.empty() &&
                      !facts.audioCodec.empty() && thumbnails.empty(),
                  "sound only has no picture", {{"facts", shown}});
            break;
        case media::Kind::Video:
            Check(facts.width > 0 && facts.height > 0 && facts.width <= limits.maxSide &&
                      facts.height <= limits.maxSide &&
                      std::int64_t{facts.width} * facts.height <= limits.maxPixels &&
                      !facts.videoCodec.empty(),
                  "a picture within the limits", {{"facts", shown}});
            break;
    }
    Check(thumbnails.empty() || thumbnails.size() == 2, "a thumbnail for every size or none",
          {{"facts", shown}});
    const int sides[] = {256, 128};
    for (std::size_t i = 0; i < thumbnails.size(); ++i) {
        const media::Thumbnail& t = thumbnails[i];
        std::vector<media::PngText> read;
        Check(t.width > 0 && t.height > 0 && std::max(t.width, t.height) <= sides[i],
              "thumbnails are no bigger than asked", {{"facts", shown}});
        Check(media::ReadPngTexts(t.png, read) && read.size() == 2 &&
                  read[0].value == "file:///f" && read[1].value == "1",
              "thumbnails are whole PNGs with their tags", {{"facts", shown}});
    }
    return 0;
}
