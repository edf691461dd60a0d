// The main window on a real X server, with the program's default window settings, under a
// window manager (openbox) and on the bare server: OnDisplay.sh starts both and tells which
// in REELVAULT_TEST_WM. Input is real: the pointer is moved and pressed with xdotool, keys
// and clicks go through the window system.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "XView.h"
#include "app/FormMain.h"
#include "app/ProgramWindows.h"
#include "app/QtSynchronize.h"
#include "app/ScreenSizeProvider.h"
#include "app/SeekBar.h"
#include "app/VideoSurface.h"
#include "browser/FactsFiller.h"
#include "browser/FormMediaBrowser.h"
#include "browser/NoticeLine.h"
#include "platform/Thread.h"
#include "platform/WritableFile.h"
#include "player/Mplayer.h"
#include "player/PlaybackTime.h"
#include "settings/FormSettings.h"
#include "support/FakePlayerRecord.h"
#include "support/Sanitizers.h"
#include "support/SlowDisk.h"
#include "support/StreamClips.h"
#include "support/TempDir.h"

using testsupport::ReadFile;
using testsupport::WriteFile;
using namespace std::chrono_literals;

namespace {

const std::string kFake = FAKEPLAYER;

bool UnderWindowManager() {
    return qEnvironmentVariable("REELVAULT_TEST_WM") == "openbox";
}

// Runs xdotool while the event loop goes on, as a user's pointer would move.
void Xdo(const QStringList& arguments) {
    QProcess xdo;
    xdo.start("xdotool", arguments);
    ASSERT_TRUE(QTest::qWaitFor([&] { return xdo.state() == QProcess::NotRunning; }, 10000));
    ASSERT_EQ(xdo.exitCode(), 0) << arguments.join(' ').toStdString();
}

QStringList At(const QPoint& screen) {
    return {"mousemove", "--sync", QString::number(screen.x()), QString::number(screen.y())};
}

// Presses the left button at `from`, moves the pointer to `to` in a few steps and lets go.
void Drag(const QPoint& from, const QPoint& to) {
    Xdo(At(from));
    QTest::qWait(100);
    Xdo({"mousedown", "1"});
    QTest::qWait(300);
    const int steps = 5;
    for (int i = 1; i <= steps; ++i) {
        Xdo(At(from + (to - from) * i / steps));
        QTest::qWait(60);
    }
    QTest::qWait(200);
    Xdo({"mouseup", "1"});
    QTest::qWait(300);
}

void Click(const QPoint& screen) {
    Xdo(At(screen));
    QTest::qWait(100);
    Xdo({"click", "1"});
    QTest::qWait(200);
}

// A test pattern clip made with ffmpeg: `seconds` long, with `codec` arguments.
bool MakeClip(const std::string& ffmpeg, const std::string& path, int seconds,
              const QStringList& codec) {
    QProcess make;
    make.start(
        QString::fromStdString(ffmpeg),
        QStringList{"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-f",
                    "lavfi", "-i", "sine=frequency=440", "-t", QString::number(seconds)} +
            codec + QStringList{QString::fromStdString(path)});
    return make.waitForFinished(60000) && make.exitCode() == 0;
}

class WindowSystemTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string ini = dir / "reelvault.ini";
    std::string cache = dir / "cache";
    std::vector<QString> warnings;
    XView x;

    void SetUp() override {
        ASSERT_TRUE(x.Connected()) << "no X display";
        if (UnderWindowManager()) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return x.WindowManagerRuns(); }, 10000));
            // It announces itself before it is done starting: a window shown at once may be
            // mapped before it manages new ones, and never gets exposed.
            static bool settled = false;
            if (!settled) {
                QTest::qWait(1500);
                settled = true;
            }
        }
        QApplication::setApplicationName("Reelvault");
        QApplication::setQuitOnLastWindowClosed(false);
        InstallScreenSizeProvider();
        InstallQtSynchronize();
        std::filesystem::create_directories(cache + "/g_0001");
        // Where files were left is the test's own.
        ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    }

    void TearDown() override {
        EXPECT_TRUE(DestroyProgramWindows());
        ::unsetenv("XDG_STATE_HOME");
    }

    // Only what the test cannot do without: every window setting is the program's own
    // default (always on top, 350x300 at 30,30). An empty `player` leaves the default one.
    void Start(const std::string& windowSettings = "", const std::string& player = kFake) {
        WriteFile(ini, (player.empty() ? "" : "[Mplayer]\nInstance=" + player + "\n") +
                           "[Opera]\nCacheDir=" + cache + "\nMinimalFileSize=0\n" + windowSettings);
        CreateProgramWindows({ini, dir / "reelvault.log"});
        frmMain->ShowWarning = [this](const QString& text) { warnings.push_back(text); };
        frmMain->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frmMain));
        QTest::qWait(300);
    }

    // Where no window manager gives the window the focus, keys go where the X focus is.
    static void TakeKeyboard() {
        Xdo({"windowfocus", "--sync", QString::number(frmMain->winId())});
        QTest::qWait(200);
    }

    std::string CacheScript(const std::string& name) {
        const std::string path = cache + "/g_0001/" + name;
        WriteFile(path, "");
        return path;
    }

    static QPoint OnScreen(QWidget* widget, const QPoint& local) {
        return widget->mapToGlobal(local);
    }

    // The window id the player was given on its command line.
    static std::uintptr_t PlayersWindow(const std::string& script) {
        const auto argv = testsupport::SplitZeros(ReadFile(script + ".argv"));
        const auto wid = std::find(argv.begin(), argv.end(), "-wid");
        return wid == argv.end() || wid + 1 == argv.end() ? 0 : std::stoull(*(wid + 1));
    }

    // Turns "Window always on top" over in the settings dialog with real clicks.
    void ToggleAlwaysOnTopInTheDialog() {
        bool driven = false;
        QTimer::singleShot(200, frmSettings, [&] {
            QTest::mouseClick(frmSettings->chbAlwaysOnTop, Qt::LeftButton, {},
                              QPoint(8, frmSettings->chbAlwaysOnTop->height() / 2));
            QTest::mouseClick(frmSettings->btnApply, Qt::LeftButton);
            driven = true;
        });
        QTest::mouseClick(frmMain->btnSettings, Qt::LeftButton);
        ASSERT_TRUE(driven);
    }
};

