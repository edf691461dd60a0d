#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache/Stream.h"
#include "cache/Url.h"

namespace {

using cache::Container;
using cache::Protection;
using cache::TrackKind;

TEST(Manifest, ResolvesAddressesAsBrowsersDo) {
    const std::string base = "https://CDN.example.com:443/v/1/master.m3u8?tok=a#frag";
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"seg1.ts", "https://cdn.example.com/v/1/seg1.ts"},
        {"../2/seg.ts?x=1#t=3", "https://cdn.example.com/v/2/seg.ts?x=1"},
        {"../../../../a.ts", "https://cdn.example.com/a.ts"},
        {"./a/./b/../c.ts", "https://cdn.example.com/v/1/a/c.ts"},
        {"/root.ts", "https://cdn.example.com/root.ts"},
        {"//other.net/x.ts", "https://other.net/x.ts"},
        {"?q=2", "https://cdn.example.com/v/1/master.m3u8?q=2"},
        {"", "https://cdn.example.com/v/1/master.m3u8?tok=a"},
        {"HTTP://Host:80/A b.ts", "http://host/A%20b.ts"},
        {"https:rel.ts", "https://cdn.example.com/v/1/rel.ts"},
        {" seg\\2.ts ", "https://cdn.example.com/v/1/seg/2.ts"},
        {"file:///etc/passwd", ""},
        {"data:video/mp2t;base64,AAAA", ""},
        {"blob:https://a.b/c", ""},
        {"javascript:alert(1)", ""},
        {"http://", ""},
        {"//user:pw@Other.net/x.ts", "https://other.net/x.ts"},
        {"//a\x01b/x.ts", ""},
    };
    for (const auto& [reference, expected] : cases) {
        EXPECT_EQ(cache::ResolveUrl(base, reference), expected) << reference;
    }
    EXPECT_EQ(cache::ResolveUrl("http://h/a/./b/../m.m3u8", ""), "http://h/a/m.m3u8");
    EXPECT_EQ(cache::ResolveUrl("file:///tmp/x.m3u8", "a.ts"), "");
    EXPECT_EQ(cache::ResolveUrl("", "http://a/b"), "http://a/b");
}

TEST(Manifest, HlsMasterNamesQualitiesAndAudio) {
    const std::string text =
        "\xEF\xBB\xBF#EXTM3U\r\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"en, main\",URI=\"audio/en.m3u8\"\r\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=800000,CODECS=\"avc1.4d401f,mp4a.40.2\","
        "RESOLUTION=640x360,AUDIO=\"aac\"\r\n"
        "low/index.m3u8\r\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=2500000,RESOLUTION=1280x720\r\n"
        "\r\n"
        "https://other.net/high.m3u8\r\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=1\n"
        "master.m3u8\n"  // names itself: never followed
        "#EXT-X-STREAM-INF:BANDWIDTH=2\n"
        "data:application/x-mpegurl,x\n";
    const auto m = cache::ReadHlsPlaylist(text, "http://h/s/master.m3u8");
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->master);
    ASSERT_EQ(m->renditions.size(), 3u);
    const cache::Rendition& low = m->renditions[0];
    EXPECT_EQ(low.playlistUrl, "http://h/s/low/index.m3u8");
    EXPECT_EQ(low.id, low.playlistUrl);
    EXPECT_EQ(low.kind, TrackKind::Video);  // its sound is the audio rendition
    EXPECT_EQ(low.bandwidth, 800000u);
    EXPECT_EQ(low.codecs, "avc1.4d401f,mp4a.40.2");
    EXPECT_EQ(low.width, 640);
    EXPECT_EQ(low.height, 360);
    EXPECT_EQ(low.audioGroup, "aac");
    EXPECT_TRUE(low.segments.empty());
    EXPECT_EQ(m->renditions[1].kind, TrackKind::Muxed);
    EXPECT_EQ(m->renditions[1].playlistUrl, "https://other.net/high.m3u8");
    EXPECT_EQ(m->renditions[2].kind, TrackKind::Audio);
    EXPECT_EQ(m->renditions[2].playlistUrl, "http://h/s/audio/en.m3u8");
    EXPECT_EQ(m->renditions[2].audioGroup, "aac");
}

