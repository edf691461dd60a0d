// Why a playback ended, as the controller tells it with the stop notification: the line
// the player printed last before giving up must be there when the stop arrives, however
// much it printed before; a user's stop, or a file that played, leaves nothing to tell.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "player/Mplayer.h"
#include "player/PlayerReport.h"
#include "support/EngineHarness.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;

namespace {

const std::string kFake = FAKEPLAYER;

class PlayerFailureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        player.OnStop = [this] {
            ++stops;
            atStop = player.FailureLine();
        };
        player.OnAudioOnly = [this] { ++audioOnly; };
        ASSERT_EQ(player.Init(526, 65793, kFake), 0);
    }

    void TearDown() override {
        EXPECT_TRUE(player.Shutdown(2s));
        EXPECT_EQ(platform::LiveThreadCount(), 0);
    }

    std::string Script(const std::string& name, const std::string& text) {
        const std::string path = dir / name;
        testsupport::WriteFile(path, text);
        return path;
    }

    // Plays `text` and returns the failure line as the stop notification found it.
    std::string PlayToTheEnd(const std::string& name, const std::string& text) {
        const int before = stops;
        EXPECT_EQ(player.Play(Script(name, text)), 0);
        EXPECT_TRUE(ui.PumpUntil([&] { return stops > before; }));
        EXPECT_TRUE(ui.PumpUntilNoThreads());
        return atStop;
    }

    testsupport::TempDir dir;
    testsupport::UiLoop ui;
    testsupport::LogLines log;
    MPlayer player;
    int stops = 0;
    int audioOnly = 0;
    std::string atStop;
};

TEST_F(PlayerFailureTest, TheErrorLineArrivesWithTheStopEvenAfterMuchOutput) {
    // The exit comes right after the line; the reader may still be busy with what came
    // before it when the wait thread sees the exit.
    for (int round = 0; round < 20; ++round) {
        EXPECT_EQ(PlayToTheEnd("gone" + std::to_string(round),
                               "burst 262144\nout File not found: 'gone.flv'\\n\n"
                               "out Failed to open gone.flv.\\n\nexit 1\n"),
                  "File not found: 'gone.flv'")
            << "round " << round;
    }
    EXPECT_TRUE(log.Contains("Failed to open gone.flv.")) << "the log keeps every line";
}

TEST_F(PlayerFailureTest, OnlyAQuickEndThatTheUserDidNotAskForTellsAnything) {
    EXPECT_EQ(PlayToTheEnd("played", "out Starting playback...\\n\nend\n"), "");
    EXPECT_EQ(PlayToTheEnd("silent", "out Exiting... (End of file)\\n\nend\n"),
              "The player found nothing it could play in the file.");
    // A 2 s clip on a machine without the VDPAU driver or a sound device: it played.
    const std::string outputs =
        "out Failed to open VDPAU backend libvdpau_nvidia.so: cannot open shared object "
        "file\\n\nout Could not open/initialize audio device -> no sound.\\n\n";
    EXPECT_EQ(
        PlayToTheEnd("short", outputs + "out Starting playback...\\n\nout VO: [x11] 160x120 => "
                                        "160x120 Planar YV12\\n\nexit 1\n"),
        "");
    EXPECT_EQ(
        PlayToTheEnd("shorter", outputs + "out Starting playback...\\n\nout \\nExiting... (End "
                                          "of file)\\n\nend\n"),
        "");
    // Sound only, with no device to play it on, never starts.
    EXPECT_EQ(PlayToTheEnd("tone", outputs + "out Video: no video\\n\nout \\nExiting... (End "
                                             "of file)\\n\nend\n"),
              "Could not open/initialize audio device -> no sound.");

    // Stopped by the user before it said anything: nothing to tell.
    const std::string slow = Script("slow", "sleep 20000\n");
    ASSERT_EQ(player.Play(slow), 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return testsupport::ReadFile(slow + ".argv").size() > 0; }));
    const int before = stops;
    player.Stop(true);
    ASSERT_TRUE(ui.PumpUntil([&] { return stops > before; }));
    EXPECT_EQ(atStop, "");

    // The next play clears the last failure.
    EXPECT_EQ(PlayToTheEnd("bad", "out Failed to recognize file format.\\n\nexit 1\n"),
              "Failed to recognize file format.");
    EXPECT_EQ(PlayToTheEnd("good", "out Starting playback...\\n\nend\n"), "");
}

