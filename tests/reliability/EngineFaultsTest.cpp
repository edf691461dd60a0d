// The player engine under faults of the player and with cache trees full of awkward
// names: every file the scanner lists must reach the player as exactly the bytes listed.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "browser/CacheScanner.h"
#include "player/Mplayer.h"
#include "support/EngineHarness.h"
#include "support/FakePlayerRecord.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::SplitZeros;

namespace {

class EngineFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        player.OnStop = [this] { ++stops; };
        ASSERT_EQ(player.Init(1, 0x101010, FAKEPLAYER), 0);
    }
    void TearDown() override {
        EXPECT_TRUE(player.Shutdown(2s));
        EXPECT_EQ(platform::LiveThreadCount(), 0);
        EXPECT_TRUE(testsupport::ChildProcesses().empty());
    }

    // Waits for `count` stops in all, then for the workers to finish.
    void ExpectStops(int count) {
        ASSERT_TRUE(ui.PumpUntil([&] { return stops >= count; })) << stops << " stops";
        ASSERT_TRUE(ui.PumpUntilNoThreads());
        ui.PumpFor(20ms);  // a second, wrong OnStop would arrive now
        EXPECT_EQ(stops, count);
        EXPECT_TRUE(testsupport::ChildProcesses().empty());
    }

    testsupport::TempDir dir;
    testsupport::UiLoop ui;
    testsupport::LogLines log;
    MPlayer player;
    int stops = 0;
};

// Crashes the engine's own tests do not try yet: before any output, inside a large
// output, and while obeying "quit". Each ends in exactly one OnStop with nothing left.
TEST_F(EngineFaults, PlayerCrashingAtEveryStageGivesOneStop) {
    struct Case {
        const char* name;
        const char* script;
        bool stop;  // Stop(true) after the start
        std::string lastLine;
    };
    const Case cases[] = {
        {"abort at start", "abort\n", false, ""},
        {"segv at start", "segv\n", false, ""},
        // 200000 bytes are 3125 numbered lines: the last one must still arrive whole.
        {"segv inside a burst", "burst 200000\nout unfinished li\nsegv\n", false,
         "burst 00003124 " + std::string(48, '0')},
        {"abort after quit", "ignore-quit\nwait-line quit\nout bye\\n\nabort\n", true, "bye"},
        {"segv after quit", "ignore-quit\nwait-line quit\nsegv\n", true, ""},
    };
    int expected = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string script = dir / std::to_string(expected);
        testsupport::WriteFile(script, c.script);
        ASSERT_EQ(player.Play(script), 0);
        if (c.stop) {
            ASSERT_EQ(player.Stop(true), 0);
        }
        ExpectStops(++expected);
        EXPECT_EQ(player.SendCommand("osd"), -1) << "the crashed player still looks alive";
        if (!c.lastLine.empty()) {
            EXPECT_TRUE(log.Contains(c.lastLine));
        }
    }
    EXPECT_FALSE(log.Contains("unfinished li"));
}

// A helper the player started keeps the player's output pipe open after the player has
// gone: it must go with the player, or the reader would never see the end of the pipe.
TEST_F(EngineFaults, HelperLeftByThePlayerGoesWithIt) {
    const std::string script = dir / "helper";
    testsupport::WriteFile(script, "spawn-sleeper\nout ready\\n\n");
    ASSERT_EQ(player.Play(script), 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return log.Contains("ready"); }));
    const pid_t helper = std::stoi(testsupport::ReadFile(script + ".sleeper"));
    ASSERT_GT(helper, 0);
    ASSERT_EQ(player.Stop(true), 0);
    ExpectStops(1);  // includes: the reader thread has finished
    // Gone, or a zombie waiting for whoever adopted it.
    const std::string stat = testsupport::ReadFile("/proc/" + std::to_string(helper) + "/stat");
    const std::size_t paren = stat.rfind(')');
    EXPECT_TRUE(paren == std::string::npos || stat.compare(paren, 3, ") Z") == 0)
        << "the helper outlived the player: " << stat;
}

// True while `pid` runs (a zombie has ended: it only waits for whoever adopted it).
bool Alive(pid_t pid) {
    const std::string stat = testsupport::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t paren = stat.rfind(')');
    return paren != std::string::npos && stat.compare(paren, 3, ") Z") != 0;
}

