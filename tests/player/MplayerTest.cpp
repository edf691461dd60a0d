#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/ProcessMemory.h"
#include "player/Mplayer.h"
#include "support/EngineHarness.h"
#include "support/FakePlayerRecord.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::SplitZeros;

namespace {

const std::string kFake = FAKEPLAYER;

class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        player.OnStop = [this] {
            EXPECT_EQ(std::this_thread::get_id(), mainThread) << "OnStop off the UI thread";
            ++stops;
        };
        ASSERT_EQ(player.Init(526, 65793, kFake), 0);
    }

    void TearDown() override {
        EXPECT_TRUE(player.Shutdown(2s));
        EXPECT_EQ(platform::LiveThreadCount(), 0);
        EXPECT_TRUE(testsupport::ChildProcesses().empty());
    }

    std::string Script(const std::string& name, const std::string& text) {
        const std::string path = dir / name;
        testsupport::WriteFile(path, text);
        return path;
    }

    bool WaitForStops(int count) {
        return ui.PumpUntil([&] { return stops >= count; });
    }

    // Waits until the player's exit is handled and the reader has drained its output.
    void WaitForEnd(int expectedStops) {
        ASSERT_TRUE(WaitForStops(expectedStops));
        ASSERT_TRUE(ui.PumpUntilNoThreads());
        ui.PumpFor(20ms);  // any second, wrong OnStop would show up now
        EXPECT_EQ(stops, expectedStops);
    }

    const std::thread::id mainThread = std::this_thread::get_id();
    testsupport::TempDir dir;
    testsupport::UiLoop ui;
    testsupport::LogLines log;
    MPlayer player;
    int stops = 0;
};

TEST_F(PlayerTest, CommandsWithoutPlayerAreRefused) {
    MPlayer idle;
    idle.OnStop = [this] { ++stops; };
    EXPECT_EQ(idle.Pause(), -1);
    EXPECT_EQ(idle.FrameStep(), -1);
    EXPECT_EQ(idle.Seek(3), -1);
    EXPECT_EQ(idle.Osd(), -1);
    EXPECT_EQ(idle.ChangeVolume(1), -1);
    EXPECT_EQ(idle.SendCommand("pause"), -1);
    EXPECT_EQ(idle.Stop(true), -1);
    EXPECT_EQ(idle.Stop(false), -1);
    EXPECT_EQ(stops, 0);
}

TEST_F(PlayerTest, CommandLineTextAndArgumentVector) {
    const std::string script = Script("a.flv", "");
    ASSERT_EQ(player.Play(script), 0);
    EXPECT_EQ(player.CommandLine(),
              "\"" + kFake +
                  "\" -slave -identify -colorkey 0x10101 -quiet -keepaspect -zoom -wid 526 \"" +
                  script + "\" ");
    const std::vector<std::string> expected = {kFake,     "-slave", "-identify",   "-colorkey",
                                               "0x10101", "-quiet", "-keepaspect", "-zoom",
                                               "-wid",    "526",    script};
    EXPECT_EQ(player.Arguments(), expected);
    ASSERT_TRUE(ui.PumpUntil([&] { return std::filesystem::exists(script + ".argv"); }));
    ASSERT_EQ(player.Stop(true), 0);
    WaitForEnd(1);
    EXPECT_EQ(SplitZeros(ReadFile(script + ".argv")), expected);
}

TEST_F(PlayerTest, WindowHandleAndKeyFormats) {
    struct Case {
        std::int32_t window;
        std::uint32_t key;
        std::string text;
    };
    for (const Case& c :
         {Case{0, 0, "-colorkey 0x0 -quiet -keepaspect -zoom -wid 0 "},
          Case{-5, 0xFFFFFFFF, "-colorkey 0xffffffff -quiet -keepaspect -zoom -wid -5 "},
          Case{2147483647, 0xABCDEF, "0xabcdef -quiet -keepaspect -zoom -wid 2147483647 "}}) {
        MPlayer fresh;  // no instance: the start fails, the text is built all the same
        EXPECT_EQ(fresh.Init(c.window, c.key, "/nonexistent/player"), -1);
        ASSERT_EQ(fresh.Play("f"), -2);
        EXPECT_NE(fresh.CommandLine().find(c.text), std::string::npos) << fresh.CommandLine();
    }
}

