#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/ProfileText.h"
#include "platform/Screen.h"
#include "settings/Settings.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct Key {
    const char* section;
    const char* name;
};

const Key kAllKeys[] = {
    {"frmMain", "AppWidth"},
    {"frmMain", "AppHeight"},
    {"frmMain", "AppPositionX"},
    {"frmMain", "AppPositionY"},
    {"frmMain", "Maximized"},
    {"frmMain", "AlwaysOnTop"},
    {"frmMain", "ExitFullScreenOnStop"},
    {"frmMain", "BrowserThumbnails"},
    {"Logging", "LogToFile"},
    {"Logging", "MaxUiLogLines"},
    {"Mplayer", "Instance"},
    {"Opera", "CacheDir"},
    {"Opera", "MinimalFileSize"},
    {"Opera", "UseOnlyG_XXXX"},
};

std::string ValueOf(const std::string& text, const Key& key) {
    std::string value;
    return platform::FindProfileValue(text, key.section, key.name, &value) ? value : "<missing>";
}

class SettingsTest : public testing::Test {
  protected:
    void SetUp() override {
        platform::SetScreenSizeProvider([] { return platform::ScreenSize{1920, 1080}; });
    }
    void TearDown() override { platform::SetScreenSizeProvider(nullptr); }

    Settings ReadFrom(const std::string& text) {
        WriteFile(path, text);
        Settings s;
        EXPECT_TRUE(s.Read(path));
        return s;
    }

    TempDir dir;
    std::string path = dir / "reelvault.ini";
};