TEST(Manifest, HlsMediaPlaylist) {
    const std::string text =
        "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXT-X-MEDIA-SEQUENCE:7\n"
        "#EXT-X-DISCONTINUITY-SEQUENCE:2\n"
        "#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"700@0\"\n"
        "#EXT-X-KEY:METHOD=AES-128,URI=\"../keys/k1\",IV=0x0102\n"
        "#EXTINF:4.004,title, with comma\n#EXT-X-BYTERANGE:1000@700\nall.mp4\n"
        "#EXT-X-KEY:METHOD=AES-128,URI=\"https://keys.example/k2?x=1\"\n"
        "#EXTINF:4,\n#EXT-X-BYTERANGE:500\nall.mp4\n"
        "#EXT-X-DISCONTINUITY\n#EXT-X-KEY:METHOD=NONE\n"
        "#EXTINF:2.5,\n#EXT-X-BYTERANGE:300\nall.mp4\n"
        "#EXTINF:3,\nfile:///etc/passwd\n"
        "#EXTINF:1,\nlast.m4s?t=9\n"
        "#EXT-X-ENDLIST\n";
    const auto m = cache::ReadHlsPlaylist(text, "https://h/v/media.m3u8");
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->master);
    EXPECT_FALSE(m->live);
    EXPECT_DOUBLE_EQ(m->length, 14.504);
    EXPECT_EQ(m->protection, Protection::Aes128);
    ASSERT_EQ(m->renditions.size(), 1u);
    const cache::Rendition& r = m->renditions[0];
    EXPECT_EQ(r.container, Container::Fmp4);
    ASSERT_TRUE(r.init);
    EXPECT_EQ(r.init->url, "https://h/v/init.mp4");
    EXPECT_EQ(r.init->length, 700u);
    struct Want {
        const char* url;
        std::uint64_t offset, length;
        double start, duration;
        std::uint32_t discontinuity;
        const char* key;
        unsigned char ivLast, ivBeforeLast;
    };
    const std::vector<Want> want = {
        {"https://h/v/all.mp4", 700, 1000, 0, 4.004, 2, "https://h/keys/k1", 0x02, 0x01},
        // The implicit offset goes on from the range before; the IV is the sequence number.
        {"https://h/v/all.mp4", 1700, 500, 4.004, 4, 2, "https://keys.example/k2?x=1", 8, 0},
        {"https://h/v/all.mp4", 2200, 300, 8.004, 2.5, 3, "", 0, 0},
        // the file: segment is left out, its time is not
        {"https://h/v/last.m4s?t=9", 0, cache::kWholeResource, 13.504, 1, 3, "", 0, 0},
    };
    ASSERT_EQ(r.segments.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        const cache::SegmentRef& s = r.segments[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(s.url, want[i].url);
        EXPECT_EQ(s.offset, want[i].offset);
        EXPECT_EQ(s.length, want[i].length);
        EXPECT_DOUBLE_EQ(s.start, want[i].start);
        EXPECT_DOUBLE_EQ(s.duration, want[i].duration);
        EXPECT_EQ(s.discontinuity, want[i].discontinuity);
        EXPECT_EQ(s.keyUrl, want[i].key);
        EXPECT_EQ(s.iv[15], want[i].ivLast);
        EXPECT_EQ(s.iv[14], want[i].ivBeforeLast);
        EXPECT_EQ(s.iv[0], 0);
    }
}

