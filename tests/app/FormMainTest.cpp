// The main window driven by its buttons, keys, wheel, drops and the player's end, with the
// stand-in player as the player instance: its "media files" are scripts, and it records
// every slave line it receives beside the script (".stdin").
#include "app/FormMain.h"
#include "app/ProgramWindows.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "about/FormAbout.h"
#include "app/QtSynchronize.h"
#include "app/ScreenSizeProvider.h"
#include "app/VideoSurface.h"
#include "browser/CachedFilesModel.h"
#include "browser/FormMediaBrowser.h"
#include "log/LogUnit.h"
#include "platform/Thread.h"
#include "player/Mplayer.h"
#include "settings/FormSettings.h"
#include "support/EngineHarness.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const std::string kFake = FAKEPLAYER;
const QString kMissingPlayer = "Failed to find mplayer instance. Check mplayer location.";

struct IniOptions {
    bool maximized = false;
    bool exitFullScreenOnStop = false;
    bool logToFile = false;
    std::string instance = kFake;
};

class MainWindowTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string ini = dir / "reelvault.ini";
    std::string log = dir / "reelvault.log";
    std::string cache = dir / "cache";
    std::vector<QString> warnings;
    int names = 0;

    // A fresh file name, for loops that start the window several times in one folder.
    std::string Fresh(const std::string& stem) { return stem + std::to_string(++names) + ".flv"; }

    void SetUp() override {
        QApplication::setApplicationName("Reelvault");
        QApplication::setQuitOnLastWindowClosed(false);
        InstallScreenSizeProvider();
        InstallQtSynchronize();
        std::filesystem::create_directories(cache + "/g_0001");
        QCursor::setPos(0, 0);
    }

    void TearDown() override {
        // Whatever still plays goes without telling a window that is about to go.
        EXPECT_TRUE(DestroyProgramWindows());
        EXPECT_TRUE(testsupport::ChildProcesses().empty());
    }

    void WriteIni(const IniOptions& o) {
        WriteFile(
            ini,
            "[frmMain]\nAppWidth=500\nAppHeight=400\nAppPositionX=40\n"
            "AppPositionY=50\nMaximized=" +
                std::string(o.maximized ? "1" : "0") +
                "\nAlwaysOnTop=0\nExitFullScreenOnStop=" + (o.exitFullScreenOnStop ? "1" : "0") +
                "\n[Logging]\nLogToFile=" + (o.logToFile ? "1" : "0") +
                "\n[Mplayer]\nInstance=" + o.instance + "\n[Opera]\nCacheDir=" + cache +
                "\nMinimalFileSize=0\nUseOnlyG_XXXX=1\n");
    }

    // The five windows as the program creates them; not shown yet.
    void Create(const IniOptions& o = {}) {
        WriteIni(o);
        CreateProgramWindows({ini, log});
        frmMain->ShowWarning = [this](const QString& text) { warnings.push_back(text); };
    }

    void Start(const IniOptions& o = {}) {
        Create(o);
        Show();
    }

    void Show() {
        frmMain->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frmMain));
    }

    // A "media file" in the cache folder: a script for the stand-in player.
    std::string CacheScript(const std::string& name, const std::string& text = "") {
        const std::string path = cache + "/g_0001/" + name;
        WriteFile(path, text);
        return path;
    }

    std::string OtherScript(const std::string& name, const std::string& text = "") {
        const std::string path = dir / name;
        WriteFile(path, text);
        return path;
    }

    // After the rescan under way, if any.
    bool Listed(const std::string& path) const {
        EXPECT_TRUE(QTest::qWaitFor([] { return !frmMediaBrowser->ScanPending(); }, 30000));
        for (const auto& entry : frmMediaBrowser->scanner.entries) {
            if (entry.fileName == path) {
                return true;
            }
        }
        return false;
    }

    void Select(const std::string& path) {
        frmMediaBrowser->Rescan();
        EXPECT_TRUE(QTest::qWaitFor([] { return !frmMediaBrowser->ScanPending(); }, 30000));
        const auto& entries = frmMediaBrowser->scanner.entries;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].fileName == path) {
                frmMediaBrowser->lvCachedFiles->setCurrentIndex(
                    frmMediaBrowser->lvCachedFilesModel->index(static_cast<int>(i), 0));
                return;
            }
        }
        ADD_FAILURE() << path << " is not listed";
    }

    static bool Started(const std::string& script) {
        return QTest::qWaitFor([&] { return std::filesystem::exists(script + ".argv"); }, 10000);
    }

    // Selects a cache script and clicks Play; returns once the player runs it.
    std::string PlayFromCache(const std::string& name, const std::string& text = "") {
        const std::string script = CacheScript(name, text);
        Select(script);
        frmMain->btnPlay->click();
        EXPECT_EQ(frmMain->playState, psPlaying);
        EXPECT_TRUE(Started(script));
        return script;
    }

    // What the player has received once it equals `expected`, or after a while.
    // The slave lines the player got, but for the time display's own queries: they come
    // every few hundred milliseconds whatever a test does, and have tests of their own.
    static std::string Sent(const std::string& script) {
        const std::string all = ReadFile(script + ".stdin");
        std::string kept;
        for (std::size_t at = 0; at < all.size();) {
            const std::size_t end = std::min(all.find('\n', at), all.size() - 1) + 1;
            const std::string_view line(all.data() + at, end - at);
            if (!line.starts_with("pausing_keep_force get_time_")) {
                kept.append(line);
            }
            at = end;
        }
        return kept;
    }

    static std::string Received(const std::string& script, const std::string& expected) {
        (void)QTest::qWaitFor([&] { return Sent(script) == expected; }, 5000);
        return Sent(script);
    }

    // A line sent after the action under test: once it has arrived, everything the
    // action sent has arrived before it.
    static std::string ReceivedBeforeMark(const std::string& script, const std::string& before) {
        mplayer.SendCommand("mark");
        const std::string all = Received(script, before + "mark\n");
        return all.substr(0, all.size() >= 5 ? all.size() - 5 : 0);
    }

    // Until the player's end has been handled on this thread.
    static bool Ended() {
        return QTest::qWaitFor([] { return platform::LiveThreadCount() == 0; }, 10000);
    }

    static void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(frmMain->windowHandle(), static_cast<Qt::Key>(key), modifiers);
    }

    // With Alt the window system turns the wheel's turn into a sideways one.
    static void Wheel(int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QPoint angle = modifiers & Qt::AltModifier ? QPoint(delta, 0) : QPoint(0, delta);
        QWheelEvent wheel(QPointF(20, 20), frmMain->mapToGlobal(QPointF(20, 20)), QPoint(), angle,
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(frmMain->windowHandle(), &wheel);
    }

    static void MouseOn(QWidget* widget, QEvent::Type type, Qt::MouseButton button) {
        const QPointF local(10, 10);
        QMouseEvent event(type, local, widget->mapToGlobal(local), button,
                          type == QEvent::MouseMove ? Qt::NoButton : button, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
    static void MouseOnVideo(QEvent::Type type, Qt::MouseButton button) {
        MouseOn(frmMain->pnlVideo, type, button);
    }

    static void Drop(const std::vector<std::string>& paths) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const auto& path : paths) {
            urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
        }
        mime.setUrls(urls);
        // Qt hands a drop only to the widget that accepted the drag's entry.
        QDragEnterEvent enter(QPoint(30, 30), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(frmMain, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(30, 30), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(frmMain, &drop);
    }

    // playState and the two toggle buttons agree.
    static void ExpectState(PlayState state) {
        EXPECT_EQ(frmMain->playState, state);
        EXPECT_EQ(frmMain->btnPlay->isChecked(), state == psPlaying);
        EXPECT_EQ(frmMain->btnPauseStill->isChecked(), state == psPaused);
        EXPECT_EQ(frmMediaBrowser->isVisible(), state == psStopped);
        EXPECT_EQ(frmMain->pnlVideo->isVisible(), state != psStopped);
    }

    Settings Written() const {
        Settings s;
        s.Read(ini);
        return s;
    }
};

// ---- start, show, close ----

TEST_F(MainWindowTest, StartWiresThePartsAndShowsTheBrowser) {
    const std::string listed = CacheScript("listed.flv");
    Start({.logToFile = true});
    EXPECT_EQ(frmMain->windowTitle(), "Reelvault");
    EXPECT_EQ(frmMain->geometry(), QRect(40, 50, 500, 400));
    EXPECT_EQ(frmMediaBrowser->parentWidget(), frmMain);
    EXPECT_TRUE(Listed(listed));
    EXPECT_TRUE(warnings.empty());
    EXPECT_FALSE(frmMain->controlBarAutoHide);
    EXPECT_TRUE(frmMain->pnlControl->isVisible());
    EXPECT_FALSE(frmMain->tmrShowControl->isActive());
    ExpectState(psStopped);
    EXPECT_NE(ReadFile(log).find("Application started\n"), std::string::npos);

    // A second show logs again and wires nothing twice.
    frmMain->hide();
    frmMain->show();
    const std::string text = ReadFile(log);
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find("Application started\n", at)) != std::string::npos;
         ++at) {
        ++count;
    }
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(frmMediaBrowser->parentWidget(), frmMain);
}

