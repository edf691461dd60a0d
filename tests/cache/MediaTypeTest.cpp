#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache/HttpHead.h"
#include "cache/MediaType.h"
#include "support/CacheWriters.h"

namespace {

TEST(MediaType, ContentTypes) {
    struct Case {
        const char* header;
        bool media;
        bool unusable;
    };
    const std::vector<Case> cases = {
        {"video/mp4", true, false},
        {"Video/WebM; codecs=\"vp9\"", true, false},
        {"audio/mpeg", true, false},
        {"application/ogg", true, false},
        {"application/mp4", true, false},
        {"application/x-mpegURL", false, false},
        {"application/vnd.apple.mpegurl", false, false},
        {"audio/x-mpegurl", false, false},
        {"application/dash+xml", false, false},
        {"video/", false, false},
        {"text/html", false, false},
        {"image/jpeg", false, false},
        {"application/javascript", false, false},
        {"application/octet-stream", false, true},
        {"binary/octet-stream", false, true},
        {"", false, true},
    };
    for (const Case& c : cases) {
        const std::string type = cache::NormalizeContentType(c.header);
        EXPECT_EQ(cache::IsMediaContentType(type), c.media) << c.header;
        EXPECT_EQ(cache::IsUnusableContentType(type), c.unusable) << c.header;
    }
    EXPECT_EQ(cache::NormalizeContentType(" Video/MP4 ; codecs=x"), "video/mp4");
}

std::string Bytes(std::initializer_list<int> values, std::size_t padTo = 0) {
    std::string out;
    for (int v : values) {
        out += static_cast<char>(v);
    }
    if (out.size() < padTo) {
        out += std::string(padTo - out.size(), '\x00');
    }
    return out;
}

TEST(MediaType, Signatures) {
    std::string ts(400, '\x11');
    ts[0] = ts[188] = ts[376] = 0x47;
    std::string notTs = ts;
    notTs[188] = 0x00;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {testsupport::Mp4Body(64), "video/mp4"},
        {std::string("\0\0\0\x14"
                     "ftypqt  ",
                     12),
         "video/quicktime"},
        {std::string("\0\0\0\x08"
                     "moov",
                     8),
         "video/quicktime"},
        {Bytes({0x1a, 0x45, 0xdf, 0xa3, 0x9f, 0x42, 0x82, 0x84}) + "webm", "video/webm"},
        {Bytes({0x1a, 0x45, 0xdf, 0xa3, 0x9f, 0x42, 0x82, 0x88}) + "matroska", "video/x-matroska"},
        {std::string("FLV\x01\x05", 5), "video/x-flv"},
        {std::string("RIFF\0\0\0\0AVI LIST", 16), "video/x-msvideo"},
        {std::string("RIFF\0\0\0\0WAVEfmt ", 16), "audio/wav"},
        {"OggS" + std::string(20, '\0'), "application/ogg"},
        {Bytes({0, 0, 1, 0xba, 0x44}), "video/mpeg"},
        {ts, "video/mp2t"},
        {notTs, ""},
        {"ID3\x04" + std::string(10, '\0'), "audio/mpeg"},
        {Bytes({0xff, 0xfb, 0x90, 0x64}), "audio/mpeg"},
        {Bytes({0xff, 0xf1, 0x50, 0x80, 0x02, 0x1f, 0xfc}), "audio/aac"},
        {Bytes({0xff, 0xfb, 0xf0, 0x64}), ""},  // bit rate index 15 does not exist
        {"<!DOCTYPE html><html>", ""},
        {"\x89PNG\r\n\x1a\n", ""},
        {"", ""},
        {"RIF", ""},
    };
    for (const auto& [bytes, type] : cases) {
        EXPECT_EQ(cache::SniffMediaType(reinterpret_cast<const unsigned char*>(bytes.data()),
                                        bytes.size()),
                  type)
            << testing::PrintToString(bytes.substr(0, 16));
    }
}

