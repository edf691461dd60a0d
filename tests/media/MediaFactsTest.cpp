#include "media/MediaFacts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "MediaTestSupport.h"
#include "cache/EntryReaders.h"
#include "media/Thumbnail.h"
#include "support/CacheWriters.h"
#include "support/Sanitizers.h"

namespace {

using media::Facts;
using media::Kind;
using mediatest::Clips;
using mediatest::Open;

class MediaFactsTest : public ::testing::Test {
  protected:
    testsupport::TempDir scratch;
    media::Limits limits;

    void SetUp() override {
        ASSERT_TRUE(Clips::Get().Made()) << "ffmpeg could not make the test clips";
        limits.time = std::chrono::milliseconds(10000 * testsupport::kSanitizerSlowdown);
    }

    Facts Read(const cache::Entry& entry, media::Outcome* outcome = nullptr) {
        auto reader = Open(entry);
        return reader ? media::ReadFacts(*reader, limits, outcome) : Facts{};
    }
};

TEST_F(MediaFactsTest, ClipsReadTheSameAsPlainFilesAndBehindAHeader) {
    for (const testsupport::Clip& clip : testsupport::StandardClips()) {
        const std::string path = Clips::Get().Path(clip.name);
        const cache::Entry entries[] = {mediatest::WholeEntry(path),
                                        mediatest::SpanEntry(path, scratch / clip.name)};
        for (const cache::Entry& entry : entries) {
            SCOPED_TRACE(clip.name + (entry.storage == cache::Storage::Span ? " span" : " whole"));
            media::Outcome outcome = media::Outcome::TimedOut;
            const Facts facts = Read(entry, &outcome);
            EXPECT_EQ(outcome, media::Outcome::Done);
            EXPECT_EQ(facts.kind, clip.width > 0 ? Kind::Video : Kind::AudioOnly);
            EXPECT_NEAR(static_cast<double>(facts.durationMs), clip.seconds * 1000.0, 100.0);
            EXPECT_EQ(facts.width, clip.width);
            EXPECT_EQ(facts.height, clip.height);
            EXPECT_EQ(facts.videoCodec, clip.video);
            EXPECT_EQ(facts.audioCodec, clip.audio);
        }
    }
}

TEST_F(MediaFactsTest, ClipsReadTheSameFromChromiumAndFirefoxEntries) {
    using namespace testsupport;
    const std::string url = "https://media.site.test/v/clip";
    for (const testsupport::Clip& clip : testsupport::StandardClips()) {
        SCOPED_TRACE(clip.name);
        const std::string body = ReadFile(Clips::Get().Path(clip.name));
        const Facts plain = Read(mediatest::WholeEntry(Clips::Get().Path(clip.name)));
        ASSERT_NE(plain.kind, Kind::NotMedia);

        const std::string folder = scratch / clip.name;
        std::filesystem::create_directories(folder);
        WriteFile(folder + "/whole_0",
                  ChromiumEntryFile(ChromiumKey(url), body,
                                    ChromiumStream0(ChromiumHttp(
                                        "video/mp4", static_cast<std::int64_t>(body.size())))));
        // Pieces arrive out of order: the last first, as a player seeking to the index does.
        std::vector<ChromiumRangeData> pieces = ChromiumPieces(body, 40000);
        std::rotate(pieces.begin(), pieces.end() - 1, pieces.end());
        WriteFile(
            folder + "/pieced_0",
            ChromiumEntryFile(ChromiumKey(url), "", ChromiumStream0(ChromiumHttp("video/mp4"))));
        WriteFile(folder + "/pieced_s", ChromiumSparseFile(ChromiumKey(url), pieces));
        WriteFile(folder + "/firefox", FirefoxMediaEntry(url, body, "video/mp4"));

        cache::ReadEntry whole, pieced, firefox;
        ASSERT_TRUE(cache::ReadChromiumFiles(folder + "/whole_0", "", whole));
        ASSERT_TRUE(cache::ReadChromiumFiles(folder + "/pieced_0", folder + "/pieced_s", pieced));
        ASSERT_TRUE(cache::ReadFirefoxFile(folder + "/firefox", firefox));
        ASSERT_EQ(pieced.entry.storage, cache::Storage::Pieces);
        EXPECT_EQ(Read(whole.entry), plain);
        EXPECT_EQ(Read(pieced.entry), plain);
        EXPECT_EQ(Read(firefox.entry), plain);
    }
}

TEST_F(MediaFactsTest, WhatIsNotMediaReadsAsADash) {
    // Playlists are not followed; the MP4 whose index was at the end has lost it; random
    // bytes and an empty body are nothing; a body cut short by the entry (its size says
    // less than the file holds) too.
    cache::Entry shortSpan =
        mediatest::SpanEntry(Clips::Get().Path("indexlast.mp4"), scratch / "short");
    shortSpan.bodySize = 3000;
    // Lists naming a clip that is right there: they must not be followed to it.
    const std::string clip = Clips::Get().Path("faststart.mp4");
    testsupport::WriteFile(scratch / "list.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXTINF:6,\n" +
                                                      clip + "\n#EXT-X-ENDLIST\n");
    testsupport::WriteFile(scratch / "list.ffconcat", "ffconcat version 1.0\nfile " + clip + "\n");
    const cache::Entry entries[] = {
        mediatest::WholeEntry(scratch / "list.m3u8"),
        mediatest::WholeEntry(scratch / "list.ffconcat"),
        mediatest::WholeEntry(Clips::Get().Path("cut-indexlast.mp4")),
        mediatest::WholeEntry(Clips::Get().Path("random.bin")),
        mediatest::WholeEntry(Clips::Get().Path("empty.bin")),
        shortSpan,
    };
    for (const cache::Entry& entry : entries) {
        SCOPED_TRACE(entry.file);
        media::Outcome outcome = media::Outcome::TimedOut;
        const Facts facts = Read(entry, &outcome);
        EXPECT_EQ(outcome, media::Outcome::Done);
        EXPECT_EQ(facts, Facts{});
        EXPECT_EQ(media::LengthText(facts), media::kDash);
        EXPECT_EQ(media::PictureText(facts), media::kDash);
    }
}

TEST_F(MediaFactsTest, CutWithTheIndexFirstStillSaysWhatItIs) {
    std::vector<media::Thumbnail> thumbnails;
    auto reader = Open(mediatest::WholeEntry(Clips::Get().Path("cut-faststart.mp4")));
    const Facts facts = media::ReadFactsAndThumbnails(*reader, limits, {256}, {}, thumbnails);
    EXPECT_EQ(facts.kind, Kind::Video);
    EXPECT_NEAR(static_cast<double>(facts.durationMs), 6000.0, 100.0) << "the index says so";
    EXPECT_EQ(thumbnails.size(), 1u) << "a tenth in is still there";
}

TEST_F(MediaFactsTest, ThumbnailsAreScaledDownOnlyAndCarryTheirTags) {
    struct Case {
        const char* clip;
        int width256, height256, width128, height128;
    };
    const Case cases[] = {
        {"faststart.mp4", 256, 192, 128, 96},
        {"indexlast.mp4", 256, 209, 128, 105},
        {"clip.webm", 256, 144, 128, 72},
        {"clip.flv", 176, 144, 128, 105},  // never enlarged
    };
    const std::vector<media::PngText> tags = {{media::kThumbUri, "file:///x/a%20b"},
                                              {media::kThumbMTime, "1700000000"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clip);
        const std::string path = Clips::Get().Path(c.clip);
        std::vector<media::Thumbnail> plain, span;
        auto reader = Open(mediatest::WholeEntry(path));
        media::ReadFactsAndThumbnails(*reader, limits, {256, 128}, tags, plain);
        auto spanReader = Open(mediatest::SpanEntry(path, scratch / c.clip));
        media::ReadFactsAndThumbnails(*spanReader, limits, {256, 128}, tags, span);
        ASSERT_EQ(plain.size(), 2u);
        EXPECT_EQ(plain[0].width, c.width256);
        EXPECT_EQ(plain[0].height, c.height256);
        EXPECT_EQ(plain[1].width, c.width128);
        EXPECT_EQ(plain[1].height, c.height128);
        std::vector<media::PngText> read;
        ASSERT_TRUE(media::ReadPngTexts(plain[0].png, read));
        ASSERT_EQ(read.size(), 2u);
        EXPECT_EQ(read[0].key, "Thumb::URI");
        EXPECT_EQ(read[0].value, "file:///x/a%20b");
        EXPECT_EQ(read[1].value, "1700000000");
        ASSERT_EQ(span.size(), 2u);
        EXPECT_EQ(span[0].png, plain[0].png) << "the same frame, wherever the body lies";
    }
    std::vector<media::Thumbnail> none;
    auto sound = Open(mediatest::WholeEntry(Clips::Get().Path("sound.mp3")));
    EXPECT_EQ(media::ReadFactsAndThumbnails(*sound, limits, {256}, tags, none).kind,
              Kind::AudioOnly);
    EXPECT_TRUE(none.empty());
}

TEST_F(MediaFactsTest, AbsurdPictureSizesAreRefused) {
    limits.maxSide = 300;  // the clip is 320 wide
    EXPECT_EQ(Read(mediatest::WholeEntry(Clips::Get().Path("faststart.mp4"))), Facts{});
    limits.maxSide = 16384;
    limits.maxPixels = 320 * 240 - 1;
    EXPECT_EQ(Read(mediatest::WholeEntry(Clips::Get().Path("faststart.mp4"))), Facts{});
}

// A body behind a reader that is slow, fails, or is cancelled from outside.
class HostileReader : public cache::BodyReader {
  public:
    HostileReader(std::unique_ptr<cache::BodyReader> inner, std::chrono::milliseconds delay,
                  std::uint64_t failFrom)
        : inner_(std::move(inner)), delay_(delay), failFrom_(failFrom) {}
    std::uint64_t Size() const override { return inner_->Size(); }
    std::int64_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        ++reads;
        std::this_thread::sleep_for(delay_);
        if (offset + length > failFrom_) {
            return -1;
        }
        return inner_->ReadAt(offset, buffer, length);
    }
    int reads = 0;