TEST_F(MainWindowTest, CommandLineFilePlaysFromTheOtherPage) {
    const std::string file = OtherScript("named on the command line.flv");
    Create();
    frmMain->SetCommandLineFile(file);
    Show();
    ExpectState(psPlaying);
    EXPECT_EQ(frmMediaBrowser->pcSource->currentWidget(), frmMediaBrowser->tsOther);
    EXPECT_EQ(frmMediaBrowser->GetSelectedFile(), file);
    ASSERT_TRUE(Started(file));
    EXPECT_EQ(mplayer.Arguments().back(), file);
}

TEST_F(MainWindowTest, MissingPlayerWarnsAtStartAndAfterEverySettingsDialog) {
    Start({.instance = dir / "no-player-here"});
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], kMissingPlayer);
    EXPECT_EQ(frmMain->windowTitle(), "Reelvault");
    EXPECT_TRUE(frmMediaBrowser->isVisible()) << "start goes on after the warning";

    // Cancelled: the path is still wrong.
    QTimer::singleShot(0, frmSettings, [] { frmSettings->btnCancel->click(); });
    frmMain->btnSettings->click();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[1], kMissingPlayer);

    // Applied with a player that exists: no more warning.
    QTimer::singleShot(0, frmSettings, [] {
        frmSettings->edMplayerInstance->setText(QString::fromStdString(kFake));
        frmSettings->btnApply->click();
    });
    frmMain->btnSettings->click();
    EXPECT_EQ(warnings.size(), 2u);
    EXPECT_EQ(frmMain->settings.Mplayer.instance, kFake);
}

