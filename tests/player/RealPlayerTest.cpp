// The engine against the real player: a window of ours on a private Xvfb display receives
// the video of a tiny clip, and the slave commands are accepted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "platform/Process.h"
#include "player/Mplayer.h"
#include "support/EngineHarness.h"

// Last: Xlib defines macros (None, Bool, Status) that clash with other headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace std::chrono_literals;

namespace {

const std::string kClip = REELVAULT_TEST_DATA "/clip.avi";
constexpr int kWidth = 320;
constexpr int kHeight = 240;

// A private X server on a display it picks itself (-displayfd), so parallel runs never
// collide.
class PrivateXServer {
  public:
    bool Start() {
        if (!platform::CreatePipe(outputRead, outputWrite)) {
            return false;
        }
        platform::PipeEnd inputRead, inputWrite;
        if (!platform::CreatePipe(inputRead, inputWrite)) {
            return false;
        }
        const std::string geometry = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
        server = platform::SpawnProcess(
            {"Xvfb", "-displayfd", "1", "-screen", "0", geometry, "-nolisten", "tcp", "-noreset"}, inputRead,
            outputWrite);
        platform::ClosePipe(inputRead);
        platform::ClosePipe(outputWrite);
        input = inputWrite;
        if (!server) {
            return false;
        }
        // The display number arrives as a line of digits among the server's messages.
        std::string text;
        char buffer[512];
        for (;;) {
            const long n = platform::ReadPipe(outputRead, buffer, sizeof buffer);
            if (n <= 0) {
                return false;
            }
            text.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t lf; (lf = text.find('\n')) != std::string::npos;) {
                const std::string line = text.substr(0, lf);
                text.erase(0, lf + 1);
                if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
                    display = ":" + line;
                    return true;
                }
            }
        }
    }

    ~PrivateXServer() {
        if (server) {
            server->Terminate();
            server->Wait();
        }
        // Kept open until now: a server writing into a closed pipe would die of SIGPIPE.
        platform::ClosePipe(outputRead);
        platform::ClosePipe(input);
    }

    std::string display;

  private:
    platform::ProcessHandle server;
    platform::PipeEnd outputRead = platform::kNoPipe, outputWrite = platform::kNoPipe;
    platform::PipeEnd input = platform::kNoPipe;
};

class RealPlayerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (platform::FindExecutable("mplayer").empty() ||
            platform::FindExecutable("Xvfb").empty()) {
            return;
        }
        xserver = new PrivateXServer;
        if (!xserver->Start()) {
            return;
        }
        // The player finds its display the usual way; set before any worker thread runs.
        ::setenv("DISPLAY", xserver->display.c_str(), 1);
        x = XOpenDisplay(xserver->display.c_str());
    }

    static void TearDownTestSuite() {
        if (x != nullptr) {
            XCloseDisplay(x);
            x = nullptr;
        }
        delete xserver;
        xserver = nullptr;
    }

    void SetUp() override {
        if (x == nullptr) {
            GTEST_SKIP() << "needs mplayer and Xvfb";
        }
        const int screen = DefaultScreen(x);
        window = XCreateSimpleWindow(x, RootWindow(x, screen), 0, 0, kWidth, kHeight, 0,
                                     BlackPixel(x, screen), BlackPixel(x, screen));
        XMapWindow(x, window);
        XSync(x, False);
        player.OnStop = [this] { ++stops; };
        ASSERT_EQ(player.Init(static_cast<std::int32_t>(window), 0x10101, "mplayer"), 0);
    }

    void TearDown() override {
        if (x == nullptr) {
            return;
        }
        EXPECT_TRUE(player.Shutdown(3s));
        EXPECT_TRUE(testsupport::ChildProcesses().size() <= 1) << "only the X server is left";
        XDestroyWindow(x, window);
        XSync(x, False);
    }

    bool Logged(const std::string& text) { return log.Contains(text); }

    // Distinct colours in the window and how many pixels are not the black background.
    std::pair<std::size_t, int> LookAtWindow(const char* saveAs) {
        XImage* image = XGetImage(x, window, 0, 0, kWidth, kHeight, AllPlanes, ZPixmap);
        if (image == nullptr) {
            return {0, 0};
        }
        std::set<unsigned long> colours;
        int lit = 0;
        std::ofstream ppm;
        if (saveAs != nullptr) {
            ppm.open(saveAs, std::ios::binary);
            ppm << "P6\n" << kWidth << " " << kHeight << "\n255\n";
        }
        for (int py = 0; py < kHeight; ++py) {
            for (int px = 0; px < kWidth; ++px) {
                const unsigned long pixel = XGetPixel(image, px, py);
                colours.insert(pixel);
                lit += (pixel & 0xffffff) != 0 ? 1 : 0;
                if (saveAs != nullptr) {
                    const char rgb[3] = {static_cast<char>(pixel >> 16),
                                         static_cast<char>(pixel >> 8), static_cast<char>(pixel)};
                    ppm.write(rgb, 3);
                }
            }
        }
        XDestroyImage(image);
        return {colours.size(), lit};
    }

    // Lines the player printed after `from` that show a command it did not take.
    std::vector<std::string> Complaints(std::size_t from) {
        std::vector<std::string> found;
        const auto lines = log.Lines();
        for (std::size_t i = from; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            if (line.find("nknown command") != std::string::npos ||
                line.find("requires at least") != std::string::npos ||
                line.find("not found") != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }

    static inline PrivateXServer* xserver = nullptr;
    static inline Display* x = nullptr;
    Window window = 0;
    testsupport::UiLoop ui;
    testsupport::LogLines log;
    MPlayer player;
    int stops = 0;
};

TEST_F(RealPlayerTest, VideoInOurWindowCommandsAcceptedQuitStopsOnce) {
    ASSERT_EQ(player.Play(kClip), 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return Logged("Starting playback..."); }, 15s));
    EXPECT_TRUE(Logged("ID_VIDEO_WIDTH=160"));
    EXPECT_TRUE(Logged("ID_VIDEO_HEIGHT=120"));

    const std::size_t before = log.Count();
    ui.PumpFor(300ms);
    EXPECT_EQ(player.Pause(), 0);
    ui.PumpFor(200ms);
    EXPECT_EQ(player.FrameStep(), 0);
    ui.PumpFor(500ms);

    const char* shot = std::getenv("REELVAULT_SCREENSHOT");
    const auto [colours, lit] = LookAtWindow(shot);
    EXPECT_GT(colours, 20u) << "the test pattern has many colours";
    // The x11 output draws the clip unscaled (160x120) in the middle of the window.
    EXPECT_GT(lit, 160 * 120 / 2) << "the window shows video";

    EXPECT_EQ(player.ChangeVolume(1), 0);
    EXPECT_EQ(player.Osd(), 0);
    ui.PumpFor(500ms);
    EXPECT_EQ(stops, 0) << "the player must still run";
    EXPECT_EQ(player.SendCommand("get_time_pos"), 0);
    ASSERT_TRUE(ui.PumpUntil(
        [&] {
            for (const auto& line : log.Lines()) {
                if (line.rfind("ANS_TIME_POSITION=", 0) == 0) {
                    return true;
                }
            }
            return false;
        },
        5s))
        << "the player answers while paused";
    EXPECT_EQ(Complaints(before), std::vector<std::string>{});

    ASSERT_EQ(player.Stop(true), 0);
    EXPECT_EQ(stops, 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return stops >= 1; }, 10s));
    ASSERT_TRUE(ui.PumpUntilNoThreads());
    ui.PumpFor(100ms);
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(Logged("Exiting... (Quit)"));
}

TEST_F(RealPlayerTest, SeekToTheEndStopsOnce) {
    ASSERT_EQ(player.Play(kClip), 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return Logged("Starting playback..."); }, 15s));
    const std::size_t before = log.Count();
    EXPECT_EQ(player.Seek(3), 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return stops >= 1; }, 15s));
    ASSERT_TRUE(ui.PumpUntilNoThreads());
    ui.PumpFor(100ms);
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(Logged("Exiting... (End of file)"));
    EXPECT_EQ(Complaints(before), std::vector<std::string>{});
    EXPECT_EQ(player.Pause(), -1);
}

}  // namespace