  private:
    std::unique_ptr<cache::BodyReader> inner_;
    std::chrono::milliseconds delay_;
    std::uint64_t failFrom_;
};

TEST_F(MediaFactsTest, SlowFailingOrCancelledBodiesAreGivenUp) {
    const cache::Entry entry = mediatest::WholeEntry(Clips::Get().Path("indexlast.mp4"));

    // Slow: each read takes 100 ms and the index is at the far end.
    limits.time = std::chrono::milliseconds(250);
    limits.probeBytes = 32;  // every small read is its own call
    HostileReader slow(Open(entry), std::chrono::milliseconds(100), UINT64_MAX);
    media::Outcome outcome = media::Outcome::Done;
    const auto start = std::chrono::steady_clock::now();
    std::vector<media::Thumbnail> thumbnails;
    EXPECT_EQ(media::ReadFactsAndThumbnails(slow, limits, {256}, {}, thumbnails, &outcome),
              Facts{});
    EXPECT_EQ(outcome, media::Outcome::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(1500 * testsupport::kSanitizerSlowdown));
    EXPECT_TRUE(thumbnails.empty());

    // Failing after the first kilobytes.
    limits.time = std::chrono::milliseconds(10000);
    HostileReader failing(Open(entry), std::chrono::milliseconds(0), 4096);
    EXPECT_EQ(media::ReadFacts(failing, limits, &outcome), Facts{});
    EXPECT_EQ(outcome, media::Outcome::Done);

    // Cancelled: nothing is known, and it says so.
    std::atomic<bool> cancel{true};
    limits.cancel = &cancel;
    HostileReader cancelled(Open(entry), std::chrono::milliseconds(0), UINT64_MAX);
    EXPECT_EQ(media::ReadFacts(cancelled, limits, &outcome), Facts{});
    EXPECT_EQ(outcome, media::Outcome::Cancelled);
}