TEST_F(MainWindowTest, MaximizedStartIsFullScreenUntilLeftAndIsNotRemembered) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    struct Case {
        const char* name;
        std::function<void()> leave;
    };
    const std::vector<Case> cases = {
        {"Fullscreen button", [] { frmMain->btnFullscreen->click(); }},
        {"Esc", [] { Key(Qt::Key_Escape); }},
        {"not left", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start({.maximized = true});
        EXPECT_TRUE(frmMain->IsFullScreen());
        EXPECT_EQ(frmMain->geometry(), screen);
        EXPECT_FALSE(frmMain->btnFullscreen->isChecked());
        EXPECT_FALSE(frmMain->tmrCursorHide->isActive());
        if (c.leave) {
            c.leave();
            EXPECT_FALSE(frmMain->IsFullScreen());
            EXPECT_TRUE(frmMain->isVisible()) << "leaving full screen does not close";
            EXPECT_EQ(frmMain->geometry(), QRect(40, 50, 500, 400));
            EXPECT_FALSE(frmMain->btnFullscreen->isChecked());
        }
        frmMain->close();
        const Settings written = Written();
        EXPECT_FALSE(written.maximized);
        EXPECT_EQ(
            QRect(written.appPositionX, written.appPositionY, written.appWidth, written.appHeight),
            QRect(40, 50, 500, 400));
        TearDown();
    }
}

TEST_F(MainWindowTest, ClosingInFullScreenWritesTheBoundsStoredOnEntering) {
    Start();
    frmMain->setGeometry(60, 70, 420, 300);
    ASSERT_TRUE(QTest::qWaitFor([] { return frmMain->geometry() == QRect(60, 70, 420, 300); }));
    frmMain->btnFullscreen->click();
    ASSERT_TRUE(frmMain->IsFullScreen());
    EXPECT_EQ(frmMain->geometry(), QGuiApplication::primaryScreen()->geometry());
    EXPECT_TRUE(frmMain->btnFullscreen->isChecked());
    frmMain->close();
    const Settings written = Written();
    EXPECT_FALSE(written.maximized);
    EXPECT_EQ(
        QRect(written.appPositionX, written.appPositionY, written.appWidth, written.appHeight),
        QRect(60, 70, 420, 300));
}

TEST_F(MainWindowTest, EscClosesFromEveryStateAndAPlayingFileIsStoppedFirst) {
    Start();
    const std::string script = PlayFromCache("a.flv");
    Key(Qt::Key_Escape);
    EXPECT_FALSE(frmMain->isVisible());
    EXPECT_EQ(Received(script, "quit\n"), "quit\n");
    EXPECT_TRUE(std::filesystem::exists(ini));
    EXPECT_EQ(Written().Mplayer.instance, kFake);
}

// ---- the transition table ----

TEST_F(MainWindowTest, PlayButton) {
    Start();
    // Stopped, nothing chosen: released, stays.
    frmMain->btnPlay->click();
    ExpectState(psStopped);
    EXPECT_EQ(platform::LiveThreadCount(), 0);

    // Stopped, a file chosen: plays it.
    const std::string script = PlayFromCache("a.flv");
    ExpectState(psPlaying);
    EXPECT_EQ(mplayer.Arguments().back(), script);

    // Playing: stays pressed, sends nothing.
    frmMain->btnPlay->click();
    ExpectState(psPlaying);
    EXPECT_EQ(ReceivedBeforeMark(script, ""), "");

    // Paused: resumes.
    frmMain->btnPauseStill->click();
    ExpectState(psPaused);
    frmMain->btnPlay->click();
    ExpectState(psPlaying);
    EXPECT_EQ(Received(script, "mark\npause\npause\n"), "mark\npause\npause\n");
}

