#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <filesystem>
#include <map>

#include "join/StreamJoin.h"
#include "support/StreamClips.h"

namespace {

using cache::Container;
using cache::TrackKind;
using join::Purpose;
using testsupport::Rendition;

constexpr int kSeconds = 10;
constexpr int kSegment = 2;

// What a joined file holds, read back with libavformat packet by packet.
struct Joined {
    bool opened = false;
    bool video = false;
    bool audio = false;
    double seconds = 0;  // from the earliest packet to the end of the latest
    bool rising = true;  // decode times rise in every stream
};

Joined ReadJoined(const std::string& path) {
    Joined joined;
    av_log_set_level(AV_LOG_QUIET);  // the gaps of a concatenation are reported, at length
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        return joined;
    }
    joined.opened = avformat_find_stream_info(format, nullptr) >= 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVMediaType type = format->streams[i]->codecpar->codec_type;
        joined.video = joined.video || type == AVMEDIA_TYPE_VIDEO;
        joined.audio = joined.audio || type == AVMEDIA_TYPE_AUDIO;
    }
    std::map<int, std::int64_t> last;
    double first = 1e300, end = -1e300;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format, packet) >= 0) {
        const AVRational base = format->streams[packet->stream_index]->time_base;
        if (packet->dts != AV_NOPTS_VALUE) {
            auto [it, fresh] = last.try_emplace(packet->stream_index, packet->dts);
            joined.rising = joined.rising && (fresh || packet->dts > it->second);
            it->second = packet->dts;
        }
        if (packet->pts != AV_NOPTS_VALUE) {
            first = std::min(first, static_cast<double>(packet->pts) * av_q2d(base));
            end = std::max(end, static_cast<double>(packet->pts + packet->duration) * av_q2d(base));
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    joined.seconds = end > first ? end - first : 0;
    return joined;
}

// The renditions every test joins, cut once for the whole program.
class Renditions {
  public:
    static const Renditions& Get() {
        static const Renditions renditions;
        return renditions;
    }
    testsupport::TempDir folder;
    testsupport::SegmentFiles ts, fmp4, video, audio, farTs;

  private:
    Renditions() {
        ts = MakeSegments(folder / "ts", Rendition::Ts, kSeconds, kSegment);
        fmp4 = MakeSegments(folder / "fmp4", Rendition::Fmp4, kSeconds, kSegment);
        video = MakeSegments(folder / "video", Rendition::Fmp4Video, kSeconds, kSegment);
        audio = MakeSegments(folder / "audio", Rendition::Fmp4Audio, kSeconds, kSegment);
        // The same clip on a timeline 14 hours on: a segment of it is an absurd jump.
        farTs = MakeSegments(folder / "far", Rendition::Ts, kSeconds, kSegment,
                             {"-output_ts_offset", "50000"});
    }
};

enum class Source { Ts, Fmp4, Split };

cache::Stream BuildStream(const std::string& dir, Source source, bool oneBody = false) {
    const Renditions& r = Renditions::Get();
    cache::Stream stream;
    stream.length = kSeconds;
    switch (source) {
        case Source::Ts:
            stream.tracks.push_back(testsupport::StoreTrack(dir, r.ts, TrackKind::Muxed,
                                                            Container::MpegTs, kSegment, oneBody));
            break;
        case Source::Fmp4:
            stream.tracks.push_back(testsupport::StoreTrack(dir, r.fmp4, TrackKind::Muxed,
                                                            Container::Fmp4, kSegment, oneBody));
            break;
        case Source::Split:
            stream.tracks.push_back(testsupport::StoreTrack(dir, r.video, TrackKind::Video,
                                                            Container::Fmp4, kSegment, oneBody));
            stream.tracks.push_back(testsupport::StoreTrack(dir, r.audio, TrackKind::Audio,
                                                            Container::Fmp4, kSegment, oneBody));
            break;
    }
    return stream;
}

class JoinTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const Renditions& r = Renditions::Get();
        if (r.ts.segments.size() < 5 || r.fmp4.segments.size() < 5 || r.video.segments.size() < 5 ||
            r.audio.segments.size() < 5 || r.farTs.segments.size() < 5) {
            GTEST_SKIP() << "ffmpeg could not cut the test streams";
        }
    }
    testsupport::TempDir dir;
};