TEST(Manifest, HlsContainersProtectionAndBadInput) {
    struct Case {
        const char* text;
        bool read;
        Container container;
        Protection protection;
        bool live;
        std::size_t segments;
    };
    const std::vector<Case> cases = {
        {"#EXTM3U\n#EXTINF:2,\na.ts\n#EXTINF:2,\nb.ts\n", true, Container::MpegTs, Protection::None,
         true, 2},
        {"#EXTM3U\n#EXTINF:2,\na.aac\n#EXT-X-ENDLIST\n", true, Container::PackedAudio,
         Protection::None, false, 1},
        {"#EXTM3U\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://x\"\n#EXTINF:2,\na.ts\n", true,
         Container::MpegTs, Protection::Drm, true, 1},
        {"#EXTM3U\n#EXT-X-KEY:METHOD=SAMPLE-AES-CTR,URI=\"k\"\n#EXTINF:2,\na.ts\n", true,
         Container::MpegTs, Protection::Drm, true, 1},
        {"#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"data:text/plain,k\"\n#EXTINF:2,\na.ts\n", true,
         Container::MpegTs, Protection::Drm, true, 1},
        {"#EXTM3U\n#EXTINF:nan,\na.ts\n#EXTINF:-4,\nb.ts\n#EXT-X-BYTERANGE:0@5\nc.ts\n", true,
         Container::MpegTs, Protection::None, true, 3},
        {"#EXTINF:2,\na.ts\n", false, {}, {}, {}, 0},
        {"", false, {}, {}, {}, 0},
        {"<MPD/>", false, {}, {}, {}, 0},
    };
    for (const Case& c : cases) {
        const auto m = cache::ReadHlsPlaylist(c.text, "http://h/p.m3u8");
        ASSERT_EQ(m.has_value(), c.read) << c.text;
        if (m) {
            ASSERT_EQ(m->renditions.size(), 1u);
            EXPECT_EQ(m->renditions[0].container, c.container) << c.text;
            EXPECT_EQ(m->protection, c.protection) << c.text;
            EXPECT_EQ(m->live, c.live) << c.text;
            EXPECT_EQ(m->renditions[0].segments.size(), c.segments) << c.text;
            for (const cache::SegmentRef& s : m->renditions[0].segments) {
                EXPECT_GE(s.duration, 0) << c.text;
                EXPECT_NE(s.length, 0u) << c.text;
            }
        }
    }
    // More segments than the bound: read as far as the bound, quickly.
    std::string many = "#EXTM3U\n";
    for (std::size_t i = 0; i < cache::kMaxSegmentsPerRendition + 10; ++i) {
        many += "#EXTINF:1,\ns" + std::to_string(i) + ".ts\n";
    }
    const auto m = cache::ReadHlsPlaylist(many, "http://h/p.m3u8");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->renditions[0].segments.size(), cache::kMaxSegmentsPerRendition);
    EXPECT_EQ(cache::ReadHlsPlaylist(std::string(cache::kMaxManifestBytes + 1, '#'), "http://h/"),
              std::nullopt);
}

// The segment addresses of a manifest's renditions, each with its start, for comparison.
std::vector<std::string> Addresses(const cache::Rendition& r) {
    std::vector<std::string> out;
    if (r.init) {
        out.push_back("init " + r.init->url + " " + std::to_string(r.init->offset) + "+" +
                      std::to_string(r.init->length));
    }
    for (const cache::SegmentRef& s : r.segments) {
        std::string line = s.url + " @" + std::to_string(static_cast<int>(s.start * 1000));
        if (s.length != cache::kWholeResource) {
            line += " " + std::to_string(s.offset) + "+" + std::to_string(s.length);
        }
        out.push_back(line);
    }
    return out;
}