TEST(MediaType, HeaderTypeFirstSignatureOnlyWhereTheTypeTellsNothing) {
    const std::string mp4 = testsupport::Mp4Body(64);
    EXPECT_EQ(cache::MediaTypeOf("video/webm", mp4), "video/webm");
    EXPECT_EQ(cache::MediaTypeOf("application/octet-stream", mp4), "video/mp4");
    EXPECT_EQ(cache::MediaTypeOf("", mp4), "video/mp4");
    EXPECT_EQ(cache::MediaTypeOf("text/html", mp4), "");
    EXPECT_EQ(cache::MediaTypeOf("application/x-mpegurl", mp4), "");
    EXPECT_EQ(cache::MediaTypeOf("", "plain text"), "");
}

TEST(MediaType, DisplayNames) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"https://cdn.test/a/b/clip.mp4", "clip.mp4"},
        {"https://cdn.test/a/b/clip.mp4?token=1#t=3", "clip.mp4"},
        {"https://cdn.test/a/My%20Video%C3%A9.webm", "My Video\xc3\xa9.webm"},
        {"https://cdn.test/a/dir/", "dir"},
        {"https://cdn.test/", "cdn.test"},
        {"https://cdn.test", "cdn.test"},
        {"https://user@cdn.test:8080?x", "cdn.test:8080"},
        {"https://cdn.test/a%2Fb%00c", "a_b_c"},
        {"https://cdn.test/bad%zz%4", "bad%zz%4"},
        {"https://cdn.test/..", "cdn.test"},
        {"", ""},
    };
    for (const auto& [url, name] : cases) {
        EXPECT_EQ(cache::DisplayNameFromUrl(url), name) << url;
    }
}

TEST(MediaType, Extensions) {
    EXPECT_EQ(cache::ExtensionForType("video/mp4"), "mp4");
    EXPECT_EQ(cache::ExtensionForType("video/webm"), "webm");
    EXPECT_EQ(cache::ExtensionForType("audio/mpeg"), "mp3");
    EXPECT_EQ(cache::ExtensionForType("video/x-unknown"), "");
}

TEST(MediaType, Utf8) {
    EXPECT_TRUE(cache::IsCleanUtf8("plain"));
    EXPECT_TRUE(cache::IsCleanUtf8("\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xac"));
    EXPECT_FALSE(cache::IsCleanUtf8(std::string("a\0b", 3)));
    EXPECT_FALSE(cache::IsCleanUtf8("\xc3"));
    EXPECT_FALSE(cache::IsCleanUtf8("\xc0\xaf"));          // overlong
    EXPECT_FALSE(cache::IsCleanUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(cache::IsCleanUtf8("\xf4\x90\x80\x80"));  // beyond Unicode
    EXPECT_FALSE(cache::IsCleanUtf8("\xff"));
}

TEST(HttpHead, ParsesBothSeparatorsAndRefusesOtherText) {
    cache::HttpHead head;
    static const char kRaw[] =
        "HTTP/1.1 206 Partial\0content-type: Video/MP4\0CONTENT-LENGTH: 10\0"
        "Content-Range: bytes 0-9/1099511627776\0";
    ASSERT_TRUE(cache::ParseHttpHead(std::string(kRaw, sizeof kRaw), head));
    EXPECT_EQ(head.status, 206);
    EXPECT_EQ(head.contentType, "video/mp4");
    EXPECT_EQ(head.contentLength, 10u);
    EXPECT_EQ(head.rangeTotal, 1099511627776u);
    ASSERT_TRUE(
        cache::ParseHttpHead("HTTP/2 200 \r\nContent-Length: 99999999999999999999\r\n"
                             "Content-Type:audio/ogg\r\n",
                             head));
    EXPECT_FALSE(head.hasContentLength);  // it does not fit 64 bits
    EXPECT_EQ(head.contentType, "audio/ogg");
    EXPECT_FALSE(cache::ParseHttpHead("", head));
    EXPECT_FALSE(cache::ParseHttpHead("HTTP/1.1 2x0 OK", head));
    EXPECT_FALSE(cache::ParseHttpHead("garbage", head));
}

}  // namespace
