extern "C" {
#include <libavutil/aes.h>
#include <libavutil/mem.h>
}

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cache/EntryReaders.h"
#include "cache/StreamAssembly.h"
#include "support/CacheWriters.h"

using namespace testsupport;

namespace {

const std::string kBase = "https://cdn.site.test/v/";

// One cached reply: whole, or (with `ranges`) only those ranges of `body` in a `_s` file.
struct File {
    std::string name;  // the address after kBase
    std::string type;
    std::string body;
    std::vector<std::pair<std::size_t, std::size_t>> ranges = {};
};

struct Cache {
    TempDir dir;
    std::vector<cache::Entry> entries;

    void Add(const File& f) {
        const std::string url = kBase + f.name;
        const std::string key = ChromiumKey(url);
        const std::string stem = dir.path() + "/" + std::to_string(entries.size());
        cache::ReadEntry read;
        if (f.ranges.empty()) {
            WriteFile(stem + "_0",
                      ChromiumEntryFile(key, f.body, ChromiumStream0(ChromiumHttp(f.type))));
            EXPECT_TRUE(cache::ReadChromiumFiles(stem + "_0", "", read)) << f.name;
        } else {
            std::vector<ChromiumRangeData> ranges;
            for (const auto& [offset, length] : f.ranges) {
                ranges.push_back({offset, f.body.substr(offset, length)});
            }
            WriteFile(
                stem + "_0",
                ChromiumEntryFile(key, "", ChromiumStream0(ChromiumHttp(f.type, f.body.size()))));
            WriteFile(stem + "_s", ChromiumSparseFile(key, ranges));
            EXPECT_TRUE(cache::ReadChromiumFiles(stem + "_0", stem + "_s", read)) << f.name;
        }
        read.entry.contentType = f.type;  // as the scanner hands it over, media or not
        entries.push_back(read.entry);
    }

    cache::StreamScan Find(const std::map<std::string, cache::TrackProbe>& probes = {}) {
        asked.clear();
        return cache::FindStreams(
            entries, [](const cache::Entry& e, std::size_t limit) { return Text(e, limit); },
            [&](const cache::Entry& e) {
                asked.insert(e.url.substr(kBase.size()));
                const auto it = probes.find(e.url.substr(kBase.size()));
                return it == probes.end() ? cache::TrackProbe{} : it->second;
            });
    }

    static std::optional<std::string> Text(const cache::Entry& e, std::size_t limit) {
        auto reader = cache::OpenBody(e);
        if (!reader || reader->Size() > limit) {
            return std::nullopt;
        }
        std::string text(reader->Size(), '\0');
        reader->ReadAt(0, text.data(), text.size());
        return text;
    }

