// Media facts and thumbnails for a cache of 500 entries, against running `ffprobe` and
// `ffmpegthumbnailer` once per file over the same entries in the same run, and the worst
// stall of the window's thread while the worker fills the list.
//
//   media_facts_bench [--entries N]
//
// Targets: facts at most 0.2 times the ffprobe loop, thumbnails at most 0.5 times the
// ffmpegthumbnailer loop, the worst stall under 20 ms.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "browser/FactsFiller.h"
#include "browser/FormMediaBrowser.h"
#include "cache/CacheEntry.h"
#include "media/FactsWorker.h"
#include "media/MediaFacts.h"
#include "platform/CpuTime.h"
#include "support/MediaClips.h"
#include "support/TempDir.h"

namespace {

double Seconds(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

// What a browser caches: half a minute of 640x360 in the usual containers.
std::vector<testsupport::Clip> BenchClips() {
    std::vector<testsupport::Clip> clips = testsupport::StandardClips();
    for (testsupport::Clip& clip : clips) {
        clip.seconds = 30;
        if (clip.width > 0) {
            clip.width = 640;
            clip.height = 360;
        }
    }
    return clips;
}

}  // namespace

int main(int argc, char** argv) {
    int entries = 500;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--entries") == 0) {
            entries = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    testsupport::TempDir clips, cache, homeFacts, homeUi, scratch;
    std::printf("making clips...\n");
    const std::vector<testsupport::Clip> kinds = BenchClips();
    for (const testsupport::Clip& clip : kinds) {
        if (!testsupport::MakeClip(clips.path(), clip)) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", clip.name.c_str());
            return 1;
        }
    }
    std::filesystem::create_directories(cache / "g_0000");
    std::vector<cache::Entry> bodies;
    for (int i = 0; i < entries; ++i) {
        const testsupport::Clip& clip = kinds[static_cast<std::size_t>(i) % kinds.size()];
        const std::string path = cache / ("g_0000/opr" + std::to_string(i));
        std::filesystem::copy_file(clips / clip.name, path);
        cache::Entry entry;
        entry.file = path;
        entry.bodySize = std::filesystem::file_size(path);
        bodies.push_back(entry);
    }
    std::printf("%d entries of %zu kinds, 30 s each, 640x360 where there is a picture\n\n", entries,
                kinds.size());

    // Facts alone, in the program, against ffprobe once per file.
    QElapsedTimer timer;
    timer.start();
    int media = 0;
    for (const cache::Entry& entry : bodies) {
        auto reader = cache::OpenBody(entry);
        media += reader && media::ReadFacts(*reader, {}).kind != media::Kind::NotMedia;
    }
    const double ours = Seconds(timer);
    timer.restart();
    for (const cache::Entry& entry : bodies) {
        testsupport::RunProgram(
            {"ffprobe", "-v", "error", "-show_format", "-show_streams", entry.file});
    }
    const double ffprobe = Seconds(timer);
    std::printf(
        "facts:       %7.2f s  (%d media)   ffprobe loop %7.2f s   ratio %.3f  (target <= 0.2)\n",
        ours, media, ffprobe, ours / ffprobe);

    // Facts and thumbnails as the worker makes them (both sizes, written to the thumbnail
    // cache with the index), against ffmpegthumbnailer once per file.
    timer.restart();
    {
        std::mutex mutex;
        std::condition_variable done;
        int results = 0;
        media::FactsWorker worker({homeFacts.path(), {}}, [&](media::Result) {
            std::lock_guard<std::mutex> lock(mutex);
            ++results;
            done.notify_all();
        });
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            worker.Add({i, bodies[i]});
        }
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return results == entries; });
    }
    const double thumbs = Seconds(timer);
    timer.restart();
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        testsupport::RunProgram({"ffmpegthumbnailer", "-s", "256", "-i", bodies[i].file, "-o",
                                 scratch / (std::to_string(i) + ".png")});
    }
    const double thumbnailer = Seconds(timer);
    std::printf(
        "thumbnails:  %7.2f s                ffmpegthumbnailer loop %7.2f s   ratio %.3f  (target "
        "<= 0.5)\n",
        thumbs, thumbnailer, thumbs / thumbnailer);

    // The window while its worker fills the list from nothing: the longest time the
    // thread went without running its event loop.
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(homeUi.path()));
    QApplication app(argc, argv);
    TfrmMediaBrowser panel;
    panel.resize(800, 600);
    panel.show();
    QApplication::processEvents();
    // Wall time counts the processor other programs had meanwhile; the thread's own
    // processor time between two beats is what the program itself held the loop up for.
    QElapsedTimer beat;
    double worst = 0;
    double worstCpu = 0;
    double lastCpu = platform::ThreadCpuMilliseconds();
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        worst = std::max(worst, static_cast<double>(beat.nsecsElapsed()) / 1e6);
        beat.restart();
        const double cpu = platform::ThreadCpuMilliseconds();
        worstCpu = std::max(worstCpu, cpu - lastCpu);
        lastCpu = cpu;
    });
    // First the list alone with the worker resting, for the stalls that are not its own
    // (a busy machine), then while it works.
    panel.PauseFacts(true);
    timer.restart();
    panel.SetCacheOptions(cache.path(), 0, true);
    const double listed = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    QApplication::processEvents();
    beat.start();
    ticker.start();
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 2000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const double resting = worst;
    const double restingCpu = worstCpu;
    worst = 0;
    worstCpu = 0;
    timer.restart();
    panel.PauseFacts(false);
    while (!panel.facts->Done()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    ticker.stop();
    const double filled = Seconds(timer);
    std::printf(
        "window:      list shown after %.1f ms, filled in %.2f s\n"
        "             worst stall %.1f ms wall, %.1f ms of its own processor time "
        "(target < 20)\n"
        "             with the worker resting: %.1f ms wall, %.1f ms processor\n",
        listed, filled, worst, worstCpu, resting, restingCpu);
    return 0;
}