// The default start asks for always on top; the window the player draws into must survive
// it, at the start and when the dialog turns it off and on again.
TEST_F(WindowSystemTest, AlwaysOnTopKeepsThePlayersWindow) {
    CacheScript("a.flv");
    CacheScript("b.flv");
    Start();
    ASSERT_EQ(frmMain->geometry(), QRect(30, 30, 350, 300)) << "not the default bounds";
    const std::uintptr_t top = frmMain->winId();
    const std::uintptr_t video = frmMain->pnlVideo->winId();
    EXPECT_TRUE(x.Exists(video));
    EXPECT_TRUE(x.Inside(video, top)) << "the video window is not the main window's";
    EXPECT_TRUE(x.Inside(frmMain->pnlControl->winId(), top));
    if (UnderWindowManager()) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return x.HasState(top, "_NET_WM_STATE_ABOVE"); }));
    }

    // A click on the second row selects it, and the window shows it.
    auto* list = frmMediaBrowser->lvCachedFiles;
    ASSERT_EQ(frmMediaBrowser->scanner.entries.size(), 2u);
    const std::string script = frmMediaBrowser->scanner.entries[1].fileName;
    const QRect row = list->visualRect(list->model()->index(1, 0));
    const QRect area(list->viewport()->mapTo(frmMain, row.topLeft()), row.size());
    const std::uint64_t before = x.Picture(top, area);
    Click(OnScreen(list->viewport(), row.center()));
    EXPECT_EQ(frmMediaBrowser->GetSelectedFile(), script);
    EXPECT_TRUE(QTest::qWaitFor([&] { return x.Picture(top, area) != before; }))
        << "the selection is not shown";

    // Enter plays it in a window that exists.
    Xdo({"key", "Return"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(script + ".argv"); }));
    EXPECT_EQ(PlayersWindow(script), video);
    EXPECT_TRUE(x.Exists(PlayersWindow(script)));
    frmMain->btnStop->click();
    ASSERT_TRUE(QTest::qWaitFor([] { return platform::LiveThreadCount() == 0; }));

    for (const bool onTop : {false, true}) {
        SCOPED_TRACE(onTop ? "turned on" : "turned off");
        ToggleAlwaysOnTopInTheDialog();
        EXPECT_EQ(frmMain->settings.alwaysOnTop, onTop);
        EXPECT_EQ(frmMain->winId(), top);
        EXPECT_EQ(frmMain->pnlVideo->winId(), video);
        EXPECT_TRUE(x.Exists(video));
        EXPECT_TRUE(x.Inside(video, top));
        if (UnderWindowManager()) {
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return x.HasState(top, "_NET_WM_STATE_ABOVE") == onTop; }));
        }
    }
    // Qt would carry out a pending recreation at the window's next show.
    frmMain->hide();
    frmMain->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frmMain));
    EXPECT_EQ(frmMain->winId(), top);
    EXPECT_TRUE(x.Inside(video, top));
}

// The window follows the pointer exactly: a drag on the bar's free area moves it by the
// pointer's path, a pull on the right edge widens it by as much.
TEST_F(WindowSystemTest, DragAndEdgeResizeFollowThePointer) {
    Start();
    QWidget* bar = frmMain->pnlControl;
    const QRect start = frmMain->frameGeometry();
    const QPoint grip = OnScreen(bar, QPoint(200, bar->height() / 2));
    Drag(grip, grip + QPoint(150, 80));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return frmMain->frameGeometry() == start.translated(150, 80); }, 3000))
        << "moved from (" << start.x() << "," << start.y() << ") to ("
        << frmMain->frameGeometry().x() << "," << frmMain->frameGeometry().y() << ")";

    const QRect moved = frmMain->frameGeometry();
    const QPoint edge = OnScreen(bar, QPoint(bar->width() - 2, bar->height() / 2));
    Drag(edge, edge + QPoint(5, 0));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return frmMain->frameGeometry() == moved.adjusted(0, 0, 5, 0); }, 3000))
        << "now " << frmMain->frameGeometry().width() << "x" << frmMain->frameGeometry().height();

    // The window manager had the button's release: the next click is a click all the same.
    Click(OnScreen(frmMain->btnClose, frmMain->btnClose->rect().center()));
    EXPECT_TRUE(QTest::qWaitFor([] { return !frmMain->isVisible(); }, 3000));
}

