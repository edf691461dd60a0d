// Drives the player engine through rapid cycles of play, stop and switch with the stand-in
// player and shows that it leaves nothing behind: descriptors, threads and child
// processes before and after, one OnStop per play that was not abandoned, and the worst
// stall of the user interface thread (this program's main thread) outside the 100 ms
// pause that Stop takes by design.
//
// Three kinds of cycle take turns:
//   stop    Play, Stop(true), wait for OnStop
//   switch  Play, Stop(false), Play another file (as opening a file while one plays
//           does), Stop(true), wait for OnStop
//   end     Play a file that ends by itself, wait for OnStop
//
// Usage: player_load_bench [--cycles N] [--player PATH]
//   (default 1000 cycles; the stand-in player of this build tree)
// Exits with 1 when a count does not match, so a short run doubles as a smoke test.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "log/Log.h"
#include "platform/ExecutableFiles.h"
#include "platform/ProcessCensus.h"
#include "platform/Synchronize.h"
#include "platform/Thread.h"
#include "player/Mplayer.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kStopPause(100);
constexpr milliseconds kCycleTimeout(20000);

double Ms(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

// The longest and the total time of one kind of call on the user interface thread.
struct Stall {
    const char* name;
    double worstMs = 0;
    double totalMs = 0;
    long calls = 0;

    void Add(double ms) {
        worstMs = std::max(worstMs, ms);
        totalMs += ms;
        ++calls;
    }
};

// The main thread stands in for the event loop: workers wake it, it runs their hand-offs
// and times each run.
class UiThread {
  public:
    UiThread() {
        platform::SetSynchronizeHook([this] {
            std::lock_guard<std::mutex> guard(lock);
            woken = true;
            wake.notify_all();
        });
    }
    ~UiThread() { platform::SetSynchronizeHook(nullptr); }

    bool PumpUntil(const std::function<bool()>& done, milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const auto start = Clock::now();
            if (platform::RunSynchronized() > 0) {
                pumps.Add(Ms(Clock::now() - start));
            }
            if (done()) {
                return true;
            }
            if (Clock::now() >= deadline) {
                return false;
            }
            std::unique_lock<std::mutex> guard(lock);
            wake.wait_for(guard, milliseconds(2), [this] { return woken; });
            woken = false;
        }
    }

    Stall pumps{"hand-off"};

  private:
    std::mutex lock;
    std::condition_variable wake;
    bool woken = false;
};

struct Options {
    long cycles = 1000;
    std::string player;
};

std::string DefaultPlayer() {
#ifdef FAKEPLAYER
    return FAKEPLAYER;
#else
    const std::string self = platform::ExecutablePath();
    return self.substr(0, self.rfind('/') + 1) + "fakeplayer";
#endif
}

bool ParseOptions(int argc, char** argv, Options& options) {
    options.player = DefaultPlayer();
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--cycles") == 0 && hasValue) {
            options.cycles = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--player") == 0 && hasValue) {
            options.player = argv[++i];
        } else {
            return false;
        }
    }
    return options.cycles > 0;
}

// A folder of its own for the stand-in's scripts (it writes its records beside them).
class ScriptFolder {
  public:
    ScriptFolder() {
        std::random_device random;
        path =
            std::filesystem::temp_directory_path() / ("reelvault-load-" + std::to_string(random()));
        std::filesystem::create_directories(path);
    }
    ~ScriptFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    ScriptFolder(const ScriptFolder&) = delete;
    ScriptFolder& operator=(const ScriptFolder&) = delete;

    std::filesystem::path path;
};

std::string Script(const std::filesystem::path& folder, const char* name, const char* text) {
    const std::filesystem::path path = folder / name;
    std::ofstream(path) << text;
    return path.string();
}

void PrintCensus(const char* when, const platform::ProcessCensus& census) {
    std::printf("%-8s descriptors %3d  threads %3d  child processes %3d\n", when,
                census.descriptors, census.threads, census.children);
}

bool SameCensus(const platform::ProcessCensus& a, const platform::ProcessCensus& b) {
    return a.descriptors == b.descriptors && a.threads == b.threads && a.children == b.children;
}

class LoadRun {
  public:
    LoadRun(const std::filesystem::path& folder, const std::string& playerPath)
        : playing(Script(folder, "playing.flv", "out ID_FILENAME=playing\\n\n")),
          other(Script(folder, "other.flv", "out ID_FILENAME=other\\n\n")),
          ending(Script(folder, "ending.flv", "out ID_FILENAME=ending\\n\nend\n")) {
        player.OnStop = [this] { ++stops; };
        initResult = player.Init(0, 0x101010, playerPath);
    }

    bool Ready() const { return initResult == 0; }