TEST_F(SettingsTest, NoFileGivesTheDefaults) {
    Settings s;
    EXPECT_TRUE(s.Read(path));
    EXPECT_EQ(s.appWidth, 350);
    EXPECT_EQ(s.appHeight, 300);
    EXPECT_EQ(s.appPositionX, 30);
    EXPECT_EQ(s.appPositionY, 30);
    EXPECT_FALSE(s.maximized);
    EXPECT_TRUE(s.alwaysOnTop);
    EXPECT_FALSE(s.exitFullScreenOnStop);
    EXPECT_FALSE(s.browserThumbnails);
    EXPECT_FALSE(s.logToFile);
    EXPECT_EQ(s.maxUiLogLines, 1000u);
    EXPECT_EQ(s.Mplayer.instance, "mplayer");
    EXPECT_EQ(s.Opera.cacheDir, "");
    EXPECT_EQ(s.Opera.minimalFileSize, 300);
    EXPECT_TRUE(s.Opera.useOnlyG_XXXX);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(SettingsTest, WindowBoundsAreClampedToTheScreen) {
    const struct {
        const char* name;
        const char* frmMain;
        int x, y, width, height;
    } cases[] = {
        {"defaults", "", 30, 30, 350, 300},
        {"narrow", "AppWidth=100", 30, 30, 250, 300},
        {"smallest width stays", "AppWidth=250", 30, 30, 250, 300},
        {"screen + 20 stays", "AppWidth=1940\nAppPositionX=0", -20, 30, 1940, 300},
        {"screen + 21 is reset", "AppWidth=1941", 30, 30, 250, 300},
        {"letters", "AppWidth=wide", 30, 30, 350, 300},
        {"low", "AppHeight=199", 30, 30, 350, 200},
        {"height screen + 20 stays", "AppHeight=1100", 30, -20, 350, 1100},
        {"height screen + 21 is reset", "AppHeight=1101", 30, 30, 350, 200},
        {"negative position", "AppPositionX=-5\nAppPositionY=-1", 0, 0, 350, 300},
        {"past the right edge", "AppPositionX=2000", 1570, 30, 350, 300},
        {"past the bottom edge", "AppPositionY=5000\nAppHeight=400", 30, 680, 350, 400},
        {"fits exactly", "AppPositionX=1570", 1570, 30, 350, 300},
        {"huge position", "AppPositionX=2147483647", 1570, 30, 350, 300},
        {"hex position", "AppPositionX=$10", 16, 30, 350, 300},
        {"negative width", "AppWidth=-400", 30, 30, 250, 300},
    };
    for (const auto& c : cases) {
        const Settings s = ReadFrom(std::string("[frmMain]\n") + c.frmMain + "\n");
        EXPECT_EQ(s.appPositionX, c.x) << c.name;
        EXPECT_EQ(s.appPositionY, c.y) << c.name;
        EXPECT_EQ(s.appWidth, c.width) << c.name;
        EXPECT_EQ(s.appHeight, c.height) << c.name;
    }
}

TEST_F(SettingsTest, ClampsToTheInstalledScreen) {
    platform::SetScreenSizeProvider([] { return platform::ScreenSize{1024, 768}; });
    Settings s = ReadFrom("[frmMain]\nAppWidth=1044\nAppPositionX=900\nAppHeight=789\n");
    EXPECT_EQ(s.appWidth, 1044);
    EXPECT_EQ(s.appPositionX, -20);
    EXPECT_EQ(s.appHeight, 200);

    // Without a provider the fallback screen is used.
    platform::SetScreenSizeProvider(nullptr);
    s = ReadFrom("[frmMain]\nAppWidth=1940\nAppPositionX=0\n");
    EXPECT_EQ(platform::PrimaryScreenSize().width, platform::kFallbackScreenSize.width);
    EXPECT_EQ(s.appWidth, 1940);
    EXPECT_EQ(s.appPositionX, -20);
}

TEST_F(SettingsTest, ValuesAsTheFileHoldsThem) {
    const Settings s = ReadFrom(
        "[FRMMAIN]\nalwaysontop=no\nMaximized=2\nExitFullScreenOnStop=0x0\n"
        "[Logging]\nLogToFile=-1\nMaxUiLogLines=0x3E8\n"
        "[Mplayer]\nInstance=\"/usr/local/bin/mplayer\"\n"
        "[Opera]\nCacheDir = /home/u/.opera/cache \nMinimalFileSize=-3\nUseOnlyG_XXXX=0\n");
    EXPECT_TRUE(s.alwaysOnTop);  // "no" is not a number: the default
    EXPECT_TRUE(s.maximized);
    EXPECT_FALSE(s.exitFullScreenOnStop);
    EXPECT_TRUE(s.logToFile);
    EXPECT_EQ(s.maxUiLogLines, 1000u);
    EXPECT_EQ(s.Mplayer.instance, "/usr/local/bin/mplayer");
    EXPECT_EQ(s.Opera.cacheDir, "/home/u/.opera/cache");
    EXPECT_EQ(s.Opera.minimalFileSize, -3);
    EXPECT_FALSE(s.Opera.useOnlyG_XXXX);

    const Settings off = ReadFrom("[frmMain]\nAlwaysOnTop=0\n");
    EXPECT_FALSE(off.alwaysOnTop);
}

Settings Sample() {
    Settings s;
    s.appPositionX = 100;
    s.appPositionY = 120;
    s.appWidth = 640;
    s.appHeight = 480;
    s.alwaysOnTop = false;
    s.exitFullScreenOnStop = true;
    s.browserThumbnails = true;
    s.logToFile = true;
    s.maxUiLogLines = 3000000000u;
    s.Mplayer.instance = "/opt/mplayer/mplayer";
    s.Opera.cacheDir = "/home/u/cache \xe4\xf6";  // not UTF-8: kept by its bytes
    s.Opera.minimalFileSize = 0;
    s.Opera.useOnlyG_XXXX = false;
    return s;
}

TEST_F(SettingsTest, WriteThenReadRoundTrips) {
    const Settings written = Sample();
    ASSERT_TRUE(written.Write(path));
    const std::string text = ReadFile(path);
    for (const Key& key : kAllKeys) {
        EXPECT_NE(ValueOf(text, key), "<missing>") << key.name;
    }
    EXPECT_EQ(ValueOf(text, {"frmMain", "Maximized"}), "0");
    EXPECT_EQ(ValueOf(text, {"frmMain", "AlwaysOnTop"}), "0");
    EXPECT_EQ(ValueOf(text, {"Logging", "LogToFile"}), "1");
    // Through the signed writer: the same 32 bits, read back as the same number.
    EXPECT_EQ(ValueOf(text, {"Logging", "MaxUiLogLines"}), "-1294967296");
    Settings read;
    EXPECT_TRUE(read.Read(path));
    EXPECT_EQ(read, written);
}

TEST_F(SettingsTest, WriteKeepsForeignSectionsCommentsAndLineEnds) {
    const std::string mine =
        "; my notes\r\n[Other]\r\nfoo = bar\r\n\r\n[frmMain]\r\nAppWidth=400\r\nExtra=1\r\n";
    WriteFile(path, mine);
    ASSERT_TRUE(Sample().Write(path));
    const std::string text = ReadFile(path);
    EXPECT_EQ(
        text.rfind("; my notes\r\n[Other]\r\nfoo = bar\r\n\r\n[frmMain]\r\nAppWidth=640\r\n", 0),
        0u)
        << text;
    EXPECT_EQ(ValueOf(text, {"frmMain", "Extra"}), "1");
    EXPECT_EQ(ValueOf(text, {"Other", "foo"}), "bar");
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    for (const Key& key : kAllKeys) {
        EXPECT_NE(ValueOf(text, key), "<missing>") << key.name;
    }
}

// A text with a line break cannot be held by one line: it is refused, the key keeps what
// the file held (cutting it would save a different folder), the other keys are written.
TEST_F(SettingsTest, AValueCannotBreakTheFile) {
    WriteFile(path, "[Opera]\nCacheDir=/old/cache\n");
    Settings s;
    s.appWidth = 500;
    s.Opera.cacheDir = "/tmp/x\n[frmMain]\nAppWidth=9999";
    EXPECT_FALSE(s.Write(path));
    Settings read;
    ASSERT_TRUE(read.Read(path));
    EXPECT_EQ(read.Opera.cacheDir, "/old/cache");
    EXPECT_EQ(read.appWidth, 500);

    s.Opera.cacheDir = "/tmp/y\r";
    s.Mplayer.instance = "/usr/bin/mplayer\n";
    EXPECT_FALSE(s.Write(path));
    ASSERT_TRUE(read.Read(path));
    EXPECT_EQ(read.Opera.cacheDir, "/old/cache");
    EXPECT_EQ(read.Mplayer.instance, "") << "what the first write stored";
}

// Texts whose ends the reader would change (blanks, a pair of quotes) come back exactly.
TEST_F(SettingsTest, TextsWithBlankOrQuotedEndsRoundTrip) {
    for (const std::string folder : {"cache ", " cache", "\tcache\t", "\"cache\"", "'c'", "\"",
                                     " \"a b\" ", "a \"b\"", "plain"}) {
        Settings s;
        s.Opera.cacheDir = folder;
        s.Mplayer.instance = folder + " ";
        ASSERT_TRUE(s.Write(path)) << folder;
        Settings read;
        ASSERT_TRUE(read.Read(path));
        EXPECT_EQ(read.Opera.cacheDir, folder);
        EXPECT_EQ(read.Mplayer.instance, folder + " ");
    }
}

// The record goes to disk as one replacement of the file, not one per key: a reader never
// meets half a record, and a large file is not rewritten thirteen times.
TEST_F(SettingsTest, WholeRecordIsOneReplacement) {
    WriteFile(path, "[Other]\nkept=1\n");
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, dir.path().c_str(), IN_MOVED_TO | IN_CLOSE_WRITE), 0);
    ASSERT_TRUE(Sample().Write(path));

    int replacements = 0;
    alignas(struct inotify_event) char events[64 * 1024];
    for (ssize_t got; (got = ::read(watch, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(at);
            if ((event->mask & IN_MOVED_TO) != 0 && event->len > 0 &&
                std::string(event->name) == "reelvault.ini") {
                ++replacements;
            }
            at += sizeof(struct inotify_event) + event->len;
        }
    }
    ::close(watch);
    EXPECT_EQ(replacements, 1);
    EXPECT_EQ(ValueOf(ReadFile(path), {"Other", "kept"}), "1");
    Settings read;
    ASSERT_TRUE(read.Read(path));
    EXPECT_EQ(read, Sample());
}