// Inside the 5-pixel band the bar's outer buttons and the list's scroll bar still get
// their clicks.
TEST_F(WindowSystemTest, EdgeBandLeavesButtonsAndScrollBarTheirClicks) {
    for (int i = 0; i < 60; ++i) {
        CacheScript("clip" + std::to_string(100 + i));
    }
    Start();
    const QRect bounds = frmMain->frameGeometry();
    QScrollBar* scroll = frmMediaBrowser->lvCachedFiles->verticalScrollBar();
    ASSERT_TRUE(scroll->isVisible());
    const QPoint groove = OnScreen(scroll, QPoint(scroll->width() - 2, scroll->height() - 30));
    ASSERT_GT(groove.x(), bounds.right() - 5) << "the scroll bar is not in the band";
    Click(groove);
    EXPECT_GT(scroll->value(), 0) << "the click on the scroll bar did not scroll";
    EXPECT_EQ(frmMain->frameGeometry(), bounds);

    // Play at the left edge: with a row selected it starts the player.
    frmMediaBrowser->lvCachedFiles->setCurrentIndex(
        frmMediaBrowser->lvCachedFiles->model()->index(0, 0));
    QToolButton* play = frmMain->btnPlay;
    const QPoint left = OnScreen(play, QPoint(1, play->height() / 2));
    ASSERT_LT(left.x(), bounds.left() + 5);
    Click(left);
    EXPECT_EQ(frmMain->playState, psPlaying);
    frmMain->btnStop->click();
    ASSERT_TRUE(QTest::qWaitFor([] { return platform::LiveThreadCount() == 0; }));

    // Exit at the right edge closes the window.
    QToolButton* exit = frmMain->btnClose;
    const QPoint right = OnScreen(exit, QPoint(exit->width() - 2, exit->height() / 2));
    ASSERT_GT(right.x(), bounds.right() - 5);
    Click(right);
    EXPECT_TRUE(QTest::qWaitFor([] { return !frmMain->isVisible(); }, 3000));
    EXPECT_EQ(frmMain->frameGeometry().size(), bounds.size());
}

// Right after the start the list marks its first row as the chosen one; Enter plays it, and
// so does Home, which lands on the row that is already current.
TEST_F(WindowSystemTest, TheFirstRowShownChosenAtTheStartIsTheOneKeysPlay) {
    CacheScript("a.flv");
    CacheScript("b.flv");
    for (const QStringList& keys : {QStringList{"Return"}, QStringList{"Home", "Return"}}) {
        SCOPED_TRACE(keys.join(' ').toStdString());
        Start();
        TakeKeyboard();
        const std::string first = frmMediaBrowser->scanner.entries.at(0).fileName;
        std::filesystem::remove(first + ".argv");
        Xdo(QStringList{"key"} + keys);
        EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(first + ".argv"); }))
            << "no player for the first row";
        frmMain->btnStop->click();
        ASSERT_TRUE(QTest::qWaitFor([] { return platform::LiveThreadCount() == 0; }));
        ASSERT_TRUE(DestroyProgramWindows());
    }
    Start();  // for TearDown
}

// The real player on a 2 s clip (a segment of the kind streaming sites leave in caches):
// it plays to its end, which is no failure, whatever the player said about the video
// outputs it tried first. A file that is gone is one, and its line goes as the next play
// starts.
TEST_F(WindowSystemTest, AShortClipPlayedToItsEndIsNoFailure) {
    const std::string ffmpeg = QStandardPaths::findExecutable("ffmpeg").toStdString();
    if (QStandardPaths::findExecutable("mplayer").isEmpty() || ffmpeg.empty()) {
        GTEST_SKIP() << "needs mplayer and ffmpeg";
    }
    const std::string clip = cache + "/g_0001/segment.ts";
    ASSERT_TRUE(MakeClip(ffmpeg, clip, 2, {"-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpegts"}));
    // Older than the clip, so second in the list.
    const std::string gone = CacheScript("gone.flv");
    std::filesystem::last_write_time(gone, std::filesystem::last_write_time(clip) - 1h);
    Start("", "");  // the player the program finds by default
    TakeKeyboard();
    NoticeLine* failed = frmMediaBrowser->lblPlaybackError;
    const auto playing = [] { return frmMain->playState == psPlaying; };
    const auto stopped = [] { return frmMain->playState == psStopped; };

    Xdo({"key", "Home", "Return"});
    EXPECT_TRUE(QTest::qWaitFor(playing, 5000));
    ASSERT_TRUE(QTest::qWaitFor(stopped, 30000));
    EXPECT_EQ(failed->Notice().toStdString(), "");
    // The rescan at the stop runs on a worker: once it is in, the list holds the file
    // that goes now until the next one.
    ASSERT_TRUE(QTest::qWaitFor([] { return !frmMediaBrowser->ScanPending(); }, 30000));

    std::filesystem::remove(gone);
    Xdo({"key", "Down", "Return"});
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return failed->Notice().startsWith("Playback failed: File not found"); }, 10000))
        << failed->Notice().toStdString();

    Xdo({"key", "Home", "Return"});
    ASSERT_TRUE(QTest::qWaitFor(playing, 5000));
    EXPECT_EQ(failed->Notice().toStdString(), "") << "an old failure while the next file plays";
    EXPECT_TRUE(QTest::qWaitFor(stopped, 30000));
}