TEST_F(MainWindowTest, MediaBrowserPlayRequest) {
    Start();
    const std::string script = CacheScript("a.flv");
    Select(script);
    frmMain->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frmMain));
    frmMediaBrowser->FocusFileControl();
    // Enter is not the window's in psStopped: it reaches the list, which asks to play.
    Key(Qt::Key_Return);
    ExpectState(psPlaying);
    ASSERT_TRUE(Started(script));
    frmMain->btnStop->click();
    ASSERT_TRUE(Ended());

    // A double click on a row does the same.
    const std::string second = CacheScript("b.flv");
    Select(second);
    auto* list = frmMediaBrowser->lvCachedFiles;
    const QPoint row = list->visualRect(list->currentIndex()).center();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row);
    ExpectState(psPlaying);
    EXPECT_TRUE(Started(second));
}

TEST_F(MainWindowTest, PauseStillButtonAndSpace) {
    Start();
    frmMain->btnPauseStill->click();
    ExpectState(psStopped);  // released, stays
    Key(Qt::Key_Space);
    ExpectState(psStopped);

    const std::string script = PlayFromCache("a.flv");
    frmMain->btnPauseStill->click();
    ExpectState(psPaused);
    // One frame per click, paused throughout, the button kept down.
    frmMain->btnPauseStill->click();
    ExpectState(psPaused);
    frmMain->btnPauseStill->click();
    ExpectState(psPaused);
    Key(Qt::Key_Space);
    ExpectState(psPlaying);
    Key(Qt::Key_Space);
    ExpectState(psPaused);
    EXPECT_EQ(Received(script, "pause\nframe_step\nframe_step\npause\npause\n"),
              "pause\nframe_step\nframe_step\npause\npause\n");
}

// Stop rescans at once and again when the player's end arrives.
TEST_F(MainWindowTest, StopButtonRescansNowAndAtTheStopNotification) {
    for (const bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        Start();
        const std::string script = PlayFromCache(Fresh("a"));
        if (paused) {
            Key(Qt::Key_Space);
            ExpectState(psPaused);
        }
        const std::string first = CacheScript(Fresh("first"));
        frmMain->btnStop->click();
        ExpectState(psStopped);
        EXPECT_FALSE(frmMain->controlBarAutoHide);
        // The scans run on a worker, and the player's end may come while the first one
        // is being waited for: which of the two finds `second` is not known.
        const std::string second = CacheScript(Fresh("second"));
        EXPECT_TRUE(Listed(first));
        ASSERT_TRUE(Ended());
        EXPECT_TRUE(Listed(second)) << "no second rescan at the stop notification";
        ExpectState(psStopped);
        EXPECT_EQ(Sent(script), paused ? "pause\nquit\n" : "quit\n");
        TearDown();
    }

    // Stopped: one rescan, nothing else.
    Start();
    const std::string late = CacheScript("late.flv");
    EXPECT_FALSE(Listed(late));
    frmMain->btnStop->click();
    EXPECT_TRUE(Listed(late));
    ExpectState(psStopped);
    EXPECT_EQ(platform::LiveThreadCount(), 0);
}

TEST_F(MainWindowTest, EnterStopsThroughTheStopNotification) {
    for (const bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        Start();
        const std::string script = PlayFromCache(Fresh("a"));
        if (paused) {
            Key(Qt::Key_Space);
            // Called directly: a key sent through the window system may let the
            // notification in before we can look.
            frmMain->FormKeyDown(Qt::Key_Return);
            EXPECT_EQ(frmMain->playState, psPaused) << "the state waits for the notification";
        } else {
            Key(Qt::Key_Enter);
        }
        ASSERT_TRUE(Ended());
        ExpectState(psStopped);
        EXPECT_EQ(Sent(script), paused ? "pause\nquit\n" : "quit\n");
        TearDown();
    }
}

TEST_F(MainWindowTest, PlayerEndingByItselfLeavesFullScreenOnlyWhenConfigured) {
    for (const bool exitOnStop : {false, true}) {
        for (const bool paused : {false, true}) {
            SCOPED_TRACE(std::string(exitOnStop ? "exit on stop, " : "stay, ") +
                         (paused ? "paused" : "playing"));
            Start({.exitFullScreenOnStop = exitOnStop});
            PlayFromCache(Fresh("a"), "wait-line go\nend\n");
            if (paused) {
                Key(Qt::Key_Space);
            }
            Key(Qt::Key_F);
            ASSERT_TRUE(frmMain->IsFullScreen());
            mplayer.SendCommand("go");
            ASSERT_TRUE(Ended());
            ExpectState(psStopped);
            EXPECT_EQ(frmMain->IsFullScreen(), !exitOnStop);
            EXPECT_EQ(frmMain->btnFullscreen->isChecked(), !exitOnStop);
            TearDown();
        }
    }
}