TEST_F(SettingsTest, BadFilesGiveDefaults) {
    std::mt19937 random(3);
    std::string noise(200000, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    Settings s = ReadFrom(noise);
    EXPECT_EQ(s.appWidth, 350);
    EXPECT_EQ(s.Mplayer.instance, "mplayer");

    s = ReadFrom(std::string(10 * 1024 * 1024, 'x'));
    EXPECT_EQ(s.maxUiLogLines, 1000u);

    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    Settings fromDir;
    EXPECT_FALSE(fromDir.Read(path));  // reported, but defaults all the same
    EXPECT_EQ(fromDir.Mplayer.instance, "mplayer");
    EXPECT_FALSE(fromDir.Write(path));
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(SettingsTest, ReadOnlyFolderFailsAndKeepsTheOldFile) {
    const std::string folder = dir / "ro";
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    ::chmod(dir.path().c_str(), 0777);
    const std::string file = folder + "/reelvault.ini";
    ASSERT_TRUE(Settings().Write(file));
    const std::string before = ReadFile(file);
    ::chmod(file.c_str(), 0666);
    ::chmod(folder.c_str(), 0555);
    EXPECT_TRUE(testsupport::RunUnprivileged([&] { return !Sample().Write(file); }));
    EXPECT_EQ(ReadFile(file), before);
}

// A writer killed at any moment leaves a file that parses, each key holding the value it
// had before or the one being written, never a half file.
TEST_F(SettingsTest, KilledWriterNeverLeavesAHalfFile) {
    const Settings before;  // defaults
    const Settings after = Sample();
    ASSERT_TRUE(before.Write(path));
    const std::string oldText = ReadFile(path);
    ASSERT_TRUE(after.Write(dir / "new.ini"));
    const std::string newText = ReadFile(dir / "new.ini");
    std::filesystem::remove(dir / "new.ini");

    std::mt19937 random(1234);
    const auto start = std::chrono::steady_clock::now();
    int kills = 0;
    for (; kills < 200; ++kills) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                after.Write(path);
                before.Write(path);
            }
        }
        ::usleep(static_cast<useconds_t>(random() % 4000));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);

        const std::string text = ReadFile(path);
        ASSERT_FALSE(text.empty()) << "after kill " << kills;
        ASSERT_TRUE(text.back() == '\n') << "after kill " << kills;
        for (const Key& key : kAllKeys) {
            const std::string value = ValueOf(text, key);
            ASSERT_TRUE(value == ValueOf(oldText, key) || value == ValueOf(newText, key))
                << key.name << "=" << value << " after kill " << kills;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int temporaries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        temporaries += entry.path().filename() != "reelvault.ini";
    }
    std::printf("%d kills in %.2f s; %d temporary files left by killed writers\n", kills, seconds,
                temporaries);
}

TEST(ScreenSize, FallbackAndProvider) {
    platform::SetScreenSizeProvider(nullptr);
    EXPECT_EQ(platform::PrimaryScreenSize().width, 1920);
    EXPECT_EQ(platform::PrimaryScreenSize().height, 1080);
    platform::SetScreenSizeProvider([] { return platform::ScreenSize{800, 600}; });
    EXPECT_EQ(platform::PrimaryScreenSize().width, 800);
    platform::SetScreenSizeProvider([] { return platform::ScreenSize{0, 600}; });
    EXPECT_EQ(platform::PrimaryScreenSize().width, 1920);  // no screen: the fallback
    platform::SetScreenSizeProvider(nullptr);
}

}  // namespace