// The time line with the real player, by pointer and keys: a click at three quarters of
// the bar jumps there and the time follows; pause holds it; the log keeps none of the
// player's answers to the time queries; Page Down plays the next row; a player that stops
// reading leaves the window answering; the file left half way starts there again; in full
// screen the bar comes up at the bottom edge and jumps as well; drag, wheel, the Next
// button and Page Up.
TEST_F(WindowSystemTest, SeekBarNextRowAndResumeWithTheRealPlayer) {
    const std::string ffmpeg = QStandardPaths::findExecutable("ffmpeg").toStdString();
    if (QStandardPaths::findExecutable("mplayer").isEmpty() || ffmpeg.empty()) {
        GTEST_SKIP() << "needs mplayer and ffmpeg";
    }
    // A key frame every 0.2 s, so that a jump lands where it was asked.
    const std::string first = cache + "/g_0001/first.avi", second = cache + "/g_0001/second.avi";
    ASSERT_TRUE(MakeClip(ffmpeg, first, 20,
                         {"-c:v", "mpeg4", "-g", "5", "-c:a", "libmp3lame", "-f", "avi"}));
    std::filesystem::copy_file(first, second);
    std::filesystem::last_write_time(second, std::filesystem::last_write_time(first) - 1h);
    Start("[Logging]\nLogToFile=1\n", "");
    TakeKeyboard();
    SeekBar* bar = frmMain->seekBar;
    const auto playing = [](const std::string& file) {
        return frmMain->playState == psPlaying && mplayer.Arguments().back() == file;
    };
    const auto near = [bar](double seconds, double within) {
        return std::abs(bar->Position() - seconds) <= within &&
               bar->TimeText().startsWith(
                   QString::fromStdString(playback::ClockText(bar->Position(), false)) + " / ");
    };
    const auto clickAt = [bar](double fraction) {
        const QRect groove = bar->Groove();
        Click(bar->mapToGlobal(QPoint(groove.left() + static_cast<int>(groove.width() * fraction),
                                      groove.center().y())));
        // Where a pixel of the groove is more than the second a jump may be off.
        return bar->Length() / groove.width() + 1;
    };

    Xdo({"key", "Home", "Return"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return playing(first) && bar->Length() > 19; }, 10000));
    // The default window is narrow: the bar still shows the length, with a groove to aim at.
    EXPECT_EQ(bar->ShownText().toStdString(), bar->TimeText().toStdString());
    EXPECT_GE(bar->Groove().width(), 90);
    double within = clickAt(0.75);
    EXPECT_TRUE(QTest::qWaitFor([&] { return near(0.75 * bar->Length(), within); }, 3000))
        << bar->Position() << " " << bar->TimeText().toStdString();

    Xdo({"key", "space"});
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMain->playState == psPaused; }));
    QTest::qWait(600);
    const QString held = bar->TimeText();
    QTest::qWait(1000);
    EXPECT_EQ(bar->TimeText(), held) << "the time ran on while paused";
    Xdo({"key", "space"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->TimeText() != held; }, 3000));
    const std::string log = ReadFile(dir / "reelvault.log");
    EXPECT_NE(log.find("Starting playback..."), std::string::npos) << "the player's lines go";
    EXPECT_EQ(log.find("ANS_"), std::string::npos) << "an answer to our own query was logged";

    // Left half way, to be resumed.
    within = clickAt(0.5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return near(0.5 * bar->Length(), within); }, 3000));
    const double leftAt = bar->Position();
    Xdo({"key", "Next"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return playing(second); }, 5000));
    EXPECT_FALSE(frmMediaBrowser->isVisible()) << "back to the list on the way";
    Xdo({"key", "Next"});
    QTest::qWait(500);
    EXPECT_TRUE(playing(second)) << "Page Down past the last row";

    // The player stops reading: its input fills up, the window goes on answering.
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->Length() > 19; }, 5000));
    QProcess find;
    find.start("pgrep", {"-f", "--", QString::fromStdString(second)});
    ASSERT_TRUE(find.waitForFinished(5000));
    const int pid = find.readAllStandardOutput().split('\n').first().toInt();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    int sent = 0;
    while (mplayer.SendCommand("pausing_keep_force get_time_pos") == 0 && sent < 100000) {
        ++sent;
    }
    EXPECT_LT(sent, 100000) << "the player's input never filled";
    QElapsedTimer beat;
    qint64 worst = 0;
    QTimer heart;
    QObject::connect(&heart, &QTimer::timeout, [&] { worst = std::max(worst, beat.restart()); });
    beat.start();
    heart.start(20);
    clickAt(0.25);
    Xdo({"key", "f"});
    EXPECT_TRUE(QTest::qWaitFor([] { return frmMain->IsFullScreen(); }, 3000));
    Xdo({"key", "Escape"});
    EXPECT_TRUE(QTest::qWaitFor([] { return !frmMain->IsFullScreen(); }, 3000));
    heart.stop();
    EXPECT_LT(worst, 300) << "the window stood still for " << worst << " ms";
    ::kill(pid, SIGCONT);

    // The first file starts where it was left, and says so.
    frmMain->btnStop->click();
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMain->playState == psStopped; }, 5000));
    Xdo({"key", "Home", "Return"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return playing(first); }, 5000));
    EXPECT_TRUE(frmMain->lblResumed->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->Length() > 19 && near(leftAt, 1.5); }, 3000))
        << "left at " << leftAt << ", started at " << bar->Position();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->Position() > leftAt + 1; }, 3000))
        << "the time stood still after the resume";

    // Full screen: the bar hides, comes back at the bottom edge and jumps there too.
    Xdo({"key", "f"});
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMain->IsFullScreen(); }, 3000));
    Xdo(At(frmMain->mapToGlobal(frmMain->rect().center())));
    Xdo(At(frmMain->mapToGlobal(frmMain->rect().center() + QPoint(5, 5))));
    EXPECT_TRUE(QTest::qWaitFor([] { return !frmMain->pnlControl->isVisible(); }, 3000));
    Xdo(At(frmMain->mapToGlobal(QPoint(frmMain->width() / 2, frmMain->height() - 10))));
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMain->pnlControl->isVisible(); }, 3000));
    within = clickAt(0.25);
    EXPECT_TRUE(QTest::qWaitFor([&] { return near(0.25 * bar->Length(), within); }, 3000))
        << bar->Position();

    // A wider window has the Next button; a drag scrubs, the wheel steps, Page Up goes back.
    Xdo({"key", "f"});
    ASSERT_TRUE(QTest::qWaitFor([] { return !frmMain->IsFullScreen(); }, 3000));
    Xdo({"windowsize", "--sync", QString::number(frmMain->winId()), "700", "300"});
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMain->width() == 700; }, 3000));
    // The bar hid itself while the pointer was away: it comes back at the bottom edge.
    Xdo(At(frmMain->mapToGlobal(QPoint(350, frmMain->height() - 10))));
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMain->btnNext->isVisible(); }, 3000));
    Click(frmMain->btnNext->mapToGlobal(frmMain->btnNext->rect().center()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return playing(second) && bar->Length() > 19; }, 5000));
    const QRect groove = bar->Groove();
    const auto along = [&](double fraction) {
        return bar->mapToGlobal(QPoint(groove.left() + static_cast<int>(groove.width() * fraction),
                                       groove.center().y()));
    };
    Drag(along(0.1), along(0.6));
    EXPECT_TRUE(QTest::qWaitFor([&] { return near(0.6 * bar->Length(), 2); }, 3000))
        << bar->Position();
    const double before = bar->Position();
    Xdo({"click", "4", "click", "4"});
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return bar->Position() >= before + 2 * SeekBar::kWheelStep - 1; }, 3000))
        << before << " -> " << bar->Position();
    Xdo({"key", "Prior"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return playing(first); }, 5000));
    frmMain->btnStop->click();
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMain->playState == psStopped; }, 5000));
}

}  // namespace

