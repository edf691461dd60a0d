// The log window under a flood: a worker logs 10,000 lines per second for 10 seconds
// through the logger into a visible log window holding 10,000 lines. Prints the time of
// every 500 ms transfer (median and worst) and the memory over time.
#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "log/Log.h"
#include "log/LogUnit.h"
#include "platform/CpuTime.h"
#include "platform/ProcessMemory.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLinesPerSecond = 10000;
int kSeconds = 10;  // a first argument runs longer, to watch the memory settle
constexpr int kMaxLines = 10000;

// Paced in 1 ms steps so that the rate holds whatever the scheduler does.
void Flood(std::atomic<bool>& done) {
    const Clock::time_point start = Clock::now();
    long sent = 0;
    const long total = static_cast<long>(kLinesPerSecond) * kSeconds;
    while (sent < total) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const long due = std::min(total, static_cast<long>(elapsed * kLinesPerSecond));
        for (; sent < due; ++sent) {
            CLog::Instance()->Log(
                "A: %6.2f V: %6.2f A-V: 0.000 ct: 0.000 %ld/%ld 12%% 3%% 0.4%% 0 0", elapsed,
                elapsed, sent, sent);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done = true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc > 1) {
        kSeconds = std::max(1, std::atoi(argv[1]));
    }

    TfrmLog log;
    log.maxLines = kMaxLines;
    log.show();
    CLog::Instance()->OnLog = [&log](const char* line) { log.OnLogLine(line); };

    // The window's own timer is replaced by one that times each transfer.
    log.tmrUpdate->stop();
    std::vector<double> tickMs;
    std::vector<double> tickCpuMs;
    QTimer ticker;
    ticker.setInterval(500);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const Clock::time_point before = Clock::now();
        const double cpuBefore = platform::ThreadCpuMilliseconds();
        log.tmrUpdateTimer();
        tickCpuMs.push_back(platform::ThreadCpuMilliseconds() - cpuBefore);
        tickMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count());
    });
    ticker.start();

    const Clock::time_point start = Clock::now();
    QTimer sampler;
    sampler.setInterval(1000);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const platform::ProcessMemory memory = platform::CurrentProcessMemory();
        std::printf("t=%4.1fs  view lines %6d  VmRSS %7llu kB  VmHWM %7llu kB\n",
                    std::chrono::duration<double>(Clock::now() - start).count(),
                    log.ViewLineCount(), static_cast<unsigned long long>(memory.residentKb),
                    static_cast<unsigned long long>(memory.peakResidentKb));
        std::fflush(stdout);
    });
    sampler.start();

    std::atomic<bool> done{false};
    std::thread worker(Flood, std::ref(done));
    QTimer finish;
    finish.setInterval(100);
    QObject::connect(&finish, &QTimer::timeout, [&] {
        // One more second after the flood so that the last lines are transferred.
        if (done && Clock::now() - start > std::chrono::seconds(kSeconds + 1)) {
            app.quit();
        }
    });
    finish.start();
    QApplication::exec();
    worker.join();
    CLog::Instance()->OnLog = nullptr;

    std::vector<double> sorted = tickMs;
    std::sort(sorted.begin(), sorted.end());
    std::printf("\nCPU time of each tick (ms):");
    for (const double ms : tickCpuMs) {
        std::printf(" %.1f", ms);
    }
    std::printf("\n");
    std::sort(tickCpuMs.begin(), tickCpuMs.end());
    const platform::ProcessMemory memory = platform::CurrentProcessMemory();
    std::printf("\n%zu transfers of %d lines/s into a visible window, maxLines %d\n", sorted.size(),
                kLinesPerSecond, kMaxLines);
    if (!sorted.empty()) {
        std::printf("tick wall time: median %.2f ms, worst %.2f ms\n", sorted[sorted.size() / 2],
                    sorted.back());
        std::printf("tick CPU time:  median %.2f ms, worst %.2f ms\n",
                    tickCpuMs[tickCpuMs.size() / 2], tickCpuMs.back());
    }
    std::printf("view lines at end %d\n", log.ViewLineCount());
    std::printf("peak memory VmHWM %llu kB, VmRSS at end %llu kB\n",
                static_cast<unsigned long long>(memory.peakResidentKb),
                static_cast<unsigned long long>(memory.residentKb));
    CLog::DestroyInstance();
    return 0;
}