TEST_F(PlayerTest, PathsStayOneArgumentAndNeverBecomeOptions) {
    const std::string odd = "we\"ird $(touch pwned); `x` |&<>*? 'q' \\ \n%s.flv";
    const std::string script = Script(odd, "");
    ASSERT_EQ(player.Play(script), 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return std::filesystem::exists(script + ".argv"); }));
    EXPECT_EQ(SplitZeros(ReadFile(script + ".argv")).back(), script);
    EXPECT_EQ(player.CommandLine().substr(player.CommandLine().size() - script.size() - 3),
              "\"" + script + "\" ");
    player.Stop(true);
    WaitForEnd(1);
    EXPECT_FALSE(std::filesystem::exists("pwned"));

    // A relative name that looks like an option is handed over as "./-...".
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    Script("-vo", "");
    const int result = player.Play("-vo");
    std::filesystem::current_path(previous);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(player.Arguments().back(), "./-vo");
    EXPECT_NE(player.CommandLine().find(" \"-vo\" "), std::string::npos);
    ASSERT_TRUE(ui.PumpUntil([&] { return std::filesystem::exists(dir / "-vo.argv"); }));
    EXPECT_EQ(SplitZeros(ReadFile(dir / "-vo.argv")).back(), "./-vo");
    player.Stop(true);
    WaitForEnd(2);
}

TEST_F(PlayerTest, SlaveLinesAreWrittenByteForByte) {
    const std::string script = Script("cmds", "");
    ASSERT_EQ(player.Play(script), 0);
    EXPECT_EQ(player.Pause(), 0);
    EXPECT_EQ(player.FrameStep(), 0);
    EXPECT_EQ(player.Seek(-60), 0);
    EXPECT_EQ(player.Seek(3), 0);
    EXPECT_EQ(player.Osd(), 0);
    EXPECT_EQ(player.ChangeVolume(1), 0);
    EXPECT_EQ(player.ChangeVolume(-1), 0);
    EXPECT_EQ(player.SendCommand("get_time_pos"), 0);
    EXPECT_EQ(stops, 0);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(player.Stop(true), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 100ms);
    EXPECT_EQ(stops, 0) << "OnStop must never come from inside Stop";
    WaitForEnd(1);
    EXPECT_EQ(ReadFile(script + ".stdin"),
              "pause\nframe_step\nseek -60\nseek 3\nosd\nvolume 1\nvolume -1\nget_time_pos\n"
              "quit\n");
    // After the end every command is refused again.
    EXPECT_EQ(player.Pause(), -1);
    EXPECT_EQ(player.Osd(), -1);
    EXPECT_EQ(player.Stop(true), -1);
}

TEST_F(PlayerTest, InitKeepsOldInstanceWhenTheFileIsMissing) {
    EXPECT_EQ(player.Init(7, 0xff, dir / "missing"), -1);
    // Window and key were still taken; the instance stayed the fake player.
    const std::string script = Script("s", "end\n");
    ASSERT_EQ(player.Play(script), 0);
    EXPECT_EQ(player.CommandLine().rfind("\"" + kFake + "\" ", 0), 0u);
    EXPECT_NE(player.CommandLine().find("-colorkey 0xff "), std::string::npos);
    EXPECT_NE(player.CommandLine().find("-wid 7 "), std::string::npos);
    WaitForEnd(1);

    // A bare name is looked up in PATH.
    EXPECT_EQ(player.Init(1, 1, "sh"), 0);
    EXPECT_EQ(player.Init(1, 1, "no-such-player-anywhere"), -1);
    EXPECT_EQ(player.Init(1, 1, ""), -1);
}