TEST(Manifest, DashAddressing) {
    struct Case {
        const char* name;
        const char* mpd;
        std::vector<std::string> addresses;  // of the first rendition
    };
    const std::vector<Case> cases = {
        {"template with number, width and inherited attributes",
         R"(<MPD mediaPresentationDuration="PT5S"><Period><AdaptationSet mimeType="video/mp4">
            <SegmentTemplate timescale="1000" duration="2000" startNumber="3"
              initialization="$RepresentationID$/init.mp4"
              media="$RepresentationID$/$Bandwidth$/seg$Number%05d$.m4s?a=1&amp;b=$$"/>
            <Representation id="v1" bandwidth="500"/></AdaptationSet></Period></MPD>)",
         {"init http://h/d/v1/init.mp4 0+18446744073709551615",
          "http://h/d/v1/500/seg00003.m4s?a=1&b=$ @0",
          "http://h/d/v1/500/seg00004.m4s?a=1&b=$ @2000",
          "http://h/d/v1/500/seg00005.m4s?a=1&b=$ @4000"}},
        {"timeline with repeats, r=-1 to the period end and BaseURL chain",
         R"(<?xml version="1.0"?><!-- c --><MPD xmlns="urn:mpeg:dash:schema:mpd:2011" type="static"
              mediaPresentationDuration="PT0H0M10.0S"><BaseURL>../cdn/</BaseURL>
            <Period duration="PT10S"><BaseURL>p1/</BaseURL><AdaptationSet contentType="audio">
            <BaseURL>a/</BaseURL><Representation id="a" mimeType="audio/mp4"><BaseURL>x/../r/</BaseURL>
            <SegmentTemplate timescale="10" presentationTimeOffset="5" media="t$Time$.m4s">
            <SegmentTimeline><S t="5" d="20" r="1"/><S d="30"/><S d="15" r="-1"/></SegmentTimeline>
            </SegmentTemplate></Representation></AdaptationSet></Period></MPD>)",
         {"http://h/cdn/p1/a/r/t5.m4s @0", "http://h/cdn/p1/a/r/t25.m4s @2000",
          "http://h/cdn/p1/a/r/t45.m4s @4000", "http://h/cdn/p1/a/r/t75.m4s @7000",
          "http://h/cdn/p1/a/r/t90.m4s @8500"}},
        {"segment list with ranges",
         R"(<MPD><Period duration="PT4S"><AdaptationSet mimeType="video/mp4"><Representation id="1">
            <SegmentList timescale="1" duration="2"><Initialization sourceURL="v.mp4" range="0-99"/>
            <SegmentURL media="v.mp4" mediaRange="100-199"/><SegmentURL media="v.mp4" mediaRange="200-349"/>
            </SegmentList></Representation></AdaptationSet></Period></MPD>)",
         {"init http://h/d/v.mp4 0+100", "http://h/d/v.mp4 @0 100+100",
          "http://h/d/v.mp4 @2000 200+150"}},
        {"segment base: the whole file, the init before the index",
         R"(<MPD><Period><AdaptationSet><Representation id="1" mimeType="video/webm">
            <BaseURL>https://cdn.example/v.webm?sig=1</BaseURL><SegmentBase indexRange="732-1000"/>
            </Representation></AdaptationSet></Period></MPD>)",
         {"init https://cdn.example/v.webm?sig=1 0+732", "https://cdn.example/v.webm?sig=1 @0"}},
        {"a representation's own addressing wins over the period's",
         R"(<MPD><Period><SegmentTemplate media="bad$Number$" duration="1"/><AdaptationSet>
            <Representation id="1" mimeType="video/mp4"><SegmentBase>
            <Initialization range="0-9"/></SegmentBase></Representation></AdaptationSet></Period></MPD>)",
         {"init http://h/d/m.mpd 0+10", "http://h/d/m.mpd @0"}},
    };
    for (const Case& c : cases) {
        const auto m = cache::ReadDashManifest(c.mpd, "http://h/d/m.mpd");
        ASSERT_TRUE(m) << c.name;
        ASSERT_FALSE(m->renditions.empty()) << c.name;
        EXPECT_EQ(Addresses(m->renditions[0]), c.addresses) << c.name;
    }
}

TEST(Manifest, DashTracksPeriodsAndProtection) {
    const std::string mpd = R"(<MPD type="static"><Period id="1" duration="PT4S">
      <AdaptationSet contentType="video" mimeType="video/mp4" codecs="avc1.64001f" width="1280">
        <SegmentTemplate media="$RepresentationID$-$Number$.m4s" duration="2" initialization="$RepresentationID$.mp4"/>
        <Representation id="hd" bandwidth="3000000" height="720"/>
        <Representation id="sd" bandwidth="800000" width="640" height="360"/></AdaptationSet>
      <AdaptationSet mimeType="audio/webm" codecs="opus" lang="en">
        <ContentProtection schemeIdUri="urn:uuid:edef8ba9-79d6-4ace-a3c8-27dcd51d21ed"/>
        <SegmentTemplate media="a-$Number$.webm" duration="2"/><Representation id="a"/></AdaptationSet>
      <AdaptationSet mimeType="text/vtt"><Representation id="sub"><BaseURL>s.vtt</BaseURL></Representation></AdaptationSet>
      </Period><Period duration="PT2S"><AdaptationSet mimeType="video/mp4">
        <SegmentTemplate media="$RepresentationID$-p2-$Number$.m4s" duration="2" initialization="$RepresentationID$.mp4"/>
        <Representation id="hd"/></AdaptationSet></Period></MPD>)";
    const auto m = cache::ReadDashManifest(mpd, "https://h/m.mpd");
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->live);
    EXPECT_DOUBLE_EQ(m->length, 6);
    EXPECT_EQ(m->protection, Protection::Drm);
    ASSERT_EQ(m->renditions.size(), 3u);  // no subtitles; the second period joins "hd"
    const cache::Rendition& hd = m->renditions[0];
    EXPECT_EQ(hd.kind, TrackKind::Video);
    EXPECT_EQ(hd.container, Container::Fmp4);
    EXPECT_EQ(hd.codecs, "avc1.64001f");
    EXPECT_EQ(hd.width, 1280);
    EXPECT_EQ(hd.height, 720);
    EXPECT_EQ(hd.bandwidth, 3000000u);
    EXPECT_EQ(hd.protection, Protection::None);
    EXPECT_EQ(Addresses(hd),
              (std::vector<std::string>{"init https://h/hd.mp4 0+18446744073709551615",
                                        "https://h/hd-1.m4s @0", "https://h/hd-2.m4s @2000",
                                        "https://h/hd-p2-1.m4s @4000"}));
    EXPECT_EQ(hd.segments[2].discontinuity, 1u);
    EXPECT_EQ(m->renditions[1].id, "sd");
    EXPECT_EQ(m->renditions[2].kind, TrackKind::Audio);
    EXPECT_EQ(m->renditions[2].container, Container::WebM);
    EXPECT_EQ(m->renditions[2].protection, Protection::Drm);
}