namespace {

bool PlayingFile(const std::string& file) {
    return frmMain->playState == psPlaying && mplayer.Arguments().back() == file;
}

void StopPlaying() {
    frmMain->btnStop->click();
    ASSERT_TRUE(QTest::qWaitFor([] { return platform::LiveThreadCount() == 0; }));
}

}  // namespace

// Ctrl+1 puts thumbnails in the list's place: the pictures of the clips, as the screen
// shows them. Right moves to the next one and Enter plays it; Ctrl+2 brings back the
// details list with that row chosen.
TEST_F(WindowSystemTest, CtrlOneShowsPicturesAndEnterPlaysTheChosenOne) {
    const std::string ffmpeg = QStandardPaths::findExecutable("ffmpeg").toStdString();
    if (ffmpeg.empty()) {
        GTEST_SKIP() << "needs ffmpeg";
    }
    ::setenv("XDG_CACHE_HOME", (dir / "home-cache").c_str(), 1);  // thumbnails go there
    for (const char* name : {"a.avi", "b.avi"}) {
        ASSERT_TRUE(MakeClip(ffmpeg, cache + "/g_0001/" + name, 1,
                             {"-c:v", "mpeg4", "-c:a", "libmp3lame", "-f", "avi"}));
    }
    Start();
    TakeKeyboard();
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMediaBrowser->facts->Done(); }, 20000));
    Xdo({"key", "ctrl+1"});
    auto* grid = frmMediaBrowser->lvThumbnails;
    ASSERT_TRUE(QTest::qWaitFor([grid] { return grid->isVisible(); }));
    EXPECT_FALSE(frmMediaBrowser->lvCachedFiles->isVisible());
    QTest::qWait(300);

    // What the X server shows there: a test pattern has far more colours than a list.
    const QRect area(grid->viewport()->mapToGlobal(QPoint(0, 0)), grid->viewport()->size());
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                            .toImage();
    shot.save(QString::fromStdString(dir / "thumbnails.png"));
    QSet<QRgb> colours;
    for (int row = 0; row < shot.height(); row += 2) {
        for (int column = 0; column < shot.width(); column += 2) {
            colours.insert(shot.pixel(column, row));
        }
    }
    EXPECT_GT(colours.size(), 200) << "no pictures on the screen";

    Xdo({"key", "Right", "Return"});
    const std::string second = frmMediaBrowser->scanner.entries.at(1).fileName;
    EXPECT_TRUE(QTest::qWaitFor([&] { return PlayingFile(second); }))
        << "the second picture's file did not play";
    StopPlaying();
    Xdo({"key", "ctrl+2"});
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMediaBrowser->lvCachedFiles->isVisible(); }));
    EXPECT_EQ(frmMediaBrowser->GetSelectedFile(), second);
    // The view chosen last is the one the settings file keeps.
    Xdo({"key", "ctrl+1"});
    ASSERT_TRUE(QTest::qWaitFor([grid] { return grid->isVisible(); }));
    frmMain->close();
    EXPECT_NE(ReadFile(ini).find("BrowserThumbnails=1"), std::string::npos);
    ::unsetenv("XDG_CACHE_HOME");
}

