#include "media/Thumbnail.h"

#include <gtest/gtest.h>

#include "media/FactsIndex.h"

namespace {

TEST(ThumbnailNames, UrisAreEscapedAsGLibDoesAndNamedByTheirDigest) {
    struct Case {
        std::string path;
        std::string uri;
    };
    const Case cases[] = {
        {"/home/u/cache/f_00a1b2", "file:///home/u/cache/f_00a1b2"},
        // Every printable ASCII character, and UTF-8, as g_filename_to_uri gives them.
        {"/ !\"#$%&'()*+,-.0123456789:;<=>?@AZ[\\]^_`az{|}~\xc3\xa9",
         "file:///%20!%22%23$%25&'()*+,-.0123456789:%3B%3C=%3E%3F@AZ%5B%5C%5D%5E_%60az%7B%7C%7D~"
         "%C3%A9"},
        {std::string("/a\nb\x01\xff", 6), "file:///a%0Ab%01%FF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(media::FileUri(c.path), c.uri);
    }
    EXPECT_EQ(media::Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    // The standard's own example.
    EXPECT_EQ(media::Md5Hex("file:///home/jens/photos/me.png"), "c6ee772d9e49320e97ec29a7eb5b1697");
    EXPECT_EQ(media::ThumbnailPath("/c", media::kLargeThumbnail, "file:///home/jens/photos/me.png"),
              "/c/thumbnails/large/c6ee772d9e49320e97ec29a7eb5b1697.png");
}

// The smallest whole PNG: one black pixel.
std::string OnePixelPng() {
    static const unsigned char bytes[] = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00,
        0x00, 0x3a, 0x7e, 0x9b, 0x55, 0x00, 0x00, 0x00, 0x0a, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x9c, 0x63, 0x60, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01, 0x48, 0xaf, 0xa4, 0x71, 0x00,
        0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

TEST(ThumbnailTags, WrittenAfterTheHeaderAndReadBackFromWholeFilesOnly) {
    const std::string plain = OnePixelPng();
    std::vector<media::PngText> texts;
    ASSERT_TRUE(media::ReadPngTexts(plain, texts));
    EXPECT_TRUE(texts.empty());

    const std::vector<media::PngText> tags = {
        {"Thumb::URI", "file:///a"}, {"Thumb::MTime", "12"}, {"Empty", ""}};
    const std::string tagged = media::InsertPngTexts(plain, tags);
    ASSERT_TRUE(media::ReadPngTexts(tagged, texts));
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1].key, "Thumb::MTime");
    EXPECT_EQ(texts[1].value, "12");
    EXPECT_EQ(*media::FindPngText(texts, "Thumb::URI"), "file:///a");
    EXPECT_EQ(media::FindPngText(texts, "Thumb::Size"), nullptr);

    // Damage of every kind refuses the file, never a wrong text.
    std::string flipped = tagged;
    flipped[45] ^= 1;  // inside the first text chunk: its checksum no longer matches
    const std::string bad[] = {
        tagged.substr(0, tagged.size() - 1),  // cut short
        tagged + "x",                         // something after the end
        flipped,
        "\x89PNG\r\n\x1a\n",
        "",
        std::string(tagged).replace(12, 4, "IDAT"),  // no header first
    };
    for (const std::string& b : bad) {
        EXPECT_FALSE(media::ReadPngTexts(b, texts));
        EXPECT_TRUE(texts.empty());
    }
    EXPECT_EQ(media::InsertPngTexts("not a png", tags), "");
}

TEST(FactsIndexTest, KeepsRecordsPerFileVersionAndSkipsDamagedLines) {
    media::FactsIndex index;
    const platform::FileIdentity a{1, 2, 3000, 1700000000123456789};
    platform::FileIdentity newer = a;
    newer.lastWriteTimeNs += 1;
    const media::Record video{{media::Kind::Video, 6000, 320, 240, "H.264", "AAC"}, true};
    const media::Record sound{{media::Kind::AudioOnly, 9000, 0, 0, "", "MP3"}, false};
    index.Put(a, video);
    index.Put({9, 9, 9, -5}, sound);
    index.Put({7, 7, 7, 7}, media::Record{});
    EXPECT_EQ(index.Find(newer), nullptr) << "a rewritten file is another file";

    const std::string text = index.Serialize();
    media::FactsIndex back;
    EXPECT_EQ(back.Parse(text), 3u);
    ASSERT_NE(back.Find(a), nullptr);
    EXPECT_EQ(back.Find(a)->facts, video.facts);
    EXPECT_TRUE(back.Find(a)->thumbnail);
    EXPECT_EQ(back.Find({9, 9, 9, -5})->facts, sound.facts);
    EXPECT_EQ(back.Find({7, 7, 7, 7})->facts, media::Facts{});

    const std::string lines[] = {
        "1\t2\t3\t4\tv\t5\t6\t7\t1\tH.264",             // a field short
        "1\t2\t3\t4\tv\t5\t6\t7\t1\tH.264\tAAC\tmore",  // a field more
        "1\t2\t3\t4\tx\t5\t6\t7\t1\tH.264\tAAC",        // no such kind
        "1\t2\t3\t4\tv\t5\t-6\t7\t1\tH.264\tAAC",       // negative width
        "1\t2\t3\t4\tv\t5\t6\t7\t2\tH.264\tAAC",        // thumbnail neither 0 nor 1
        "1\t2\t3\t4\tv\t5\t6\t7\t1\tH.2\x01\tAAC",      // control character in a name
        "1\t2\t99999999999999999999999\t4\tv\t5\t6\t7\t1\tH.264\tAAC",  // overflow
        "",
    };
    for (const std::string& line : lines) {
        EXPECT_EQ(back.Parse("reelvault facts 1\n" + line + "\n"), 0u) << line;
    }
    EXPECT_EQ(back.Parse("reelvault facts 1\n1\t2\t3\t4\tv\t5\t6\t7\t1\tH.264\tAAC"), 0u)
        << "a last line without its end was cut short";
    EXPECT_EQ(back.Parse("reelvault facts 2\n1\t2\t3\t4\tv\t5\t6\t7\t1\tH.264\tAAC\n"), 0u);
    EXPECT_EQ(back.Parse("reelvault facts 1\n1\t2\t3\t4\tv\t5\t6\t7\t1\tH.264\tAAC\n"), 1u);

    // Codec names with tabs or line breaks cannot break the file.
    index.Put({5, 5, 5, 5}, {{media::Kind::Video, 1, 2, 3, "a\tb\nc", "d"}, false});
    EXPECT_EQ(back.Parse(index.Serialize()), 4u);
    EXPECT_EQ(back.Find({5, 5, 5, 5})->facts.videoCodec, "a?b?c");
}

}  // namespace
