#include "media/FactsWorker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "MediaTestSupport.h"
#include "media/Thumbnail.h"
#include "support/Sanitizers.h"

namespace {

using mediatest::Clips;
using namespace std::chrono_literals;

class FactsWorkerTest : public ::testing::Test {
  protected:
    testsupport::TempDir home;   // $XDG_CACHE_HOME
    testsupport::TempDir files;  // the cache
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<media::Result> results;

    void SetUp() override { ASSERT_TRUE(Clips::Get().Made()); }

    std::unique_ptr<media::FactsWorker> Start() {
        media::FactsWorker::Options options{home.path(), {}};
        options.limits.time = std::chrono::milliseconds(10000 * testsupport::kSanitizerSlowdown);
        return std::make_unique<media::FactsWorker>(options, [this](media::Result result) {
            std::lock_guard<std::mutex> lock(mutex);
            results.push_back(std::move(result));
            arrived.notify_all();
        });
    }

    // The results so far once `count` have come (or the wait ran out), sorted by ticket.
    std::vector<media::Result> WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        arrived.wait_for(lock, 60s, [&] { return results.size() >= count; });
        std::vector<media::Result> sorted = std::exchange(results, {});
        std::sort(sorted.begin(), sorted.end(),
                  [](const auto& a, const auto& b) { return a.ticket < b.ticket; });
        return sorted;
    }

    std::vector<cache::Entry> MakeCache() {
        std::filesystem::copy_file(Clips::Get().Path("faststart.mp4"), files / "f_000001");
        std::filesystem::copy_file(Clips::Get().Path("sound.mp3"), files / "f_000003");
        std::filesystem::copy_file(Clips::Get().Path("random.bin"), files / "f_000004");
        return {mediatest::WholeEntry(files / "f_000001"),
                mediatest::SpanEntry(Clips::Get().Path("clip.webm"), files / "f_000002_0"),
                mediatest::WholeEntry(files / "f_000003"),
                mediatest::WholeEntry(files / "f_000004")};
    }

    static void AddAll(media::FactsWorker& worker, const std::vector<cache::Entry>& entries) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            worker.Add({i, entries[i]});
        }
    }
};

TEST_F(FactsWorkerTest, ThumbnailsAndFactsAreKeptAndReadBackWithoutDecoding) {
    std::vector<cache::Entry> entries = MakeCache();
    {
        auto worker = Start();
        AddAll(*worker, entries);
        const auto first = WaitFor(entries.size());
        ASSERT_EQ(first.size(), entries.size());
        EXPECT_EQ(first[0].facts.videoCodec, "H.264");
        EXPECT_EQ(first[1].facts.videoCodec, "VP8");
        EXPECT_EQ(first[2].facts.kind, media::Kind::AudioOnly);
        EXPECT_EQ(first[3].facts.kind, media::Kind::NotMedia);
        for (std::size_t i = 0; i < first.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_FALSE(first[i].remembered);
            EXPECT_FALSE(first[i].interrupted);
            EXPECT_EQ(first[i].file, entries[i].file);
            const std::string uri = media::FileUri(entries[i].file);
            const std::string large =
                media::ThumbnailPath(home.path(), media::kLargeThumbnail, uri);
            const std::string normal =
                media::ThumbnailPath(home.path(), media::kNormalThumbnail, uri);
            if (i >= 2) {
                EXPECT_EQ(first[i].thumbnail, "");
                EXPECT_FALSE(std::filesystem::exists(large));
                continue;
            }
            EXPECT_EQ(first[i].thumbnail, large);
            struct stat info {};
            ASSERT_EQ(::stat(entries[i].file.c_str(), &info), 0);
            EXPECT_TRUE(media::ThumbnailIsCurrent(large, uri, info.st_mtime));
            EXPECT_TRUE(media::ThumbnailIsCurrent(normal, uri, info.st_mtime));
            EXPECT_FALSE(media::ThumbnailIsCurrent(large, uri, info.st_mtime + 1));
            ASSERT_EQ(::stat(large.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, 0600u) << "the standard keeps thumbnails private";
        }
    }  // the index is saved when the worker ends

    // Next run: the Chromium entry's body can no longer be opened (it claims more than the
    // file holds), so its facts can only come from what was kept.
    entries[1].bodySize += 1u << 20;
    ASSERT_FALSE(cache::OpenBody(entries[1]));
    std::vector<media::Result> second;
    {
        auto worker = Start();
        AddAll(*worker, entries);
        second = WaitFor(entries.size());
    }
    ASSERT_EQ(second.size(), entries.size());
    for (std::size_t i = 0; i < second.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(second[i].remembered);
    }
    EXPECT_EQ(second[1].facts.videoCodec, "VP8");
    EXPECT_EQ(second[1].facts.width, 320);
    EXPECT_NE(second[1].thumbnail, "");

    // A file rewritten since, or whose thumbnail went, is read again.
    std::filesystem::last_write_time(entries[0].file,
                                     std::filesystem::last_write_time(entries[0].file) + 5s);
    std::filesystem::remove(second[1].thumbnail);
    entries[1].bodySize -= 1u << 20;
    {
        auto worker = Start();
        AddAll(*worker, entries);
        const auto third = WaitFor(entries.size());
        ASSERT_EQ(third.size(), entries.size());
        EXPECT_FALSE(third[0].remembered);
        EXPECT_FALSE(third[1].remembered);
        EXPECT_TRUE(third[2].remembered);
        EXPECT_EQ(third[0].facts.videoCodec, "H.264");
        EXPECT_TRUE(std::filesystem::exists(third[1].thumbnail));
    }
}

TEST_F(FactsWorkerTest, NothingIsReadWhilePausedAndDroppedEntriesNotAtAll) {
    const std::vector<cache::Entry> entries = MakeCache();
    auto worker = Start();
    worker->SetPaused(true);
    AddAll(*worker, entries);
    {
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_FALSE(arrived.wait_for(lock, 300ms, [&] { return !results.empty(); }));
    }
    worker->Drop([](const cache::Entry& entry) { return entry.file.ends_with("f_000003"); });
    worker->SetPaused(false);
    const auto got = WaitFor(entries.size() - 1);
    ASSERT_EQ(got.size(), entries.size() - 1);
    EXPECT_EQ(got[0].ticket, 0u);
    EXPECT_EQ(got[1].ticket, 1u);
    EXPECT_EQ(got[2].ticket, 3u);
}

}  // namespace