// The Stop button's own notification arrives in psStopped and still leaves full screen.
TEST_F(MainWindowTest, StopNotificationInStoppedLeavesFullScreen) {
    Start({.exitFullScreenOnStop = true});
    PlayFromCache("a.flv");
    frmMain->btnFullscreen->click();
    frmMain->btnStop->click();
    ExpectState(psStopped);
    EXPECT_TRUE(frmMain->IsFullScreen());
    ASSERT_TRUE(Ended());
    EXPECT_FALSE(frmMain->IsFullScreen());
    EXPECT_EQ(frmMain->geometry(), QRect(40, 50, 500, 400));
}

TEST_F(MainWindowTest, OpeningAFileWhileOneIsLoadedSwitchesWithoutTheOldNotification) {
    for (const bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "playing");
        Start();
        const std::string old = PlayFromCache(Fresh("a"));
        if (paused) {
            Key(Qt::Key_Space);
        }
        const std::string next = OtherScript(Fresh("next"));
        frmMain->OpenFile(next);
        ExpectState(psPlaying);
        ASSERT_TRUE(Started(next));
        EXPECT_EQ(Received(old, paused ? "pause\nquit\n" : "quit\n"),
                  paused ? "pause\nquit\n" : "quit\n");
        // The old player's two threads are gone, the new one's two remain.
        ASSERT_TRUE(QTest::qWaitFor([] { return platform::LiveThreadCount() == 2; }, 10000));
        QTest::qWait(100);
        ExpectState(psPlaying);
        EXPECT_EQ(frmMediaBrowser->GetSelectedFile(), next);
        EXPECT_EQ(ReceivedBeforeMark(next, ""), "");
        TearDown();
    }
}

TEST_F(MainWindowTest, DroppedFilesOpenOnlyTheFirst) {
    Start();
    const std::vector<std::string> files = {OtherScript("one.flv"), OtherScript("two.flv"),
                                            OtherScript("three.flv")};
    Drop(files);
    ExpectState(psPlaying);
    ASSERT_TRUE(Started(files[0]));
    EXPECT_EQ(mplayer.Arguments().back(), files[0]);
    EXPECT_EQ(frmMediaBrowser->pcSource->currentWidget(), frmMediaBrowser->tsOther);

    // While playing: the dropped file replaces the playing one.
    Drop({files[1], files[2]});
    ASSERT_TRUE(Started(files[1]));
    EXPECT_EQ(Received(files[0], "quit\n"), "quit\n");
    ASSERT_TRUE(QTest::qWaitFor([] { return platform::LiveThreadCount() == 2; }, 10000));
    QTest::qWait(100);
    ExpectState(psPlaying);
    EXPECT_FALSE(std::filesystem::exists(files[2] + ".argv"));
}

// ---- keys, wheel, mouse ----

TEST_F(MainWindowTest, KeysAreIgnoredWhileStoppedButEsc) {
    Start();
    for (const int key : {Qt::Key_F, Qt::Key_O, Qt::Key_Space, Qt::Key_Left, Qt::Key_Right,
                          Qt::Key_Up, Qt::Key_Down, Qt::Key_Return}) {
        SCOPED_TRACE(key);
        Key(key);
        ExpectState(psStopped);
        EXPECT_FALSE(frmMain->IsFullScreen());
        EXPECT_TRUE(frmMain->isVisible());
    }
    // The Fullscreen button works in every state.
    frmMain->btnFullscreen->click();
    EXPECT_TRUE(frmMain->IsFullScreen());
    Key(Qt::Key_Escape);
    EXPECT_FALSE(frmMain->IsFullScreen());
    EXPECT_TRUE(frmMain->isVisible());
    Key(Qt::Key_Escape);
    EXPECT_FALSE(frmMain->isVisible());
}

TEST_F(MainWindowTest, KeysAndWheelWhilePlayingIgnoreModifiers) {
    Start();
    const std::string script = PlayFromCache("a.flv");
    struct Case {
        std::function<void()> act;
        const char* line;
    };
    const std::vector<Case> cases = {
        {[] { Key(Qt::Key_Left); }, "seek -3\n"},
        {[] { Key(Qt::Key_Right, Qt::ControlModifier); }, "seek 3\n"},
        {[] { Key(Qt::Key_Up, Qt::AltModifier); }, "seek 60\n"},
        {[] { Key(Qt::Key_Down, Qt::ShiftModifier); }, "seek -60\n"},
        {[] { Key(Qt::Key_O, Qt::ShiftModifier); }, "osd\n"},
        {[] { Wheel(120); }, "volume 1\n"},
        {[] { Wheel(-120); }, "volume -1\n"},
        {[] { Wheel(0); }, "volume -1\n"},
        {[] { Wheel(120, Qt::AltModifier); }, "volume 1\n"},
        {[] { MouseOnVideo(QEvent::MouseButtonPress, Qt::RightButton); }, "osd\n"},
        {[] { MouseOnVideo(QEvent::MouseButtonPress, Qt::MiddleButton); }, ""},
        // A right click on a button is no click on the bar's free area.
        {[] { MouseOn(frmMain->btnPlay, QEvent::MouseButtonPress, Qt::RightButton); }, ""},
    };
    std::string expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        c.act();
        expected += c.line;
        EXPECT_EQ(Received(script, expected), expected);
        ExpectState(psPlaying);
    }
    Key(Qt::Key_F, Qt::ShiftModifier);
    EXPECT_TRUE(frmMain->IsFullScreen());
    Key(Qt::Key_F, Qt::ControlModifier);
    EXPECT_FALSE(frmMain->IsFullScreen());
    EXPECT_TRUE(frmMain->isVisible());
}