// A helper that ignores SIGTERM outlives the player: holding the player's output pipe,
// it would keep the reader waiting for ever; holding nothing, it would just stay. After a
// bounded wait what is left of the player's group gets SIGKILL, at a stop as at the
// program's end.
TEST_F(EngineFaults, HelperIgnoringSigtermIsKilledAfterTheBoundedWait) {
    // Holding the output pipe or holding nothing at all, at a stop or at the shutdown.
    struct Case {
        const char* spawn;
        bool shutdown;
    };
    int expectedStops = 0;
    for (const Case c :
         {Case{"spawn-stubborn-sleeper", false}, Case{"spawn-stubborn-sleeper", true},
          Case{"spawn-stubborn-stray", false}, Case{"spawn-stubborn-stray", true}}) {
        const std::string name = std::string(c.spawn) + (c.shutdown ? "-shutdown" : "-stop");
        SCOPED_TRACE(name);
        const std::string script = dir / name;
        testsupport::WriteFile(script, std::string(c.spawn) + "\nout ready " + name + "\\n\n");
        ASSERT_EQ(player.Play(script), 0);
        ASSERT_TRUE(ui.PumpUntil([&] { return log.Contains("ready " + name); }));
        const pid_t helper = std::stoi(testsupport::ReadFile(script + ".sleeper"));
        ASSERT_GT(helper, 0);
        if (c.shutdown) {
            EXPECT_TRUE(player.Shutdown(3s));
            EXPECT_EQ(platform::LiveThreadCount(), 0);
        } else {
            ASSERT_EQ(player.Stop(true), 0);
            ExpectStops(++expectedStops);
        }
        // SIGKILL has been sent by now; the helper may take a moment to finish dying.
        const bool alive = !ui.PumpUntil([&] { return !Alive(helper); }, 2s);
        EXPECT_FALSE(alive) << "the helper outlived the player";
        if (alive) {
            ::kill(helper, SIGKILL);  // not left to outlive the test
        }
    }
}

// Creates `path` (and its folders) as a stand-in script that ends by itself.
void MakeScript(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    testsupport::WriteFile(path, "out playing\\n\nend\n");
}

// The scanner's paths, scanned as an unprivileged user when we are root (permissions do
// not stop root); false when that user cannot be switched to.
bool ScanAsUser(const std::string& cacheDir, std::vector<std::string>& paths) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        return false;
    }
    const bool ran = testsupport::RunUnprivileged([&] {
        CacheScanner scanner;
        scanner.SetOptions(cacheDir, 0, true);
        scanner.Rescan();
        std::string all;
        for (const auto& e : scanner.entries) {
            all += e.fileName;
            all += '\0';
        }
        return ::write(pipeEnds[1], all.data(), all.size()) == static_cast<ssize_t>(all.size());
    });
    ::close(pipeEnds[1]);
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        all.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeEnds[0]);
    paths = SplitZeros(all);
    return ran;
}

TEST_F(EngineFaults, AwkwardCacheTreesAreListedAndPlayedByTheirExactBytes) {
    std::string deep = "g_0004";
    for (int level = 1; level <= 100; ++level) {
        deep += "/level-" + std::to_string(level);
    }
    struct Case {
        const char* name;
        std::string relative;
    };
    const Case cases[] = {
        {"newline", "g_0001/new\nline.flv"},     {"double quote", "g_0001/say \"cheese\".flv"},
        {"leading dash", "g_0001/-vo null"},     {"not UTF-8", "g_0001/caf\xe9 \xff\xfe.flv"},
        {"beside a link loop", "g_0002/inside"}, {"beside an unreadable folder", "g_0003/readable"},
        {"100 levels down", deep + "/bottom"},
    };
    std::set<std::string> expected;
    for (const Case& c : cases) {
        MakeScript(dir / c.relative);
        expected.insert(dir / c.relative);
    }
    fs::create_directory_symlink("..", dir / "g_0002/up");
    fs::create_directory_symlink(".", dir / "g_0002/self");
    fs::create_directory_symlink(dir.path(), dir / "g_0002/root");
    MakeScript(dir / "g_0003/locked/hidden");
    fs::permissions(dir / "g_0003/locked", fs::perms::none);
    fs::permissions(dir.path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);

    std::vector<std::string> listed;
    if (!ScanAsUser(dir.path(), listed)) {
        GTEST_SKIP() << "running as root and cannot switch to an unprivileged user";
    }
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expected);
    EXPECT_EQ(listed.size(), expected.size()) << "a file was listed twice";

    int played = 0;
    for (const std::string& path : listed) {
        SCOPED_TRACE(path);
        ASSERT_EQ(player.Play(path), 0);
        ExpectStops(++played);
        EXPECT_EQ(player.Arguments().back(), path);
        const std::vector<std::string> argv = SplitZeros(ReadFile(path + ".argv"));
        ASSERT_FALSE(argv.empty()) << "the player never started";
        EXPECT_EQ(argv.back(), path);
    }
}

}  // namespace