TEST_F(PlayerTest, FailedStartFiresOnStopBeforeReturning) {
    const int fds = testsupport::OpenDescriptorCount();
    MPlayer fresh;  // no instance ever stored
    int freshStops = 0;
    fresh.OnStop = [&] { ++freshStops; };
    EXPECT_EQ(fresh.Play("x.flv"), -2);
    EXPECT_EQ(freshStops, 1);
    EXPECT_EQ(fresh.CommandLine().rfind("\"\" -slave ", 0), 0u);
    EXPECT_EQ(fresh.Pause(), -1);

    const std::string notExecutable = Script("plain.txt", "");
    ASSERT_EQ(player.Init(1, 2, notExecutable), 0);  // it exists, so Init accepts it
    EXPECT_EQ(player.Play("x.flv"), -2);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(player.Stop(true), -1);
    EXPECT_EQ(testsupport::OpenDescriptorCount(), fds);
    EXPECT_TRUE(testsupport::ChildProcesses().empty());
}

TEST_F(PlayerTest, OutputIsCutIntoLinesAndLoggedVerbatimInOrder) {
    const std::string script = Script("out",
                                      "out ID_VIDEO_WIDTH=160\\nID_VIDEO_HEIGHT=120\\n\n"
                                      "out A:   1.0 15%\\r\n"
                                      "out A:   2.0 %s %d %n\\r\n"
                                      "out abc\\r\n"
                                      "sleep 100\n"
                                      "out \\ndef\\n\\n\n"
                                      "err to stderr\\r\\n\n"
                                      "out half a \n"
                                      "sleep 100\n"
                                      "out line\\n\n"
                                      "out ab\\0cut off\\n\n"
                                      "sleep 100\n"
                                      "out x\\n\n"
                                      "out no terminator at the end\n"
                                      "end\n");
    ASSERT_EQ(player.Play(script), 0);
    WaitForEnd(1);
    const std::vector<std::string> expected = {"ID_VIDEO_WIDTH=160",
                                               "ID_VIDEO_HEIGHT=120",
                                               "A:   1.0 15%",
                                               "A:   2.0 %s %d %n",
                                               "abc",
                                               "def",
                                               "to stderr",
                                               "half a line",
                                               "abcut off",
                                               "x"};
    EXPECT_EQ(log.Lines(), expected);
}

// A NUL ends nothing: it is dropped, and everything around it arrives on its own line,
// wherever the reads happen to split the output.
TEST_F(PlayerTest, NulBytesAreDroppedAndTheRestKept) {
    const std::string script = Script("nul",
                                      "out \\0a\\0b\\0\\n\\0c\\0\\0d\\r\\0\\n\n"
                                      "out e\\0\n"
                                      "sleep 100\n"
                                      "out \\0f\\n\\0\\0\\n\n"
                                      "out \\0\\0\\0\\n\n"
                                      "out g\\r\\0\n"
                                      "sleep 100\n"
                                      "out \\0\\nh\\n\n"
                                      "end\n");
    ASSERT_EQ(player.Play(script), 0);
    WaitForEnd(1);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"ab", "cd", "ef", "g", "h"}));
}

// A player that never ends its line: what the log can show of it is kept, the rest is
// passed over as it arrives, so time and memory stay linear and bounded, and the lines
// after it are logged as usual.
TEST_F(PlayerTest, LineWithoutABreakKeepsOnlyWhatTheLogShows) {
    const std::string script = Script("unbroken", "unbroken 209715200\nout \\nafter\\n\nend\n");
    const std::uint64_t peakBefore = platform::CurrentProcessMemory().peakResidentKb;
    ASSERT_EQ(player.Play(script), 0);
    WaitForEnd(1);
    const std::uint64_t peakAfter = platform::CurrentProcessMemory().peakResidentKb;
    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    ASSERT_EQ(lines[0].size(), CLog::kMaxMessageLength);
    EXPECT_EQ(lines[0].substr(0, 12), "012345678901");
    EXPECT_EQ(lines[1], "after");
    EXPECT_LT(peakAfter - peakBefore, 64u * 1024) << "kB more at the peak";
}