// While a file is loaded the keys are the player's: none may reach the hidden panel's list,
// Other field or "..." button, whichever held the focus when the file began; the panel
// has the focus again once stopped.
TEST_F(MainWindowTest, KeysWhilePlayingNeverReachTheHiddenPanel) {
    // The list, playing by Enter on its row: Down and Up seek without moving the row.
    Start();
    CacheScript("a.flv");
    const std::string middle = CacheScript("b.flv");
    CacheScript("c.flv");
    Select(middle);
    frmMain->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frmMain));
    frmMediaBrowser->FocusFileControl();
    auto* list = frmMediaBrowser->lvCachedFiles;
    Key(Qt::Key_Return);
    ASSERT_TRUE(Started(middle));
    for (int key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Up, Qt::Key_Space, Qt::Key_Space}) {
        Key(key);
    }
    EXPECT_EQ(Received(middle, "seek -60\nseek 60\nseek 60\npause\npause\n"),
              "seek -60\nseek 60\nseek 60\npause\npause\n");
    Key(Qt::Key_Return);
    ASSERT_TRUE(Ended());
    EXPECT_EQ(frmMediaBrowser->GetSelectedFile(), middle) << "the hidden list took the arrows";
    EXPECT_EQ(QApplication::focusWidget(), list);
    TearDown();

    // The Other field, after a file named on the command line: Space, F and O type nothing.
    const std::string file = OtherScript("named.flv");
    Create();
    frmMain->SetCommandLineFile(file);
    Show();
    frmMain->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frmMain));
    ASSERT_TRUE(Started(file));
    for (int key : {Qt::Key_Space, Qt::Key_F, Qt::Key_F, Qt::Key_O, Qt::Key_Space}) {
        Key(key);
    }
    EXPECT_EQ(Received(file, "pause\nosd\npause\n"), "pause\nosd\npause\n");
    frmMain->btnStop->click();
    ASSERT_TRUE(Ended());
    EXPECT_EQ(frmMediaBrowser->edOtherFile->text().toStdString(), file);
    EXPECT_EQ(frmMediaBrowser->GetSelectedFile(), file);
    EXPECT_EQ(QApplication::focusWidget(), frmMediaBrowser->edOtherFile);
    TearDown();

    // The "..." button, clicked to choose the file: Space must not open the chooser again.
    const std::string chosen = OtherScript("chosen.flv");
    Start();
    frmMain->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frmMain));
    int choosers = 0;
    frmMediaBrowser->dialogs.chooseOtherFile = [&](const QString&, const QString&) {
        ++choosers;
        return QString::fromStdString(chosen);
    };
    QTabBar* tabs = frmMediaBrowser->pcSource->tabBar();
    QTest::mouseClick(
        tabs, Qt::LeftButton, {},
        tabs->tabRect(frmMediaBrowser->pcSource->indexOf(frmMediaBrowser->tsOther)).center());
    QTest::mouseClick(frmMediaBrowser->btnMplayerInstanceBrowse, Qt::LeftButton);
    ASSERT_EQ(choosers, 1);
    ASSERT_EQ(QApplication::focusWidget(), frmMediaBrowser->btnMplayerInstanceBrowse);
    frmMain->btnPlay->click();
    ASSERT_TRUE(Started(chosen));
    Key(Qt::Key_Space);
    EXPECT_EQ(Received(chosen, "pause\n"), "pause\n");
    EXPECT_EQ(choosers, 1) << "Space pressed the hidden button";
}

// The real player resumes on these commands while paused; the window follows it.
TEST_F(MainWindowTest, CommandsThatResumeThePlayerLeavePause) {
    Start();
    const std::string script = PlayFromCache("a.flv");
    struct Case {
        std::function<void()> act;
        const char* line;
        PlayState after;
    };
    const std::vector<Case> cases = {
        {[] { Key(Qt::Key_Left); }, "seek -3\n", psPlaying},
        {[] { Key(Qt::Key_Up); }, "seek 60\n", psPlaying},
        {[] { Key(Qt::Key_O); }, "osd\n", psPlaying},
        {[] { Wheel(0); }, "volume -1\n", psPlaying},
        {[] { Wheel(240); }, "volume 1\n", psPlaying},
        {[] { MouseOnVideo(QEvent::MouseButtonPress, Qt::RightButton); }, "osd\n", psPlaying},
        {[] { frmMain->btnPauseStill->click(); }, "frame_step\n", psPaused},
    };
    std::string expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Key(Qt::Key_Space);
        ExpectState(psPaused);
        c.act();
        ExpectState(c.after);
        expected += std::string("pause\n") + c.line;
        EXPECT_EQ(Received(script, expected), expected);
        if (c.after == psPaused) {
            Key(Qt::Key_Space);
            expected += "pause\n";
        }
    }
}