    // False when a cycle went wrong (a call failed or OnStop never came).
    bool Cycle(long i) {
        switch (i % 3) {
            case 0:
                return Play(playing) && Stop(true) && AwaitStops();
            case 1:
                if (!Play(playing) || !Stop(false)) {
                    return false;
                }
                ++abandoned;
                return Play(other) && Stop(true) && AwaitStops();
            default:
                return Play(ending) && AwaitStops();
        }
    }

    // Every worker gone, every player reaped.
    bool Drain() {
        return ui.PumpUntil([] { return platform::LiveThreadCount() == 0; }, kCycleTimeout);
    }

    void Report(double seconds, long cycles) const {
        std::printf("cycles %ld in %.1f s (%.1f ms each)\n", cycles, seconds,
                    seconds * 1000 / static_cast<double>(cycles));
        std::printf("plays %ld, abandoned by Stop(false) %ld, OnStop %ld (expected %ld)\n", plays,
                    abandoned, stops, ExpectedStops());
        std::printf("player lines logged %ld\n", logged.load());
        std::printf("UI-thread stalls (Stop less its %lld ms pause):\n",
                    static_cast<long long>(kStopPause.count()));
        for (const Stall* stall : {&playCalls, &stopCalls, &ui.pumps}) {
            std::printf("  %-9s calls %6ld  worst %7.2f ms  mean %6.3f ms\n", stall->name,
                        stall->calls, stall->worstMs,
                        stall->calls > 0 ? stall->totalMs / static_cast<double>(stall->calls) : 0);
        }
        std::printf("worst UI-thread stall %.2f ms\n", WorstStall());
    }

    long ExpectedStops() const { return plays - abandoned; }
    long Stops() const { return stops; }
    double WorstStall() const {
        return std::max({playCalls.worstMs, stopCalls.worstMs, ui.pumps.worstMs});
    }

    std::atomic<long> logged{0};

  private:
    bool Play(const std::string& file) {
        const auto start = Clock::now();
        const int result = player.Play(file);
        playCalls.Add(Ms(Clock::now() - start));
        ++plays;
        return result == 0;
    }

    bool Stop(bool notify) {
        const auto start = Clock::now();
        const int result = player.Stop(notify);
        // Each Stop here follows its Play before any hand-off has run, so the wait thread
        // is still there and Stop takes its designed pause.
        const double ms = Ms(Clock::now() - start) - (result == 0 ? Ms(kStopPause) : 0.0);
        stopCalls.Add(std::max(ms, 0.0));
        return result == 0;
    }

    bool AwaitStops() {
        return ui.PumpUntil([this] { return stops == ExpectedStops(); }, kCycleTimeout);
    }

    UiThread ui;
    MPlayer player;
    const std::string playing, other, ending;
    int initResult = -1;
    long plays = 0;
    long abandoned = 0;
    long stops = 0;
    Stall playCalls{"Play"};
    Stall stopCalls{"Stop"};
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: player_load_bench [--cycles N] [--player PATH]\n");
        return 2;
    }
    const ScriptFolder folder;
    int status = 0;
    {
        LoadRun run(folder.path, options.player);
        if (!run.Ready()) {
            std::fprintf(stderr, "no stand-in player at %s\n", options.player.c_str());
            return 2;
        }
        CLog::Instance()->OnLog = [&run](const char*) { ++run.logged; };

#if defined(REELVAULT_TSAN)
        // ThreadSanitizer starts a helper thread of its own with the process's second
        // thread; start it now so that the census counts only what the cycles leave.
        std::thread([] {}).join();
#endif
        const platform::ProcessCensus before = platform::TakeProcessCensus();
        PrintCensus("before", before);
        const auto start = Clock::now();
        long done = 0;
        for (; done < options.cycles; ++done) {
            if (!run.Cycle(done)) {
                std::fprintf(stderr, "cycle %ld failed\n", done);
                status = 1;
                break;
            }
        }
        const double seconds = Ms(Clock::now() - start) / 1000;
        if (!run.Drain()) {
            std::fprintf(stderr, "worker threads still running\n");
            status = 1;
        }
        // A detached thread leaves the system's list a moment after its last line ran.
        platform::ProcessCensus after = platform::TakeProcessCensus();
        for (int wait = 0; wait < 200 && !SameCensus(before, after); ++wait) {
            platform::SleepMilliseconds(10);
            after = platform::TakeProcessCensus();
        }
        PrintCensus("after", after);
        run.Report(seconds, done);
        CLog::Instance()->OnLog = nullptr;

        if (!SameCensus(before, after)) {
            std::fprintf(stderr, "the cycles left descriptors, threads or processes behind\n");
            status = 1;
        }
        if (run.Stops() != run.ExpectedStops()) {
            std::fprintf(stderr, "OnStop count differs from the plays that were not abandoned\n");
            status = 1;
        }
    }
    return status;
}