// Ctrl+F, a word typed in any case, Down and Enter play the row the filter kept. The
// filter outlives the rescan at the stop; Esc empties it, and a second Esc closes.
TEST_F(WindowSystemTest, CtrlFAWordDownAndEnterPlayTheRowItKept) {
    CacheScript("cat.flv");
    const std::string dog = CacheScript("dog.flv");
    CacheScript("bird.flv");
    Start();
    TakeKeyboard();
    Xdo({"key", "ctrl+f"});
    Xdo({"type", "--delay", "30", "DoG"});
    Xdo({"key", "Down", "Return"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return PlayingFile(dog); })) << "dog.flv did not play";
    StopPlaying();
    ASSERT_TRUE(QTest::qWaitFor([] { return !frmMediaBrowser->ScanPending(); }));
    // The stand-in player's records beside dog.flv are listed too.
    const auto rows = [] { return frmMediaBrowser->lvCachedFiles->model()->rowCount(); };
    const auto& entries = frmMediaBrowser->scanner.entries;
    const auto dogs = std::count_if(entries.begin(), entries.end(), [](const auto& entry) {
        return entry.fileName.find("dog") != std::string::npos;
    });
    EXPECT_EQ(rows(), dogs);
    EXPECT_LT(rows(), static_cast<int>(entries.size()));
    EXPECT_EQ(frmMediaBrowser->GetSelectedFile(), dog);

    Xdo({"key", "ctrl+f", "Escape"});
    EXPECT_TRUE(QTest::qWaitFor([] { return frmMediaBrowser->edFilter->text().isEmpty(); }));
    EXPECT_EQ(rows(), static_cast<int>(entries.size()));
    EXPECT_TRUE(frmMain->isVisible());
    Xdo({"key", "Escape"});
    EXPECT_TRUE(QTest::qWaitFor([] { return !frmMain->isVisible(); })) << "the window stayed";
}