TEST_F(PlayerTest, TenMegabyteBurstArrivesCompleteAndInOrder) {
    constexpr long kBytes = 10L * 1024 * 1024;
    const std::string script = Script("burst", "burst 10485760\nout done\\n\nend\n");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(player.Play(script), 0);
    WaitForEnd(1);
    const auto took = std::chrono::steady_clock::now() - start;
    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kBytes / 64 + 1));
    for (std::size_t i = 0; i < lines.size() - 1; ++i) {
        char want[32];
        std::snprintf(want, sizeof want, "burst %08zu ", i);
        ASSERT_EQ(lines[i].rfind(want, 0), 0u) << i;
        ASSERT_EQ(lines[i].size(), 63u) << i;
    }
    EXPECT_EQ(lines.back(), "done");
    std::printf("10 MB burst: %lld ms\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

TEST_F(PlayerTest, PlayerEndingByItselfFiresOneOnStop) {
    struct Case {
        const char* name;
        const char* script;
        const char* lastLine;
    };
    const Case cases[] = {
        {"end", "out playing\\n\nend\n", "playing"},
        {"exit-at-once", "exit 3\n", nullptr},
        {"abort", "out before the crash\\npartial li\nabort\n", "before the crash"},
        {"segv", "out before the crash\\npartial li\nsegv\n", "before the crash"},
    };
    int expected = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(player.Play(Script(c.name, c.script)), 0);
        WaitForEnd(++expected);
        EXPECT_EQ(player.SendCommand("osd"), -1);
        if (c.lastLine != nullptr) {
            EXPECT_TRUE(log.Contains(c.lastLine));
        }
    }
    EXPECT_FALSE(log.Contains("partial li"));
}

TEST_F(PlayerTest, SecondStopBeforeTheExitSendsQuitAgainWithoutSleeping) {
    const std::string script = Script("stubborn", "ignore-quit\n");
    ASSERT_EQ(player.Play(script), 0);
    EXPECT_EQ(player.Stop(true), 0);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(player.Stop(true), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 90ms);
    ASSERT_TRUE(ui.PumpUntil([&] { return ReadFile(script + ".stdin") == "quit\nquit\n"; }));
    EXPECT_EQ(stops, 0);
    // Shutdown ends the player that ignores "quit" (TearDown checks that nothing is left).
    EXPECT_TRUE(player.Shutdown(300ms));
    EXPECT_EQ(stops, 0) << "no OnStop during shutdown";
}

TEST_F(PlayerTest, AbandonedPlayerNeverDisturbsTheNextOne) {
    // The first player outlives the start of the second by a while.
    const std::string slow = "ignore-quit\nwait-line quit\nsleep 300\nend\n";
    const int fds = testsupport::OpenDescriptorCount();
    for (bool notify : {false, true}) {
        SCOPED_TRACE(notify ? "after Stop(true)" : "after Stop(false)");
        const std::string first = Script(notify ? "first-t" : "first-f", slow);
        const std::string second = Script(notify ? "second-t" : "second-f", "");
        ASSERT_EQ(player.Play(first), 0);
        ASSERT_EQ(player.Stop(notify), 0);
        ASSERT_EQ(player.Play(second), 0);
        // Wait for the first player's end and its hand-off.
        ASSERT_TRUE(ui.PumpUntil([&] { return testsupport::ChildProcesses().size() == 1; }));
        ui.PumpFor(50ms);
        EXPECT_EQ(stops, 0);
        EXPECT_EQ(player.SendCommand("osd"), 0) << "the second player lost its handles";
        ASSERT_EQ(player.Stop(true), 0);
        WaitForEnd(1);
        stops = 0;
        EXPECT_EQ(ReadFile(first + ".stdin"), "quit\n");
        EXPECT_EQ(ReadFile(second + ".stdin"), "osd\nquit\n");
    }
    EXPECT_EQ(testsupport::OpenDescriptorCount(), fds);
}

