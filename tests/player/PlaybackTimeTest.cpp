// The time line's pieces that need no player: the clock text, which parts of an entry are
// there, which output lines answer our queries, and where each file was left.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cache/Stream.h"
#include "player/PlaybackTime.h"
#include "player/PlayerReport.h"
#include "player/ResumePoints.h"
#include "support/TempDir.h"

namespace {

TEST(PlaybackTimeTest, ClockText) {
    const struct {
        double position, length;
        const char* text;
    } cases[] = {
        {83, 600, "1:23 / 10:00"},       {0, 0, "0:00"},       {59.9, 0, "0:59"},
        {83, 5400, "0:01:23 / 1:30:00"}, {3723, 0, "1:02:03"}, {-4, 20, "0:00 / 0:20"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(playback::TimeText(c.position, c.length), c.text) << c.position;
    }
}

TEST(PlaybackTimeTest, PresentParts) {
    using Parts = std::vector<std::pair<double, double>>;
    cache::Entry partial;
    partial.complete = false;
    partial.bodySize = 250;
    partial.resourceSize = 1000;
    EXPECT_EQ(playback::PresentParts(partial, 0), (Parts{{0, 0.25}}));
    cache::Entry pieces = partial;
    pieces.storage = cache::Storage::Pieces;
    EXPECT_TRUE(playback::PresentParts(pieces, 60).empty()) << "pieces cannot be placed";
    EXPECT_TRUE(playback::PresentParts(cache::Entry{}, 60).empty()) << "a whole file";

    auto stream = std::make_shared<cache::Stream>();
    stream->present = {{0, 10}, {30, 40}};
    cache::Entry joined;
    joined.storage = cache::Storage::Stream;
    joined.stream = stream;
    EXPECT_TRUE(playback::PresentParts(joined, 0).empty()) << "no length from anyone";
    EXPECT_EQ(playback::PresentParts(joined, 80), (Parts{{0, 0.125}, {0.375, 0.5}}));
    stream->length = 40;
    EXPECT_EQ(playback::PresentParts(joined, 80), (Parts{{0, 0.25}, {0.75, 1}}))
        << "the stream's own length counts first";
}

TEST(PlaybackTimeTest, OnlyAnswersToOurQueriesAreTaken) {
    PlayerReport report;
    EXPECT_FALSE(report.TakeAnswer("ANS_TIME_POSITION=3.4")) << "nobody asked";
    report.Asked(PlayerReport::Query::kPosition, 1);
    report.Asked(PlayerReport::Query::kLength, 1);
    for (const char* other :
         {"ANS_TIME_POSITION=", "ANS_TIME_POSITION=-1.0", "ANS_TIME_POSITION=1e400",
          "ANS_LENGTH=nan", "ANS_LENGTH=2.0 x", "ANS_pause=yes", "A:   3.4 V:   3.4"}) {
        EXPECT_FALSE(report.TakeAnswer(other)) << other;
    }
    EXPECT_TRUE(report.TakeAnswer("ANS_TIME_POSITION=3.4"));
    EXPECT_FALSE(report.TakeAnswer("ANS_TIME_POSITION=5.0")) << "one answer per query";
    EXPECT_TRUE(report.TakeAnswer("ANS_LENGTH=20.00"));
    const PlayerReport::Clock clock = report.Time();
    EXPECT_DOUBLE_EQ(clock.position, 3.4);
    EXPECT_DOUBLE_EQ(clock.length, 20);
    EXPECT_EQ(clock.positionAnswers, 1u);
}

TEST(PlaybackTimeTest, ResumePointsKeyedByTheFilesVersion) {
    testsupport::TempDir dir;
    const std::string path = dir / "state/positions";
    const platform::FileIdentity a{1, 2, 300, 4000}, b{1, 3, 300, 4000};
    ResumePoints points;
    points.Leave(a, 83.46, 600);
    points.Leave(b, 3, 600);  // too near the start
    EXPECT_EQ(points.Size(), 1u);
    points.Leave(b, 597, 600);  // too near the end
    EXPECT_EQ(points.Size(), 1u);
    ASSERT_TRUE(points.Save(path));

    ResumePoints read;
    read.Load(path);
    EXPECT_DOUBLE_EQ(read.Find(a), 83.4);
    platform::FileIdentity rewritten = a;
    rewritten.lastWriteTimeNs += 1;
    EXPECT_EQ(read.Find(rewritten), 0) << "a changed file starts again";
    read.Forget(a);
    EXPECT_EQ(read.Find(a), 0);

    // Lines that do not read are skipped, the others kept.
    read.Parse(
        "reelvault positions 1\n1\t2\t300\t4000\t834\nx\t2\t3\t4\t5\n1\t3\t300\t4000\t-5\n"
        "1\t3\t300\t4000\t50\textra\n1\t3\t300\t4000\t90");
    EXPECT_EQ(read.Size(), 1u);
    EXPECT_DOUBLE_EQ(read.Find(a), 83.4);
}

}  // namespace