// ---- control bar and cursor ----

TEST_F(MainWindowTest, ControlBarShowsInTheBottomZoneAndHidesOutsideIt) {
    Start();
    QTimer* timer = frmMain->tmrShowControl;
    QWidget* bar = frmMain->pnlControl;
    const QPoint outside = frmMain->mapToGlobal(QPoint(50, 50));
    const QPoint inside = frmMain->mapToGlobal(QPoint(50, frmMain->height() - 5));
    EXPECT_FALSE(frmMain->InControlZone(QPoint(50, frmMain->height() - 36)));
    EXPECT_TRUE(frmMain->InControlZone(QPoint(0, frmMain->height() - 35)));
    EXPECT_TRUE(frmMain->InControlZone(QPoint(frmMain->width() - 1, frmMain->height() - 1)));
    EXPECT_FALSE(frmMain->InControlZone(QPoint(frmMain->width(), frmMain->height() - 1)));

    // Stopped: pinned, whatever the cursor does.
    QCursor::setPos(outside);
    frmMain->tmrShowControlTimer();
    EXPECT_TRUE(bar->isVisible());

    // Playing: visible until the mouse moves.
    PlayFromCache("a.flv");
    EXPECT_TRUE(bar->isVisible());
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(frmMain->controlBarAutoHide);

    // Sleeping without handling events lets time pass without the timer firing, so the
    // remaining time tells a restarted timer from one that ran on.
    // Timers may fire up to 5% late, so the margins are wide.
    const auto ranOn = [&] {
        QThread::msleep(200);
        return timer->remainingTime() <= 400;
    };
    frmMain->pnlVideoMouseMove();
    EXPECT_TRUE(timer->isActive());
    ASSERT_TRUE(ranOn());
    frmMain->pnlVideoMouseMove();  // bar visible: the running timer is left alone
    EXPECT_LE(timer->remainingTime(), 400);
    frmMain->tmrShowControlTimer();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(timer->isActive()) << "the tick does not stop its timer";

    // Hidden, moving outside the zone: each movement postpones the tick.
    ASSERT_TRUE(ranOn());
    frmMain->pnlVideoMouseMove();
    EXPECT_GT(timer->remainingTime(), 430);
    frmMain->tmrShowControlTimer();
    EXPECT_FALSE(bar->isVisible());

    // Inside the zone the timer runs on, and its tick shows the bar.
    QCursor::setPos(inside);
    ASSERT_TRUE(ranOn());
    frmMain->pnlVideoMouseMove();
    EXPECT_LE(timer->remainingTime(), 400);
    frmMain->tmrShowControlTimer();
    EXPECT_TRUE(bar->isVisible());
    frmMain->tmrShowControlTimer();
    EXPECT_TRUE(bar->isVisible());

    // Leaving the bar restarts the timer.
    ASSERT_TRUE(ranOn());
    frmMain->pnlControlMouseLeave();
    EXPECT_GT(timer->remainingTime(), 430);

    // Paused: the bar still hides.
    Key(Qt::Key_Space);
    QCursor::setPos(outside);
    frmMain->tmrShowControlTimer();
    EXPECT_FALSE(bar->isVisible());

    // Stopped again: shown, pinned, the timer off.
    frmMain->btnStop->click();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_FALSE(timer->isActive());
    EXPECT_FALSE(frmMain->controlBarAutoHide);
    frmMain->tmrShowControlTimer();
    EXPECT_TRUE(bar->isVisible());
}

TEST_F(MainWindowTest, ControlBarTimerRunsFromRealMouseMovesOverTheVideo) {
    Start();
    PlayFromCache("a.flv");
    QCursor::setPos(frmMain->mapToGlobal(QPoint(50, 50)));
    MouseOnVideo(QEvent::MouseMove, Qt::NoButton);
    EXPECT_TRUE(frmMain->tmrShowControl->isActive());
    EXPECT_TRUE(QTest::qWaitFor([] { return !frmMain->pnlControl->isVisible(); }, 3000));
    QCursor::setPos(frmMain->mapToGlobal(QPoint(50, frmMain->height() - 2)));
    EXPECT_TRUE(QTest::qWaitFor([] { return frmMain->pnlControl->isVisible(); }, 3000));
}