TEST_F(PlayerTest, WritingToAPlayerThatHasGoneFailsWithoutSigpipe) {
    const std::string script = Script("gone", "");
    ASSERT_EQ(player.Play(script), 0);
    ASSERT_EQ(player.Stop(false), 0);
    ASSERT_TRUE(ui.PumpUntilNoThreads());
    EXPECT_TRUE(testsupport::ChildProcesses().empty());
    // Still "running" to the controller (abandoned), but the pipe has no reader.
    EXPECT_EQ(player.SendCommand("osd"), -2);
    EXPECT_EQ(player.Seek(60), -2);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
    EXPECT_EQ(stops, 0);
}

// A stopped player (or one blocked opening a fifo) reads nothing: the slave lines fill the
// pipe. The user interface thread must never wait for room: lines that do not fit at once
// are dropped whole (-2), the lines before them arrive intact, and the close still ends
// the player within its bound.
TEST_F(PlayerTest, PlayerThatStopsReadingNeverBlocksTheWriter) {
    const std::string script = Script("deaf", "out ready\\n\nwait-line first\nstop-reading\n");
    ASSERT_EQ(player.Play(script), 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return log.Contains("ready"); }));
    ASSERT_EQ(player.SendCommand("first"), 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return ReadFile(script + ".stdin") == "first\n"; }));

    // On a thread of its own so that a blocking write fails the test instead of hanging
    // it; the write comes free when the player is ended below.
    std::atomic<bool> done{false};
    int written = 0, dropped = 0, other = 0;
    std::thread wheel([&] {
        for (int step = 0; step < 8000; ++step) {
            const int result = player.ChangeVolume(step % 2 == 0 ? 1 : -1);
            (result == 0 ? written : result == -2 ? dropped : other) += 1;
        }
        done = true;
    });
    const bool finished = ui.PumpUntil([&] { return done.load(); }, 20s);
    EXPECT_TRUE(finished) << "a slave line blocked the caller";
    if (!finished) {
        platform::SignalLiveChildren(true);  // frees the writer, or the test would hang
        wheel.join();
    }
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(player.Shutdown(1s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 4s);
    if (wheel.joinable()) {
        wheel.join();
    }
    EXPECT_GT(written, 0);
    EXPECT_GT(dropped, 0) << "a pipe holds far fewer than 8000 lines";
    EXPECT_EQ(other, 0);
    EXPECT_TRUE(testsupport::ChildProcesses().empty());
}

TEST_F(PlayerTest, ShutdownEndsEveryPlayerWithinItsBound) {
    ASSERT_EQ(player.Play(Script("a", "ignore-quit\n")), 0);
    ASSERT_EQ(player.Stop(false), 0);
    ASSERT_EQ(player.Play(Script("b", "ignore-quit\n")), 0);
    ASSERT_TRUE(ui.PumpUntil([] { return testsupport::ChildProcesses().size() == 2; }));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(player.Shutdown(200ms));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_TRUE(testsupport::ChildProcesses().empty());
    EXPECT_EQ(stops, 0);
}

TEST_F(PlayerTest, TwoHundredCyclesLeaveNothingBehind) {
    const std::string script = Script("cycle", "out ready\\n\n");
    const int fds = testsupport::OpenDescriptorCount();
    constexpr int kCycles = 200;
    for (int i = 0; i < kCycles; ++i) {
        ASSERT_EQ(player.Play(script), 0) << i;
        ASSERT_EQ(player.Stop(true), 0) << i;
        ASSERT_TRUE(WaitForStops(i + 1)) << i;
    }
    ASSERT_TRUE(ui.PumpUntilNoThreads());
    EXPECT_EQ(stops, kCycles);
    EXPECT_EQ(testsupport::OpenDescriptorCount(), fds);
    EXPECT_TRUE(testsupport::ChildProcesses().empty());
}

}  // namespace