// Every way a stream joins: concatenated or remuxed, whole or with its middle segment
// missing, segments in entries of their own or byte ranges of one.
TEST_F(JoinTest, JoinsEveryKindOfStream) {
    struct Case {
        const char* name;
        Source source;
        Purpose purpose;
        bool dropMiddle;
        bool oneBody;
        const char* codecs;  // given to every track; "" where the manifest named none
        const char* extension;
    };
    const Case cases[] = {
        {"ts played", Source::Ts, Purpose::Play, false, false, "", "ts"},
        {"ts played, gap", Source::Ts, Purpose::Play, true, false, "", "ts"},
        {"ts saved", Source::Ts, Purpose::Save, false, false, "", "mp4"},
        {"ts saved, gap, ranges", Source::Ts, Purpose::Save, true, true, "avc1.42c00d,mp4a.40.2",
         "mp4"},
        {"fmp4 played", Source::Fmp4, Purpose::Play, false, false, "", "mp4"},
        {"fmp4 saved, ranges", Source::Fmp4, Purpose::Save, false, true, "", "mp4"},
        {"split played", Source::Split, Purpose::Play, false, false, "", "mkv"},
        {"split played, gap", Source::Split, Purpose::Play, true, false, "", "mkv"},
        {"split saved", Source::Split, Purpose::Save, false, false, "", "mp4"},
        {"split saved, gap, ranges", Source::Split, Purpose::Save, true, true, "avc1.42c00d",
         "mp4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cache::Stream stream = BuildStream(dir.path(), c.source, c.oneBody);
        for (cache::StreamTrack& track : stream.tracks) {
            track.codecs = c.codecs;
            if (c.dropMiddle) {
                track.pieces.erase(track.pieces.begin() + 2);
            }
        }
        EXPECT_EQ(join::JoinedExtension(stream, c.purpose), c.extension);
        const std::string target = dir / (std::string(c.name) + "." + c.extension);
        std::string error;
        std::uint64_t lastDone = 0, lastTotal = 0;
        ASSERT_TRUE(join::JoinStream(stream, c.purpose, target, error,
                                     [&](std::uint64_t done, std::uint64_t total) {
                                         lastDone = done;
                                         lastTotal = total;
                                         return true;
                                     }))
            << error;
        EXPECT_TRUE(lastTotal > 0 && lastDone == lastTotal);
        const Joined joined = ReadJoined(target);
        EXPECT_TRUE(joined.opened && joined.video && joined.audio);
        EXPECT_TRUE(joined.rising);
        // A missing segment stays a gap in time: the whole length either way.
        EXPECT_NEAR(joined.seconds, kSeconds, 0.5);
    }
}

TEST(JoinedExtensionTest, CodecsChooseTheSavedContainer) {
    const std::pair<const char*, const char*> cases[] = {
        {"avc1.64001f,mp4a.40.2", "mp4"}, {"hvc1.1.6.L93.B0, mp4a.40.34", "mp4"},
        {"av01.0.05M.08,opus", "mp4"},    {"vp09.00.10.08,opus", "webm"},
        {"vp8,vorbis", "webm"},           {"vp09.00.10.08,mp4a.40.2", "mkv"},
        {"avc1.64001f,vorbis", "mkv"},
    };
    for (const auto& [codecs, extension] : cases) {
        cache::Stream stream;
        stream.tracks.resize(1);
        stream.tracks[0].codecs = codecs;
        EXPECT_EQ(join::JoinedExtension(stream, Purpose::Save), extension) << codecs;
    }
}

// Outside data: the join steps over what it cannot read, or says why it failed and leaves
// no file; it never hangs or crashes.
TEST_F(JoinTest, BadSegmentsAreSteppedOverOrRefused) {
    const Renditions& r = Renditions::Get();
    const std::string random = testsupport::RandomBytes(70000, 3);
    auto replaced = [&](Source source, std::size_t track, const std::string& body) {
        cache::Stream stream = BuildStream(dir.path(), source);
        stream.tracks[track].pieces[2] = testsupport::WholePiece(
            testsupport::StoreChromiumEntry(dir.path(), "https://media.test/bad", body), 4, 2);
        return stream;
    };
    const std::string half = testsupport::ReadFile(r.video.segments[2]);
    cache::Stream backward = BuildStream(dir.path(), Source::Ts);
    backward.tracks[0].pieces.push_back(backward.tracks[0].pieces[0]);
    backward.tracks[0].pieces.push_back(backward.tracks[0].pieces[1]);
    struct Case {
        const char* name;
        cache::Stream stream;
        Purpose purpose;
        double seconds;  // 0: may fail instead
    };
    const Case cases[] = {
        {"ts segment of random bytes", replaced(Source::Ts, 0, random), Purpose::Save, 10},
        {"ts segment that is mp4",
         replaced(Source::Ts, 0, testsupport::ReadFile(r.fmp4.segments[2])), Purpose::Save, 10},
        {"truncated video fragment", replaced(Source::Split, 0, half.substr(0, half.size() / 2)),
         Purpose::Play, 10},
        {"video fragment of random bytes", replaced(Source::Split, 0, random), Purpose::Play, 0},
        {"timestamps back to the start", std::move(backward), Purpose::Save, 14},
        {"timestamps 14 hours on",
         replaced(Source::Ts, 0, testsupport::ReadFile(r.farTs.segments[2])), Purpose::Save, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = dir / (std::string(c.name) + ".out");
        std::string error;
        const bool ok = join::JoinStream(c.stream, c.purpose, target, error);
        if (!ok) {
            EXPECT_EQ(c.seconds, 0) << error;
            EXPECT_FALSE(error.empty());
            EXPECT_FALSE(std::filesystem::exists(target));
            continue;
        }
        const Joined joined = ReadJoined(target);
        EXPECT_TRUE(joined.video && joined.audio && joined.rising);
        if (c.seconds > 0) {
            EXPECT_NEAR(joined.seconds, c.seconds, 1.0);
        } else {
            EXPECT_LT(joined.seconds, kSeconds + 1);
        }
    }
}

TEST_F(JoinTest, FailuresLeaveNoFileAndSayWhy) {
    const cache::Stream ts = BuildStream(dir.path(), Source::Ts);
    const cache::Stream split = BuildStream(dir.path(), Source::Split);
    cache::Stream garbage = BuildStream(dir.path(), Source::Ts);
    for (cache::StreamPiece& piece : garbage.tracks[0].pieces) {
        piece = testsupport::WholePiece(
            testsupport::StoreChromiumEntry(dir.path(), "https://media.test/x",
                                            testsupport::RandomBytes(5000, 9)),
            0, 2);
    }
    cache::Stream drm = ts;
    drm.protection = cache::Protection::Drm;
    cache::Stream none = split;
    none.tracks[1].pieces.clear();
    const auto cancel = [](std::uint64_t, std::uint64_t) { return false; };
    struct Case {
        const char* name;
        const cache::Stream& stream;
        Purpose purpose;
        join::JoinProgress progress;
    };
    const Case cases[] = {
        {"cancelled copy", ts, Purpose::Play, cancel},
        {"cancelled remux", split, Purpose::Play, cancel},
        {"nothing but random bytes", garbage, Purpose::Save, {}},
        {"protected", drm, Purpose::Play, {}},
        {"a track without segments", none, Purpose::Play, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = dir / "out";
        std::string error;
        EXPECT_FALSE(join::JoinStream(c.stream, c.purpose, target, error, c.progress));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(std::filesystem::exists(target));
    }
    // A file already there is neither joined into nor removed.
    for (const Purpose purpose : {Purpose::Play, Purpose::Save}) {
        const std::string target = dir / "there";
        testsupport::WriteFile(target, "mine");
        std::string error;
        EXPECT_FALSE(join::JoinStream(ts, purpose, target, error));
        EXPECT_EQ(error, "The file already exists.");
        EXPECT_EQ(testsupport::ReadFile(target), "mine");
    }
}

}  // namespace