TEST(Manifest, DashBadInput) {
    const std::string head =
        R"(<MPD mediaPresentationDuration="PT100000H"><Period><AdaptationSet mimeType="video/mp4">)";
    const std::string tail = "</AdaptationSet></Period></MPD>";
    struct Case {
        const char* name;
        std::string mpd;
        bool read;
        std::size_t segments;  // of all renditions
    };
    const std::vector<Case> cases = {
        {"absurd width",
         head +
             R"(<SegmentTemplate media="$Number%0999d$" duration="1"/><Representation id="1"/>)" +
             tail,
         true, 0},
        {"unknown identifier",
         head + R"(<SegmentTemplate media="$Foo$" duration="1"/><Representation id="1"/>)" + tail,
         true, 0},
        {"huge repeat",
         head +
             R"(<SegmentTemplate media="$Time$"><SegmentTimeline><S d="1" r="2147483648"/></SegmentTimeline></SegmentTemplate><Representation id="1"/>)" +
             tail,
         true, cache::kMaxSegmentsPerRendition},
        {"endless template",
         head + R"(<SegmentTemplate media="$Number$" duration="1"/><Representation id="1"/>)" +
             tail,
         true, cache::kMaxSegmentsPerRendition},
        {"live template without an end",
         R"(<MPD type="dynamic"><Period><AdaptationSet mimeType="video/mp4"><SegmentTemplate media="$Number$" duration="1"/><Representation id="1"/>)" +
             tail,
         true, 0},
        {"file: base", head + R"(<BaseURL>file:///etc/</BaseURL><Representation id="1"/>)" + tail,
         true, 0},
        {"data: segment",
         head +
             R"(<Representation id="1"><SegmentList><SegmentURL media="data:,x"/></SegmentList></Representation>)" +
             tail,
         true, 0},
        {"truncated", head + R"(<Representation id="1"/>)", false, 0},
        {"internal subset", R"(<!DOCTYPE MPD [<!ENTITY a "aaaa">]><MPD/>)", false, 0},
        {"unknown entity kept",
         R"(<MPD><Period><AdaptationSet mimeType="video/mp4"><Representation id="1"><BaseURL>x&e;y.mp4</BaseURL></Representation>)" +
             tail,
         true, 1},
        {"too deep", std::string(100, '<'), false, 0},
        {"not an MPD", "<html></html>", false, 0},
        {"two roots", "<MPD/><MPD>", true, 0},
    };
    for (const Case& c : cases) {
        const auto m = cache::ReadDashManifest(c.mpd, "http://h/m.mpd");
        ASSERT_EQ(m.has_value(), c.read) << c.name;
        std::size_t segments = 0;
        for (const cache::Rendition& r : m ? m->renditions : std::vector<cache::Rendition>{}) {
            segments += r.segments.size();
            for (const cache::SegmentRef& s : r.segments) {
                ASSERT_LT(s.url.size(), 200u) << c.name;
            }
        }
        EXPECT_EQ(segments, c.segments) << c.name;
    }
    std::string deep = "<MPD>";
    for (int i = 0; i < 100; ++i) {
        deep += "<a>";
    }
    EXPECT_FALSE(cache::ReadDashManifest(deep, "http://h/m.mpd"));
}

}  // namespace