TEST(MediaTexts, LengthAndPictureColumns) {
    struct Case {
        Facts facts;
        const char* length;
        const char* picture;
    };
    const Case cases[] = {
        {{Kind::Video, 0, 640, 360, "H.264", "AAC"}, "0:00", "640x360 H.264"},
        {{Kind::Video, 59499, 1, 1, "VP9", ""}, "0:59", "1x1 VP9"},
        {{Kind::Video, 59500, 1920, 1080, "AV1", ""}, "1:00", "1920x1080 AV1"},
        {{Kind::Video, 3599400, 2, 2, "X", ""}, "59:59", "2x2 X"},
        {{Kind::Video, 3599500, 2, 2, "X", ""}, "1:00:00", "2x2 X"},
        {{Kind::Video, 36000000 * 3 + 62000, 2, 2, "X", ""}, "30:01:02", "2x2 X"},
        {{Kind::Video, -1, 320, 240, "FLV1", ""}, media::kDash, "320x240 FLV1"},
        {{Kind::AudioOnly, 65000, 0, 0, "", "MP3"}, "1:05", "audio only"},
        {{}, media::kDash, media::kDash},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(media::LengthText(c.facts), c.length);
        EXPECT_EQ(media::PictureText(c.facts), c.picture);
    }
}

}  // namespace
