// Playing cached bodies where they lie: in place from an offset, as a file, or rebuilt.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cache/EntryReaders.h"
#include "cache/Rebuild.h"
#include "cache/Stream.h"
#include "player/Mplayer.h"
#include "support/CacheWriters.h"
#include "support/EngineHarness.h"
#include "support/FakePlayerRecord.h"

using namespace std::chrono_literals;
using namespace testsupport;

namespace {

const std::string kFake = FAKEPLAYER;

class PlayEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Rebuilt bodies go to a private folder below this test's own.
        ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        player.OnStop = [this] { ++stops; };
        ASSERT_EQ(player.Init(526, 65793, kFake), 0);
    }

    void TearDown() override {
        EXPECT_TRUE(player.Shutdown(2s));
        ::unsetenv("XDG_RUNTIME_DIR");
    }

    std::vector<std::string> WaitForArguments(const std::string& file) {
        EXPECT_TRUE(ui.PumpUntil([&] { return std::filesystem::exists(file + ".argv"); }));
        EXPECT_TRUE(ui.PumpUntil([&] { return !ReadFile(file + ".argv").empty(); }));
        return SplitZeros(ReadFile(file + ".argv"));
    }

    void StopAndWait() {
        ASSERT_EQ(player.Stop(true), 0);
        ASSERT_TRUE(ui.PumpUntil([&] { return stops >= 1; }));
        ASSERT_TRUE(ui.PumpUntilNoThreads());
    }

    TempDir dir;
    UiLoop ui;
    LogLines log;
    MPlayer player;
    int stops = 0;
};

const std::vector<std::string> kHead = {kFake,     "-slave", "-identify",   "-colorkey",
                                        "0x10101", "-quiet", "-keepaspect", "-zoom",
                                        "-wid",    "526"};