// A rescan of a cache of 200,000 files, asked for from the list's menu: the window
// answers the window manager's pings all the while, each within 200 ms.
TEST_F(WindowSystemTest, TheWindowAnswersPingsWhileALargeCacheIsRescanned) {
    constexpr int kFolders = 200, kFiles = 1000;
    // In memory where the system has it: a disk takes long to make so many files.
    std::string shm = "/dev/shm/reelvault-test-XXXXXX";
    if (std::filesystem::is_directory("/dev/shm") && ::mkdtemp(shm.data()) != nullptr) {
        cache = shm;
    }
    struct Remove {
        std::string path;
        ~Remove() { std::filesystem::remove_all(path); }
    } remove{cache};
    for (int folder = 0; folder < kFolders; ++folder) {
        const std::string path = cache + "/g_" + std::to_string(1000 + folder);
        std::filesystem::create_directories(path);
        for (int file = 0; file < kFiles; ++file) {
            const int made =
                ::open((path + "/" + std::to_string(file)).c_str(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(made, 0);
            ::close(made);
        }
    }
    Start();
    ASSERT_TRUE(QTest::qWaitFor([] { return !frmMediaBrowser->ScanPending(); }, 60000));
    auto* list = frmMediaBrowser->lvCachedFiles;
    Xdo(At(list->viewport()->mapToGlobal(list->viewport()->rect().center())));
    Xdo({"click", "3"});
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMediaBrowser->PopupMenu->isVisible(); }));

    // Pings go out one after the other from before the rescan is asked for until after
    // it is over; a frozen window would answer the one under way late.
    const auto window = static_cast<std::uintptr_t>(frmMain->winId());
    unsigned long stamp = 0;
    int duringScan = 0;
    qint64 worst = 0;
    QElapsedTimer sent;
    QTimer pinger;
    pinger.setInterval(10);
    QObject::connect(&pinger, &QTimer::timeout, [&] {
        if (stamp > 0 && !x.PingAnswered(stamp)) {
            worst = std::max(worst, sent.elapsed());
            return;
        }
        worst = std::max(worst, stamp > 0 ? sent.elapsed() : 0);
        duringScan += frmMediaBrowser->ScanPending() ? 1 : 0;
        x.SendPing(window, ++stamp);
        sent.start();
    });
    pinger.start();
    QTest::qWait(100);
    Xdo({"key", "Down", "Return"});
    EXPECT_TRUE(QTest::qWaitFor([] { return !frmMediaBrowser->PopupMenu->isVisible(); }));
    EXPECT_TRUE(QTest::qWaitFor([] { return !frmMediaBrowser->ScanPending(); }, 30000));
    const unsigned long last = stamp;
    EXPECT_TRUE(QTest::qWaitFor([&] { return stamp > last + 2; }, 5000));
    pinger.stop();
    EXPECT_GT(duringScan, 0) << "no ping while the rescan ran";
    // A rescan on this thread freezes it for over half a second here, far longer under a
    // sanitizer, which also slows every answer.
    EXPECT_LT(worst, 200 * testsupport::kSanitizerSlowdown)
        << duringScan << " pings during the scan";
    EXPECT_EQ(frmMediaBrowser->scanner.entries.size(), std::size_t{kFolders * kFiles});
}

// What the user met in the dialogs a long piece of work opens inside `action` (their event
// loops run inside it, so they are driven from a timer): a save dialog, if one comes, is
// given `saveAs` typed; once the progress dialog is up, five pings go to the main window
// and then Esc to the dialog.
struct ProgressRun {
    bool named = false;
    bool cancelled = false;
    qint64 worstPing = -1;
    int progress = 0;
    qint64 escToEnd = -1;
};

ProgressRun PingThenEscInTheProgressDialog(XView& x, const std::function<void()>& action,
                                           const std::string& saveAs = "") {
    ProgressRun run;
    QElapsedTimer sinceEsc;
    QTimer driver;
    driver.setInterval(50);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* save = qobject_cast<QFileDialog*>(modal); save != nullptr && !run.named) {
            run.named = true;
            Xdo({"windowfocus", "--sync", QString::number(save->winId())});
            Xdo({"key", "ctrl+a"});
            Xdo({"type", "--delay", "10", QString::fromStdString(saveAs)});
            // Not waited for here: the replace question runs its own event loop inside the
            // dialog's answer to it, where this timer would never fire again.
            QProcess::startDetached("xdotool", {"key", "Return"});
            return;
        }
        if (auto* replace = qobject_cast<QMessageBox*>(modal); replace != nullptr) {
            Xdo({"windowfocus", "--sync", QString::number(replace->winId())});
            Xdo({"key", "y"});  // Yes: replace the file that is there
            return;
        }
        auto* progress = qobject_cast<QProgressDialog*>(modal);
        if (progress == nullptr || !progress->isVisible() || run.cancelled) {
            return;
        }
        driver.stop();
        const auto window = static_cast<std::uintptr_t>(frmMain->winId());
        for (unsigned long stamp = 1; stamp <= 5; ++stamp) {
            QElapsedTimer sent;
            sent.start();
            x.SendPing(window, stamp);
            EXPECT_TRUE(QTest::qWaitFor([&] { return x.PingAnswered(stamp); }, 2000));
            run.worstPing = std::max(run.worstPing, sent.elapsed());
            QTest::qWait(50);
        }
        run.progress = progress->value();
        if (qEnvironmentVariableIsSet("REELVAULT_TEST_SHOTS")) {
            QGuiApplication::primaryScreen()->grabWindow(0).save(
                qEnvironmentVariable("REELVAULT_TEST_SHOTS") + "/" + progress->labelText().left(4) +
                "-" + qEnvironmentVariable("REELVAULT_TEST_WM") + ".png");
        }
        Xdo({"windowfocus", "--sync", QString::number(progress->winId())});
        sinceEsc.start();
        Xdo({"key", "Escape"});
        run.cancelled = true;
    });
    driver.start();
    action();
    run.escToEnd = sinceEsc.isValid() ? sinceEsc.elapsed() : -1;
    return run;
}