    std::set<std::string> asked;
};

std::string Payload(const std::string& tag, std::size_t size = 1000) {
    std::string bytes;
    while (bytes.size() < size) {
        bytes += tag + ":" + std::to_string(bytes.size()) + ";";
    }
    bytes.resize(size);
    return bytes;
}

// A body that starts like an MPEG-TS stream (sync bytes every 188 bytes).
std::string Ts(const std::string& tag) {
    std::string bytes = Payload(tag, 188 * 6);
    for (std::size_t i = 0; i < bytes.size(); i += 188) {
        bytes[i] = 0x47;
    }
    return bytes;
}

std::string Box(const std::string& type, const std::string& payload) {
    std::string out;
    PutBe(out, payload.size() + 8, 4);
    return out + type + payload;
}

std::string Init(std::uint32_t track, const std::string& handler) {
    std::string tkhd(4 + 8, '\0');
    PutBe(tkhd, track, 4);
    tkhd.resize(84, '\0');
    const std::string hdlr = std::string(8, '\0') + handler + std::string(13, '\0');
    return Box("ftyp", "iso6" + std::string(4, '\0')) +
           Box("moov", Box("trak", Box("tkhd", tkhd) + Box("mdia", Box("hdlr", hdlr))));
}

std::string Fragment(std::uint32_t track, const std::string& tag) {
    std::string tfhd(4, '\0');
    PutBe(tfhd, track, 4);
    return Box("moof", Box("mfhd", std::string(8, '\0')) + Box("traf", Box("tfhd", tfhd))) +
           Box("mdat", Payload(tag, 500));
}

std::string Playlist(const std::vector<std::string>& segments, double seconds = 20,
                     const std::string& head = "") {
    std::string text = "#EXTM3U\n#EXT-X-TARGETDURATION:20\n" + head;
    for (const auto& s : segments) {
        text += "#EXTINF:" + std::to_string(seconds) + ",\n" + s + "\n";
    }
    return text + "#EXT-X-ENDLIST\n";
}

const char* kHls = "application/vnd.apple.mpegurl";

std::string Master(const std::string& variants) {
    return "#EXTM3U\n" + variants;
}

struct Row {
    cache::StreamKind kind;
    std::string name;
    std::vector<std::string> pieces;  // the first track's, as "name" or "name@offset"
    std::string init = {};
    std::size_t tracks = 1;
    std::string note = {};
    std::size_t present = 0, total = 0;
    std::vector<std::pair<double, double>> stretches = {};
};

struct Case {
    const char* name;
    std::vector<File> files;
    std::vector<Row> rows;
    std::set<std::string> consumed;
};

std::string Where(const cache::StreamPiece& p) {
    const std::string name = p.body.url.substr(kBase.size());
    return p.offset ? name + "@" + std::to_string(p.offset) : name;
}

TEST(StreamAssembly, FindsRowsForWhatTheCacheHolds) {
    const std::string ts720 =
        "#EXT-X-STREAM-INF:BANDWIDTH=2500000,RESOLUTION=1280x720\n720/p.m3u8\n";
    const std::string ts480 =
        "#EXT-X-STREAM-INF:BANDWIDTH=1000000,RESOLUTION=854x480\n480/p.m3u8\n";
    const std::string big = Ts("all") + Ts("all") + Ts("all");
    const std::string range =
        "#EXT-X-BYTERANGE:1128@0\nall.ts\n#EXTINF:20,\n#EXT-X-BYTERANGE:1128\n"
        "all.ts\n#EXTINF:20,\n#EXT-X-BYTERANGE:1128\nall.ts\n";
    const std::vector<Case> cases = {
        {"ts qualities joined per slot: the best present for each",
         {{"m.m3u8", kHls, Master(ts720 + ts480)},
          {"720/p.m3u8", kHls, Playlist({"a0.ts", "a1.ts", "a2.ts"})},
          {"480/p.m3u8", kHls, Playlist({"b0.ts", "b1.ts", "b2.ts"})},
          {"720/a0.ts", "video/mp2t", Ts("a0")},
          {"720/a1.ts", "video/mp2t", Ts("a1")},
          {"480/b1.ts", "video/mp2t", Ts("b1")},
          {"480/b2.ts", "video/mp2t", Ts("b2")}},
         {{cache::StreamKind::Hls,
           "m.m3u8",
           {"720/a0.ts", "720/a1.ts", "480/b2.ts"},
           "",
           1,
           "720p for 0:00-0:40, 480p for 0:40-1:00",
           3,
           3,
           {{0, 60}}}},
         {"m.m3u8", "720/p.m3u8", "480/p.m3u8", "720/a0.ts", "720/a1.ts", "480/b1.ts",
          "480/b2.ts"}},
        {"fmp4 qualities: the one with the most time, with its init and its sound",
         {{"m.m3u8", kHls,
           Master(
               "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",URI=\"au/p.m3u8\"\n"
               "#EXT-X-STREAM-INF:BANDWIDTH=2500000,RESOLUTION=1280x720,AUDIO=\"a\"\n720/p.m3u8\n"
               "#EXT-X-STREAM-INF:BANDWIDTH=1000000,RESOLUTION=854x480,AUDIO=\"a\"\n480/p.m3u8\n")},
          {"720/p.m3u8", kHls, Playlist({"a0.m4s", "a1.m4s"}, 20, "#EXT-X-MAP:URI=\"i.mp4\"\n")},
          {"480/p.m3u8", kHls, Playlist({"b0.m4s", "b1.m4s"}, 20, "#EXT-X-MAP:URI=\"i.mp4\"\n")},
          {"au/p.m3u8", kHls, Playlist({"c0.m4s"}, 20, "#EXT-X-MAP:URI=\"i.mp4\"\n")},
          {"720/i.mp4", "video/mp4", Init(1, "vide")},
          {"720/a1.m4s", "video/iso.segment", Fragment(1, "a1")},
          {"480/i.mp4", "video/mp4", Init(1, "vide")},
          {"480/b0.m4s", "video/iso.segment", Fragment(1, "b0")},
          {"480/b1.m4s", "video/iso.segment", Fragment(1, "b1")},
          {"au/i.mp4", "audio/mp4", Init(1, "soun")},
          {"au/c0.m4s", "audio/iso.segment", Fragment(1, "c0")}},
         {{cache::StreamKind::Hls,
           "m.m3u8",
           {"480/b0.m4s", "480/b1.m4s"},
           "480/i.mp4",
           2,
           "854x480 (1.0 Mb/s)",
           3,
           3,
           {{0, 40}}}},
         {"m.m3u8", "720/p.m3u8", "480/p.m3u8", "au/p.m3u8", "720/i.mp4", "720/a1.m4s", "480/i.mp4",
          "480/b0.m4s", "480/b1.m4s", "au/i.mp4", "au/c0.m4s"}},
        {"gaps and byte ranges of a pieced entry; a plain manifest name told by its folder",
         {{"cat/index.m3u8", kHls, "#EXTM3U\n#EXTINF:20,\n" + range + "#EXT-X-ENDLIST\n"},
          {"cat/all.ts", "video/mp2t", big, {{0, 1000}, {1000, 128}, {2256, 1128}}}},
         {{cache::StreamKind::Hls,
           "cat - index.m3u8",
           {"cat/all.ts", "cat/all.ts@2256"},
           "",
           1,
           "",
           2,
           3,
           {{0, 20}, {40, 60}}}},
         {"cat/index.m3u8", "cat/all.ts"}},
        {"a master naming itself gives no row; its stray segments still group",
         {{"m.m3u8", kHls, Master(ts720 + "#EXT-X-STREAM-INF:BANDWIDTH=1\nm.m3u8\n")},
          {"seg_002.ts", "video/mp2t", Ts("2")},
          {"seg_001.ts", "video/mp2t", Ts("1")}},
         {{cache::StreamKind::Segments, "seg_001.ts", {"seg_001.ts", "seg_002.ts"}}},
         {"seg_001.ts", "seg_002.ts"}},
        {"no segment present, garbage, a key that is missing: no row",
         {{"p.m3u8", kHls, Playlist({"x0.ts"})},
          {"q.m3u8", kHls, std::string("\xff not a playlist")},
          {"k.m3u8", kHls, Playlist({"k0.ts"}, 20, "#EXT-X-KEY:METHOD=AES-128,URI=\"nokey\"\n")},
          {"k0.ts", "video/mp2t", Ts("k0")},
          {"lone.ts", "video/mp2t", Ts("l")}},
         {},
         {}},
        {"fmp4 fragments without a manifest find the init of their track",
         {{"f/chunk-v-2.m4s", "video/iso.segment", Fragment(1, "2")},
          {"f/chunk-v-1.m4s", "video/iso.segment", Fragment(1, "1")},
          {"f/chunk-v-10.m4s", "video/iso.segment", Fragment(1, "10")},
          {"f/init-a.mp4", "audio/mp4", Init(1, "soun")},
          {"f/init-v.mp4", "video/mp4", Init(1, "vide")},
          {"f/other-3.m4s", "video/iso.segment", Fragment(7, "o")},
          {"f/other-4.m4s", "video/iso.segment", Fragment(7, "o")}},
         {{cache::StreamKind::Segments,
           "chunk-v-1.m4s",
           {"f/chunk-v-1.m4s", "f/chunk-v-2.m4s", "f/chunk-v-10.m4s"},
           "f/init-v.mp4"}},
         {"f/chunk-v-1.m4s", "f/chunk-v-2.m4s", "f/chunk-v-10.m4s", "f/init-v.mp4"}},
        {"one address fetched in byte ranges",
         {{"clip.mp4?range=1000-1999&x=1", "video/mp4", Payload("b")},
          {"clip.mp4?range=0-999&x=1", "video/mp4", Mp4Body(1000)},
          {"clip.mp4?range=0-999&x=2", "video/mp4", Mp4Body(1000)}},
         {{cache::StreamKind::Segments,
           "clip.mp4",
           {"clip.mp4?range=0-999&x=1", "clip.mp4?range=1000-1999&x=1"}}},
         {"clip.mp4?range=0-999&x=1", "clip.mp4?range=1000-1999&x=1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Cache cache;
        for (const File& f : c.files) {
            cache.Add(f);
        }
        const auto scan = cache.Find();
        ASSERT_EQ(scan.streams.size(), c.rows.size());
        for (std::size_t i = 0; i < c.rows.size(); ++i) {
            const cache::Stream& s = scan.streams[i];
            const Row& want = c.rows[i];
            EXPECT_EQ(s.kind, want.kind);
            EXPECT_EQ(s.name, want.name);
            ASSERT_EQ(s.tracks.size(), want.tracks);
            std::vector<std::string> pieces;
            for (const auto& p : s.tracks[0].pieces) {
                pieces.push_back(Where(p));
            }
            EXPECT_EQ(pieces, want.pieces);
            EXPECT_EQ(s.tracks[0].init ? Where(*s.tracks[0].init) : "", want.init);
            EXPECT_EQ(s.qualityNote, want.note);
            EXPECT_EQ(s.segmentsPresent, want.present ? want.present : want.pieces.size());
            EXPECT_EQ(s.segmentsTotal, want.total);
            EXPECT_EQ(s.present, want.stretches);
        }
        std::set<std::string> consumed;
        for (const std::size_t i : scan.consumed) {
            consumed.insert(cache.entries[i].url.substr(kBase.size()));
        }
        EXPECT_EQ(consumed, c.consumed);
    }
}

TEST(StreamAssembly, PairsAVideoOnlyAndAnAudioOnlyFileOfOneLength) {
    Cache cache;
    for (const char* name : {"d/video.mp4", "d/audio.mp4", "d/short.mp4", "e/alone.mp4"}) {
        cache.Add({name, "video/mp4", Mp4Body(2000)});
    }
    const auto scan = cache.Find({{"d/video.mp4", {true, false, 60.0}},
                                  {"d/audio.mp4", {false, true, 60.4}},
                                  {"d/short.mp4", {false, true, 30.0}}});
    ASSERT_EQ(scan.streams.size(), 1u);
    const cache::Stream& s = scan.streams[0];
    EXPECT_EQ(s.kind, cache::StreamKind::SplitFiles);
    ASSERT_EQ(s.tracks.size(), 2u);
    EXPECT_EQ(Where(s.tracks[0].pieces.at(0)), "d/video.mp4");
    EXPECT_EQ(s.tracks[1].kind, cache::TrackKind::Audio);
    EXPECT_EQ(Where(s.tracks[1].pieces.at(0)), "d/audio.mp4");
    EXPECT_EQ(scan.consumed, (std::vector<std::size_t>{0, 1}));
    // A file alone in its folder is no candidate: the probe is costly.
    EXPECT_EQ(cache.asked, (std::set<std::string>{"d/video.mp4", "d/audio.mp4", "d/short.mp4"}));
}

std::string Encrypt(const std::string& plain, const std::string& key, unsigned char ivLast) {
    std::string padded = plain;
    const std::size_t pad = 16 - plain.size() % 16;
    padded.append(pad, static_cast<char>(pad));
    std::string out(padded.size(), '\0');
    unsigned char iv[16] = {};
    iv[15] = ivLast;
    AVAES* aes = av_aes_alloc();
    av_aes_init(aes, reinterpret_cast<const std::uint8_t*>(key.data()), 128, 0);
    av_aes_crypt(aes, reinterpret_cast<std::uint8_t*>(out.data()),
                 reinterpret_cast<const std::uint8_t*>(padded.data()),
                 static_cast<int>(padded.size() / 16), iv, 0);
    av_free(aes);
    return out;
}

TEST(StreamAssembly, Aes128SegmentsReadBackDecryptedAsOneBody) {
    const std::string key = "0123456789abcdef";
    // Lengths that leave a full block and a short one of padding.
    const std::vector<std::string> plain = {Ts("e0"), Payload("e1", 1000), Payload("e2", 4096)};
    Cache cache;
    cache.Add({"k.m3u8", kHls,
               Playlist({"e0.ts", "e1.ts", "e2.ts"}, 10,
                        "#EXT-X-MEDIA-SEQUENCE:5\n#EXT-X-KEY:METHOD=AES-128,URI=\"key\"\n")});
    cache.Add({"key", "application/octet-stream", key});
    for (std::size_t i = 0; i < plain.size(); ++i) {
        cache.Add({"e" + std::to_string(i) + ".ts", "video/mp2t",
                   Encrypt(plain[i], key, static_cast<unsigned char>(5 + i))});
    }
    const auto scan = cache.Find();
    ASSERT_EQ(scan.streams.size(), 1u);
    EXPECT_EQ(scan.consumed.size(), 5u);  // the key too
    cache::Entry row;
    row.storage = cache::Storage::Stream;
    row.stream = std::make_shared<cache::Stream>(scan.streams[0]);
    auto reader = cache::OpenBody(row);
    ASSERT_TRUE(reader);
    const std::string want = plain[0] + plain[1] + plain[2];
    ASSERT_EQ(reader->Size(), want.size());
    // Reads of odd lengths cross blocks and pieces.
    std::string got;
    char buffer[777];
    for (std::int64_t n; (n = reader->ReadAt(got.size(), buffer, sizeof buffer)) > 0;) {
        got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, want);
    ASSERT_EQ(reader->ReadAt(1125, buffer, 10), 10);
    EXPECT_EQ(std::string(buffer, 10), want.substr(1125, 10));
}

}  // namespace