TEST_F(PlayerFailureTest, APlayerThatCannotStartSaysSo) {
    const std::string notAProgram = Script("not-a-program", "text");
    ASSERT_EQ(player.Init(526, 65793, notAProgram), 0);  // it exists
    const int before = stops;
    EXPECT_NE(player.Play(Script("any", "end\n")), 0);
    EXPECT_EQ(stops, before + 1);
    EXPECT_EQ(atStop, "The player could not be started: " + notAProgram);
}

TEST_F(PlayerFailureTest, SoundOnlyIsAnnouncedOncePerPlayback) {
    const std::string script =
        Script("tone", "out Video: no video\\n\nout Video: no video\\n\nsleep 100\nend\n");
    ASSERT_EQ(player.Play(script), 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return stops == 1; }));
    ASSERT_TRUE(ui.PumpUntilNoThreads());
    EXPECT_EQ(audioOnly, 1);
}

TEST(PlayerReportTest, KnowsTheRealPlayersErrorLinesFromItsWarnings) {
    struct Case {
        const char* line;
        bool error;
    };
    const Case cases[] = {
        {"File not found: '/tmp/gone.avi'", true},
        {"Failed to open /tmp/gone.avi.", true},
        {"Failed to open LIRC support. You will not be able to use your remote control.", false},
        {"Failed to open VDPAU backend libvdpau_nvidia.so: cannot open shared object file: No "
         "such file or directory",
         false},
        {"Failed to recognize file format.", true},
        {"LAVF_header: av_open_input_stream() failed", true},
        {"No stream found to handle url http://a/b", true},
        {"do_connect: could not connect to socket", false},
        {"connect: No such file or directory", false},
        {"Exiting... (End of file)", false},
        {"Could not open/initialize audio device -> no sound.", true},
        {"Audio: no sound", false},
        {"Video: no video", false},
        {"Playing File not found: x.", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlayerReport::IsErrorLine(c.line), c.error) << c.line;
    }
}

// The size the picture is shown at comes from the real player's video output line (its
// display aspect applied after "=>"); nothing else, and nothing absurd, is taken for one.
TEST(PlayerReportTest, ReadsThePictureSizeFromTheVideoOutputLineOnly) {
    struct Case {
        const char* line;
        int width, height;  // 0 0: no size
    };
    const Case cases[] = {
        {"VO: [x11] 480x360 => 640x360 Planar YV12  [zoom]", 640, 360},
        {"VO: [xv] 720x576 => 1024x576 Packed YUY2 ", 1024, 576},
        {"VO: [x11] 480x360 => 640x360", 640, 360},
        {"VO: [x11] 480x360 => 0x360 Planar YV12", 0, 0},
        {"VO: [x11] 480x360 => 99999999999x360 Planar YV12", 0, 0},
        {"VO: [x11] 480x360 => -640x360", 0, 0},
        {"VO: [x11] 480x360 =>640x360", 0, 0},
        {"VO: [x11] 480x360 => 640x", 0, 0},
        {"VO: [x11]", 0, 0},
        {"VDec: vo config request - 480 x 360 (preferred colorspace: Planar YV12)", 0, 0},
        {"Movie-Aspect is 1.78:1 - prescaling to correct movie aspect.", 0, 0},
    };
    for (const auto& c : cases) {
        PlayerReport report;
        const PlayerReport::News news = report.Take(c.line);
        EXPECT_EQ(news.kind,
                  c.width ? PlayerReport::News::kPictureSize : PlayerReport::News::kNothing)
            << c.line;
        EXPECT_EQ(news.width, c.width) << c.line;
        EXPECT_EQ(news.height, c.height) << c.line;
    }
}

}  // namespace