std::vector<std::string> Expected(std::vector<std::string> tail) {
    std::vector<std::string> all = kHead;
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

TEST_F(PlayEntryTest, ChromiumBodyPlaysInPlaceFromItsOffset) {
    const std::string path = dir / "00000000000000a1_0";
    WriteFile(path, ChromiumEntryFile(ChromiumKey("https://v.test/a.mp4"), Mp4Body(5000),
                                      ChromiumStream0(ChromiumHttp("video/mp4"))));
    cache::ReadEntry read;
    ASSERT_TRUE(cache::ReadChromiumFiles(path, "", read));
    const std::string offset = std::to_string(read.entry.bodyOffset);
    ASSERT_EQ(player.Play(read.entry), 0);
    EXPECT_EQ(player.CommandLine(), "\"" + kFake +
                                        "\" -slave -identify -colorkey 0x10101 -quiet "
                                        "-keepaspect -zoom -wid 526 -sb " +
                                        offset + " \"" + path + "\" ");
    EXPECT_EQ(player.Arguments(), Expected({"-sb", offset, path}));
    EXPECT_EQ(WaitForArguments(path), Expected({"-sb", offset, path}));
    StopAndWait();
}

TEST_F(PlayEntryTest, FirefoxAndClassicFilesPlayAsTheyAre) {
    const std::string firefox = dir / "ABCDEF";
    WriteFile(firefox, FirefoxMediaEntry("https://v.test/b.webm", Mp4Body(3000), "video/webm"));
    cache::ReadEntry read;
    ASSERT_TRUE(cache::ReadFirefoxFile(firefox, read));
    ASSERT_EQ(player.Play(read.entry), 0);
    EXPECT_EQ(player.Arguments(), Expected({firefox}));
    EXPECT_EQ(WaitForArguments(firefox), Expected({firefox}));
    StopAndWait();

    cache::Entry classic;
    classic.file = dir / "-classic";
    WriteFile(classic.file, "");
    stops = 0;
    ASSERT_EQ(player.Play(classic), 0);
    EXPECT_EQ(player.Arguments(), Expected({classic.file}));
    StopAndWait();
}

TEST_F(PlayEntryTest, PiecedBodyIsRebuiltPlayedAndRemovedWhenPlaybackStops) {
    std::string resource = Mp4Body(200000);
    for (std::size_t i = 24; i < resource.size(); ++i) {
        resource[i] = static_cast<char>(i * 7);
    }
    auto ranges = ChromiumPieces(resource);
    std::swap(ranges[0], ranges[2]);  // arrival order is not resource order
    WriteFile(dir / "p_0", ChromiumEntryFile(ChromiumKey("https://v.test/p.mp4"), "",
                                             ChromiumStream0(ChromiumHttp("video/mp4"))));
    WriteFile(dir / "p_s", ChromiumSparseFile(ChromiumKey("https://v.test/p.mp4"), ranges));
    cache::ReadEntry read;
    ASSERT_TRUE(cache::ReadChromiumFiles(dir / "p_0", dir / "p_s", read));
    ASSERT_EQ(player.Play(read.entry), 0);
    const std::string rebuilt = player.Arguments().back();
    EXPECT_EQ(rebuilt.rfind(dir / "reelvault/body-" + std::to_string(::getpid()) + "-", 0), 0u)
        << rebuilt;
    EXPECT_EQ(rebuilt.substr(rebuilt.size() - 4), ".mp4");
    EXPECT_EQ(WaitForArguments(rebuilt), Expected({rebuilt}));
    EXPECT_EQ(ReadFile(rebuilt), resource);
    StopAndWait();
    EXPECT_FALSE(std::filesystem::exists(rebuilt));
    std::filesystem::remove(rebuilt + ".argv");
    std::filesystem::remove(rebuilt + ".stdin");
}

TEST_F(PlayEntryTest, PiecesThatCannotBeReadFailLikeAPlayerThatCannotStart) {
    cache::Entry entry;
    entry.file = dir / "q_0";
    entry.piecesFile = dir / "missing_s";
    entry.storage = cache::Storage::Pieces;
    EXPECT_EQ(player.Play(entry), -2);
    EXPECT_EQ(stops, 1);
}

TEST_F(PlayEntryTest, StreamsThatCannotPlayAreRefusedWithTheirReason) {
    // A protected stream says so; one whose segments have gone says it could not be joined.
    cache::Stream drm;
    drm.protection = cache::Protection::Drm;
    cache::Stream gone;
    gone.tracks.emplace_back();
    gone.tracks.back().container = cache::Container::MpegTs;
    cache::StreamPiece piece;
    piece.body.file = dir / "gone_0";
    piece.body.storage = cache::Storage::Span;
    piece.length = 1000;
    gone.tracks.back().pieces.push_back(piece);
    const std::pair<cache::Stream, const char*> cases[] = {{drm, "protected (DRM)"},
                                                           {gone, "could not be joined"}};
    for (const auto& [stream, reason] : cases) {
        cache::Entry entry;
        entry.storage = cache::Storage::Stream;
        entry.stream = std::make_shared<const cache::Stream>(stream);
        stops = 0;
        EXPECT_EQ(player.Play(entry), -2);
        EXPECT_EQ(stops, 1);
        EXPECT_NE(player.FailureLine().find(reason), std::string::npos) << player.FailureLine();
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir / "reelvault"));
}

TEST_F(PlayEntryTest, StartSweepsOnlyTheBodiesOfProcessesThatHaveGone) {
    const std::string folder = dir / "reelvault";
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    // A pid that cannot run: beyond the kernel's limit.
    WriteFile(folder + "/body-99999999-0.mp4", "old");
    WriteFile(folder + "/body-" + std::to_string(::getpid()) + "-7.mp4", "ours");
    WriteFile(folder + "/body-" + std::to_string(::getppid()) + "-1.webm", "parent's");
    WriteFile(folder + "/notes.txt", "not ours to judge");
    cache::SweepTemporaryBodies();
    EXPECT_FALSE(std::filesystem::exists(folder + "/body-99999999-0.mp4"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/body-" + std::to_string(::getpid()) + "-7.mp4"));
    EXPECT_TRUE(
        std::filesystem::exists(folder + "/body-" + std::to_string(::getppid()) + "-1.webm"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/notes.txt"));
}

TEST_F(PlayEntryTest, APrivateFolderOthersCanEnterIsNotUsed) {
    const std::string folder = dir / "reelvault";
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::all);
    EXPECT_EQ(cache::NewTemporaryBodyPath("mp4"), "");
}

}  // namespace