// "Copy file to..." from the list's menu onto a device that writes 4 MB/s, over a file that
// is there: the save dialog takes a typed name and the replace question a Yes, the progress
// dialog comes up and moves, the window answers the window manager's pings while the device
// writes, and Esc in the dialog ends the copy at once, leaving the old file as it was and
// no part of the copy behind.
TEST_F(WindowSystemTest, CopyToASlowDeviceAnswersAndEscLeavesNothing) {
    const std::string clip = CacheScript("big.flv");
    WriteFile(clip, std::string(24 << 20, 'x'));
    const std::string elsewhere = dir / "stick";
    std::filesystem::create_directories(elsewhere);
    WriteFile(elsewhere + "/copy.flv", "precious");
    Start();
    TakeKeyboard();
    ASSERT_TRUE(QTest::qWaitFor([] { return !frmMediaBrowser->ScanPending(); }));
    auto* list = frmMediaBrowser->lvCachedFiles;
    Xdo({"key", "Home"});
    Xdo(At(list->viewport()->mapToGlobal(list->visualRect(list->currentIndex()).center())));
    Xdo({"click", "3"});
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMediaBrowser->PopupMenu->isVisible(); }));
    testsupport::slowWriteBytesPerSecond = 4 << 20;
    const ProgressRun run = PingThenEscInTheProgressDialog(
        x,
        [] {
            Xdo({"key", "Up", "Return"});
        },  // the menu's last entry, "Copy file to..."
        elsewhere + "/copy.flv");
    testsupport::slowWriteBytesPerSecond = 0;
    ASSERT_TRUE(run.named) << "no save dialog";
    ASSERT_TRUE(run.cancelled) << "no progress dialog";
    EXPECT_LT(run.worstPing, 200 * testsupport::kSanitizerSlowdown) << "the window stood still";
    EXPECT_GT(run.progress, 0) << "the progress did not move";
    EXPECT_LT(run.escToEnd, 500 * testsupport::kSanitizerSlowdown) << "Esc took long";
    EXPECT_EQ(ReadFile(elsewhere + "/copy.flv"), "precious") << "the old file was replaced";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(elsewhere),
                            std::filesystem::directory_iterator()),
              1)
        << "a part of the copy was left";
    EXPECT_TRUE(warnings.empty());
}

// Enter on a stream's row joins its segments into one file (on a slow disk here) while the
// window answers; Esc in the progress dialog gives up on it without a player, a failure
// line or a file left behind, and the next Enter plays.
TEST_F(WindowSystemTest, AStreamJoinedForPlayLeavesTheWindowAnsweringAndEscGivesUp) {
    const testsupport::SegmentFiles files =
        testsupport::MakeSegments(dir / "segments", testsupport::Rendition::Ts, 20, 2);
    if (files.segments.empty()) {
        GTEST_SKIP() << "needs ffmpeg";
    }
    cache = dir / "Cache_Data";
    std::filesystem::create_directories(cache);
    testsupport::WriteChromiumIndex(cache);
    std::string playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n";
    for (std::size_t i = 0; i < files.segments.size(); ++i) {
        const std::string name = "seg" + std::to_string(i) + ".ts";
        testsupport::StoreChromiumEntry(cache, "https://v.test/s/" + name,
                                        ReadFile(files.segments[i]));
        playlist += "#EXTINF:2,\n" + name + "\n";
    }
    WriteFile(
        cache + "/ffffffffffffffff_0",
        testsupport::ChromiumEntryFile(
            testsupport::ChromiumKey("https://v.test/s/index.m3u8"), playlist + "#EXT-X-ENDLIST\n",
            testsupport::ChromiumStream0(
                testsupport::ChromiumHttp("application/vnd.apple.mpegurl"))));
    const auto leftovers = [] {
        const std::string folder = platform::PrivateTemporaryFolder();
        return std::filesystem::is_directory(folder)
                   ? std::distance(std::filesystem::directory_iterator(folder),
                                   std::filesystem::directory_iterator())
                   : 0;
    };
    const auto before = leftovers();
    Start();
    TakeKeyboard();
    ASSERT_TRUE(QTest::qWaitFor([] { return !frmMediaBrowser->ScanPending(); }));
    ASSERT_EQ(frmMediaBrowser->scanner.entries.size(), 1u) << "not one row for the stream";

    testsupport::slowWriteBytesPerSecond = 200 << 10;
    const ProgressRun run = PingThenEscInTheProgressDialog(x, [] {
        Xdo({"key", "Home", "Return"});
    });
    testsupport::slowWriteBytesPerSecond = 0;
    ASSERT_TRUE(run.cancelled) << "no progress dialog while the stream was joined";
    EXPECT_LT(run.worstPing, 200 * testsupport::kSanitizerSlowdown) << "the window stood still";
    EXPECT_TRUE(QTest::qWaitFor([] { return frmMain->playState == psStopped; }));
    EXPECT_EQ(frmMediaBrowser->lblPlaybackError->text().toStdString(), "");
    EXPECT_EQ(leftovers(), before) << "the half-joined file was left";

    Xdo({"key", "Return"});
    EXPECT_TRUE(QTest::qWaitFor([] {
        return frmMain->playState == psPlaying && mplayer.Arguments().back().ends_with(".ts");
    })) << "the stream did not play after all";
    StopPlaying();
}