// The surface lies centred in the frame, touching two opposite sides, at the picture's
// aspect within a pixel.
::testing::AssertionResult KeepsAspect(const QRect& surface, const QSize& frame,
                                       const QSize& picture) {
    const bool fullWidth = surface.left() == 0 && surface.width() == frame.width();
    const bool fullHeight = surface.top() == 0 && surface.height() == frame.height();
    const bool centred = std::abs(surface.left() * 2 + surface.width() - frame.width()) <= 1 &&
                         std::abs(surface.top() * 2 + surface.height() - frame.height()) <= 1;
    const double aspect = double(picture.width()) / picture.height();
    const bool shaped = fullWidth ? std::abs(surface.height() - surface.width() / aspect) <= 1
                                  : std::abs(surface.width() - surface.height() * aspect) <= 1;
    if ((fullWidth || fullHeight) && centred && shaped) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "surface " << surface.x() << "," << surface.y() << " " << surface.width() << "x"
           << surface.height() << " in " << frame.width() << "x" << frame.height() << " for "
           << picture.width() << "x" << picture.height();
}

// The player fills whatever window it draws into, so the window it is given keeps the
// picture's aspect, as the player tells it once its video output is set up: in the window,
// in full screen, and anew for the next file. The bars beside the picture are the video's
// area too: a move over them shows the control bar as one over the picture does.
TEST_F(MainWindowTest, ThePlayersWindowKeepsThePicturesAspect) {
    Start();
    const auto surface = [] { return frmMain->pnlVideo->geometry(); };
    const auto frame = [] { return frmMain->pnlVideoFrame->size(); };
    const auto settlesAt = [&](const QSize& picture) {
        (void)QTest::qWaitFor([&] { return KeepsAspect(surface(), frame(), picture); }, 5000);
        return KeepsAspect(surface(), frame(), picture);
    };
    PlayFromCache("wide.flv", "wait-line go\nout VO: [x11] 480x360 => 640x360 Planar YV12\\n\n");
    EXPECT_EQ(frame(), QSize(500, 400));
    EXPECT_EQ(surface(), QRect(QPoint(0, 0), frame())) << "before the player has said";
    mplayer.SendCommand("go");
    EXPECT_TRUE(settlesAt(QSize(640, 360)));
    EXPECT_EQ(surface(), QRect(0, 59, 500, 281));

    frmMain->tmrShowControl->stop();
    QTest::mouseMove(frmMain->windowHandle(), QPoint(250, 20));
    EXPECT_TRUE(frmMain->tmrShowControl->isActive()) << "a move over the bar above the picture";

    Key(Qt::Key_F);
    ASSERT_TRUE(frmMain->IsFullScreen());
    EXPECT_TRUE(settlesAt(QSize(640, 360)));
    Key(Qt::Key_Escape);
    EXPECT_TRUE(settlesAt(QSize(640, 360)));
    Key(Qt::Key_Return);
    ASSERT_TRUE(Ended());

    PlayFromCache("tall.flv", "wait-line go\nout VO: [x11] 360x640 => 360x640 Planar YV12\\n\n");
    EXPECT_EQ(surface(), QRect(QPoint(0, 0), frame())) << "the last file's shape stayed";
    mplayer.SendCommand("go");
    EXPECT_TRUE(settlesAt(QSize(360, 640)));
    EXPECT_EQ(surface(), QRect(137, 0, 225, 400));
}

TEST_F(MainWindowTest, CursorHidesOnlyInFullScreen) {
    Start();
    PlayFromCache("a.flv");
    const auto shape = [] { return frmMain->pnlVideo->cursor().shape(); };
    MouseOnVideo(QEvent::MouseMove, Qt::NoButton);
    EXPECT_FALSE(frmMain->tmrCursorHide->isActive());
    EXPECT_EQ(shape(), Qt::ArrowCursor);

    Key(Qt::Key_F);
    EXPECT_TRUE(frmMain->tmrCursorHide->isActive());
    frmMain->tmrCursorHideTimer();
    EXPECT_EQ(shape(), Qt::BlankCursor);
    EXPECT_NE(frmMain->pnlControl->cursor().shape(), Qt::BlankCursor) << "over the bar too";
    EXPECT_TRUE(frmMain->tmrCursorHide->isActive()) << "the tick does not stop its timer";

    // The next movement brings it back and restarts the timer.
    QThread::msleep(400);
    MouseOnVideo(QEvent::MouseMove, Qt::NoButton);
    EXPECT_EQ(shape(), Qt::ArrowCursor);
    EXPECT_GT(frmMain->tmrCursorHide->remainingTime(), 2800);

    frmMain->tmrCursorHideTimer();
    Key(Qt::Key_Escape);
    EXPECT_FALSE(frmMain->IsFullScreen());
    EXPECT_FALSE(frmMain->tmrCursorHide->isActive());
    EXPECT_EQ(shape(), Qt::ArrowCursor);
}

}  // namespace
