// What the time display costs the user interface thread while a file plays: the
// program's windows play a clip with the real player, in rounds of 5 s with the display
// asking the player for the time and 5 s with it off, and the thread's CPU time per second
// of playback is printed for both. Target: the difference under 1% of one core.
// Needs an X display: xvfb-run -a build/time_display_bench [ROUNDS]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/FormMain.h"
#include "app/ProgramWindows.h"
#include "app/QtSynchronize.h"
#include "app/ScreenSizeProvider.h"
#include "app/SeekBar.h"
#include "platform/CpuTime.h"
#include "player/Mplayer.h"
#include "support/MediaClips.h"
#include "support/TempDir.h"

namespace {

constexpr int kRoundMs = 5000;

// The event loop for `ms`; the UI thread's CPU milliseconds it took.
double RunFor(int ms) {
    const double before = platform::ThreadCpuMilliseconds();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return platform::ThreadCpuMilliseconds() - before;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("needs an X display: xvfb-run -a %s\n", argv[0]);
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
    testsupport::TempDir dir;
    ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    std::filesystem::create_directories(dir / "cache/g_0001");
    const std::string clip = dir / "cache/g_0001/clip.avi";
    const int seconds = rounds * kRoundMs / 1000 + 30;
    if (testsupport::RunProgram({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                 "testsrc=size=320x240:rate=25", "-t", std::to_string(seconds),
                                 "-c:v", "mpeg4", "-f", "avi", clip}) != 0) {
        std::printf("ffmpeg could not make the clip\n");
        return 1;
    }
    testsupport::WriteFile(dir / "reelvault.ini",
                           "[Opera]\nCacheDir=" + (dir / "cache") + "\nMinimalFileSize=0\n");

    QApplication app(argc, argv);
    QApplication::setApplicationName("Reelvault");
    InstallScreenSizeProvider();
    InstallQtSynchronize();
    CreateProgramWindows({dir / "reelvault.ini", dir / "reelvault.log"});
    frmMain->show();
    RunFor(1000);
    frmMain->OpenFile(clip);
    SeekBar* bar = frmMain->seekBar;
    QElapsedTimer waited;
    waited.start();
    while (bar->Length() <= 0 && waited.elapsed() < 10000) {
        RunFor(100);
    }
    if (bar->Length() <= 0) {
        std::printf("the player never told the clip's length\n");
        DestroyProgramWindows();
        return 1;
    }

    double on = 0, off = 0;
    int onRounds = 0, offRounds = 0;
    for (int r = 0; r < rounds; ++r) {
        const bool polling = r % 2 == 0;
        bar->SetPolling(polling);
        const double cpu = RunFor(kRoundMs);
        (polling ? on : off) += cpu;
        ++(polling ? onRounds : offRounds);
        std::printf("round %d, time display %-3s: %6.1f ms CPU in %d s (%s)\n", r + 1,
                    polling ? "on" : "off", cpu, kRoundMs / 1000,
                    bar->TimeText().toStdString().c_str());
    }
    const double perSecondOn = on / std::max(1, onRounds) / (kRoundMs / 1000.0);
    const double perSecondOff = off / std::max(1, offRounds) / (kRoundMs / 1000.0);
    std::printf("\nuser interface thread, CPU time per second of playback:\n");
    std::printf("  time display on:  %6.2f ms (%.3f%% of a core)\n", perSecondOn, perSecondOn / 10);
    std::printf("  time display off: %6.2f ms (%.3f%% of a core)\n", perSecondOff,
                perSecondOff / 10);
    std::printf("  the display's own: %.3f%% of a core (target under 1%%), ratio on/off %.2f\n",
                (perSecondOn - perSecondOff) / 10,
                perSecondOff > 0 ? perSecondOn / perSecondOff : 0.0);
    frmMain->btnStop->click();
    RunFor(500);
    DestroyProgramWindows();
    return 0;
}
