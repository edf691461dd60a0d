// The main window as a new user meets it: no cache folder set, the browsers' caches found
// in a home folder made for the test and offered in the list's place; the lines the panel
// shows about a cache folder that is not there and about a file the player could not play
// (the stand-in player prints what the real one prints); a file with sound only.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/AudioOnlyNote.h"
#include "app/FormMain.h"
#include "app/ProgramWindows.h"
#include "app/QtSynchronize.h"
#include "app/ScreenSizeProvider.h"
#include "browser/FirstRunPage.h"
#include "browser/FormMediaBrowser.h"
#include "browser/NoticeLine.h"
#include "cache/CacheLayout.h"
#include "platform/Thread.h"
#include "player/Mplayer.h"
#include "settings/FormSettings.h"
#include "support/CacheWriters.h"
#include "support/EngineHarness.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const std::string kFake = FAKEPLAYER;

// A Chromium cache holding one video, as the browser leaves it.
void MakeChromiumCache(const std::string& dir) {
    fs::create_directories(dir);
    testsupport::WriteChromiumIndex(dir);
    const std::string key = testsupport::ChromiumKey("https://v.test/holiday.mp4");
    WriteFile(dir + "/1000000000000001_0",
              testsupport::ChromiumEntryFile(
                  key, testsupport::Mp4Body(400 * 1024),
                  testsupport::ChromiumStream0(testsupport::ChromiumHttp("video/mp4"))));
}

// A Firefox cache holding one video.
void MakeFirefoxCache(const std::string& dir) {
    const std::string entries = testsupport::MakeFirefoxCache(dir);
    WriteFile(entries + "/0123456789ABCDEF0123456789ABCDEF01234567",
              testsupport::FirefoxMediaEntry("https://w.test/trip.webm",
                                             testsupport::Mp4Body(400 * 1024), "video/webm"));
}

// An environment variable set for one test and put back afterwards.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { had_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }

  private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

class FirstRunTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string home = dir / "home";
    std::string ini = dir / "reelvault.ini";
    std::string chromium = home + "/.cache/chromium/Default/Cache/Cache_Data";
    std::string firefox = home + "/.cache/mozilla/firefox/abcd.default-esr/cache2";
    ScopedEnv homeEnv{"HOME", home.c_str()};
    ScopedEnv cacheEnv{"XDG_CACHE_HOME", nullptr};
    ScopedEnv configEnv{"XDG_CONFIG_HOME", nullptr};
    std::vector<QString> warnings;

    void SetUp() override {
        QApplication::setApplicationName("Reelvault");
        QApplication::setQuitOnLastWindowClosed(false);
        InstallScreenSizeProvider();
        InstallQtSynchronize();
        fs::create_directories(home);
    }

    void TearDown() override {
        EXPECT_TRUE(DestroyProgramWindows());
        EXPECT_TRUE(testsupport::ChildProcesses().empty());
    }

    void Start(const std::string& cacheDir, const std::string& instance = kFake) {
        WriteFile(ini,
                  "[frmMain]\nAppWidth=520\nAppHeight=360\nAlwaysOnTop=0\n[Mplayer]\nInstance=" +
                      instance + "\n[Opera]\nCacheDir=" + cacheDir +
                      "\nMinimalFileSize=0\nUseOnlyG_XXXX=0\n");
        CreateProgramWindows({ini, dir / "reelvault.log"});
        frmMain->ShowWarning = [this](const QString& text) { warnings.push_back(text); };
        frmMain->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frmMain));
    }

    // A left click where the user sees `widget`, delivered to the main window's window.
    static void ClickThroughWindow(QWidget* widget) {
        ASSERT_TRUE(widget->isVisible());
        const QPoint at = widget->mapTo(frmMain, widget->rect().center());
        QTest::mouseClick(frmMain->windowHandle(), Qt::LeftButton, {}, at);
    }

    static FirstRunPage* Page() { return frmMediaBrowser->pnlFirstRun; }

    static bool Ended() {
        return QTest::qWaitFor([] { return platform::LiveThreadCount() == 0; }, 10000);
    }

    // Plays `script` from the "Other" page as a file named on the command line would.
    std::string PlayScript(const std::string& name, const std::string& text) {
        const std::string script = dir / name;
        WriteFile(script, text);
        frmMain->OpenFile(script);
        return script;
    }
};

TEST_F(FirstRunTest, TheCachesFoundAreOfferedAndAClickMakesOneTheCacheFolder) {
    MakeChromiumCache(chromium);
    MakeFirefoxCache(firefox);
    // A chat client's own Chromium cache, in the configuration folder.
    MakeChromiumCache(home + "/.config/Slack/Cache/Cache_Data");
    // A big file in the current folder: an empty cache folder must not mean this one.
    const fs::path before = fs::current_path();
    fs::create_directories(dir / "cwd/g_0001");
    WriteFile(dir / "cwd/g_0001/video.flv", std::string(400 * 1024, 'x'));
    WriteFile(dir / "cwd/video.flv", std::string(400 * 1024, 'x'));
    fs::current_path(dir / "cwd");
    Start("");
    fs::current_path(before);

    EXPECT_TRUE(frmMediaBrowser->scanner.entries.empty());
    EXPECT_FALSE(frmMediaBrowser->lvCachedFiles->isVisible());
    ASSERT_TRUE(Page()->isVisible());
    EXPECT_TRUE(Page()->lblNoCacheDir->text().contains("No cache folder is set"));
    ASSERT_EQ(Page()->buttons.size(), 3u);
    EXPECT_EQ(Page()->buttons[0]->text(), "Chromium, Default");
    EXPECT_EQ(Page()->buttons[1]->text(), "Firefox, abcd.default-esr");
    EXPECT_EQ(Page()->buttons[2]->text(), "Slack");
    auto* folder0 = Page()->findChild<NoticeLine*>("lblFoundCache0");
    ASSERT_NE(folder0, nullptr);
    EXPECT_EQ(folder0->Notice().toStdString(), chromium);
    EXPECT_EQ(folder0->toolTip().toStdString(), chromium);
    EXPECT_TRUE(folder0->isVisible());
    EXPECT_FALSE(frmMediaBrowser->lblCacheFolderState->isVisible());

    ClickThroughWindow(Page()->buttons[1]);
    EXPECT_EQ(frmMain->settings.Opera.cacheDir, firefox);
    EXPECT_EQ(frmMediaBrowser->scanner.cacheDir, firefox);
    EXPECT_TRUE(QTest::qWaitFor([] { return frmMediaBrowser->lvCachedFiles->isVisible(); }));
    EXPECT_FALSE(Page()->isVisible());
    // Its files are listed at once.
    EXPECT_TRUE(QTest::qWaitFor([] { return !frmMediaBrowser->ScanPending(); }, 30000));
    ASSERT_EQ(frmMediaBrowser->scanner.entries.size(), 1u);

    // Written at close, like a folder set in the settings dialog.
    frmMain->close();
    EXPECT_NE(ReadFile(ini).find("CacheDir=" + firefox + "\n"), std::string::npos) << ReadFile(ini);
}

TEST_F(FirstRunTest, WithNothingFoundTheTextSaysWhereToSetAFolder) {
    fs::create_directories(home + "/.cache/fontconfig");
    Start("");
    ASSERT_TRUE(Page()->isVisible());
    EXPECT_TRUE(Page()->buttons.empty());
    const QString text = Page()->lblNoCacheDir->text();
    EXPECT_TRUE(text.contains("no browser cache was found")) << text.toStdString();
    EXPECT_TRUE(text.contains("Configuration")) << text.toStdString();
    EXPECT_TRUE(text.contains("Cache dir")) << text.toStdString();

    // A browser used meanwhile: the next rescan finds its cache.
    MakeChromiumCache(chromium);
    frmMediaBrowser->miRescanCacheDirectory->trigger();
    ASSERT_EQ(Page()->buttons.size(), 1u);
    EXPECT_EQ(Page()->buttons[0]->text(), "Chromium, Default");
}

TEST_F(FirstRunTest, SettingsDialogOffersTheCachesFoundAndTypingStillWorks) {
    MakeChromiumCache(chromium);
    MakeFirefoxCache(firefox);
    Start(dir / "elsewhere");
    QToolButton* browse = frmSettings->btnOperaCacheDirBrowse;
    QTimer::singleShot(0, frmSettings, [&] {
        frmSettings->pcGeneral->setCurrentWidget(frmSettings->tsOpera);
        ASSERT_EQ(browse->popupMode(), QToolButton::MenuButtonPopup);
        // The menu opens on the button's arrow; its second entry is then clicked.
        QTimer::singleShot(50, frmSettings, [&] {
            QMenu* menu = frmSettings->mnuFoundCaches;
            ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }));
            ASSERT_EQ(menu->actions().size(), 2);
            EXPECT_TRUE(menu->actions()[0]->text().startsWith("Chromium, Default"));
            QTest::mouseClick(menu, Qt::LeftButton, {},
                              menu->actionGeometry(menu->actions()[1]).center());
            EXPECT_EQ(frmSettings->edOperaCacheDir->text().toStdString(), firefox);
            frmSettings->btnApply->click();
        });
        QTest::mouseClick(browse, Qt::LeftButton, {}, QPoint(browse->width() - 4, 11));
    });
    frmMain->btnSettings->click();
    EXPECT_EQ(frmMain->settings.Opera.cacheDir, firefox);
    EXPECT_EQ(frmMediaBrowser->scanner.cacheDir, firefox);

    // Typed by hand, as before.
    QTimer::singleShot(0, frmSettings, [&] {
        frmSettings->edOperaCacheDir->clear();
        QTest::keyClicks(frmSettings->edOperaCacheDir, QString::fromStdString(dir / "typed"));
        frmSettings->btnApply->click();
    });
    frmMain->btnSettings->click();
    EXPECT_EQ(frmMain->settings.Opera.cacheDir, dir / "typed");
}

TEST_F(FirstRunTest, AFolderThatIsNotThereIsToldApartFromAnEmptyCache) {
    fs::create_directories(dir / "empty-cache");
    Start(dir / "empty-cache");
    EXPECT_FALSE(frmMediaBrowser->lblCacheFolderState->isVisible()) << "an empty cache is no fault";
    EXPECT_TRUE(frmMediaBrowser->lvCachedFiles->isVisible());

    struct Case {
        std::string folder;
        const char* says;
    };
    WriteFile(dir / "a-file", "x");
    const Case cases[] = {
        {dir / "gone", "does not exist"},
        {dir / "a-file", "is not a folder"},
        {dir / "a-file/below", "does not exist"},
    };
    for (const auto& c : cases) {
        frmMain->ChooseCacheDir(c.folder);
        NoticeLine* line = frmMediaBrowser->lblCacheFolderState;
        EXPECT_TRUE(line->isVisible()) << c.folder;
        EXPECT_TRUE(line->Notice().contains(c.says)) << line->Notice().toStdString();
        EXPECT_TRUE(line->Notice().contains(QString::fromStdString(c.folder)));
        EXPECT_TRUE(frmMediaBrowser->lvCachedFiles->isVisible()) << "the list stays below it";
    }
    // Made meanwhile: the next rescan sees it.
    fs::create_directories(dir / "a-folder-later");
    frmMain->ChooseCacheDir(dir / "a-folder-later");
    EXPECT_FALSE(frmMediaBrowser->lblCacheFolderState->isVisible());
}

TEST_F(FirstRunTest, AFailedPlaybackLeavesThePlayersLineUntilTheNextRescan) {
    Start(dir / "empty");
    struct Case {
        const char* name;
        std::string script;
        const char* line;
    };
    const Case cases[] = {
        {"gone.flv",
         "out MPlayer 1.5 (C) 2000-2023 MPlayer Team\\n\n"
         "out Failed to open LIRC support. You will not be able to use your remote control.\\n\n"
         "out Playing gone.flv.\\n\nout File not found: 'gone.flv'\\n\n"
         "out Failed to open gone.flv.\\n\nout \\nExiting... (End of file)\\n\nexit 1\n",
         "Playback failed: File not found: 'gone.flv'"},
        {"noise.bin", "err Failed to recognize file format.\\r\\n\nsleep 20\nend\n",
         "Playback failed: Failed to recognize file format."},
        {"silent.bin", "out Playing silent.bin.\\n\nout Exiting... (End of file)\\n\nend\n",
         "Playback failed: The player found nothing it could play in the file."},
    };
    for (const auto& c : cases) {
        PlayScript(c.name, c.script);
        ASSERT_TRUE(Ended()) << c.name;
        EXPECT_EQ(frmMain->playState, psStopped);
        NoticeLine* line = frmMediaBrowser->lblPlaybackError;
        EXPECT_TRUE(QTest::qWaitFor([line] { return line->isVisible(); })) << c.name;
        EXPECT_EQ(line->Notice(), c.line);
    }
    // A rescan takes the line away.
    frmMediaBrowser->miRescanCacheDirectory->trigger();
    EXPECT_FALSE(frmMediaBrowser->lblPlaybackError->isVisible());

    // A file that played, or one the user stopped early, leaves no line.
    PlayScript("fine.flv", "out Starting playback...\\n\nend\n");
    ASSERT_TRUE(Ended());
    EXPECT_FALSE(frmMediaBrowser->lblPlaybackError->isVisible());
    const std::string script = PlayScript("stopped.flv", "sleep 30000\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(script + ".argv"); }, 10000));
    frmMain->btnStop->click();
    ASSERT_TRUE(Ended());
    EXPECT_FALSE(frmMediaBrowser->lblPlaybackError->isVisible());
}

TEST_F(FirstRunTest, APlayerThatCannotStartLeavesALineAndOneWarning) {
    // There, so it passes the check at start, but not a program.
    WriteFile(dir / "not-a-player", "just text");
    ::chmod((dir / "not-a-player").c_str(), 0644);
    Start(dir / "empty", dir / "not-a-player");
    EXPECT_TRUE(warnings.empty());
    PlayScript("any.flv", "end\n");
    EXPECT_EQ(frmMain->playState, psStopped);
    EXPECT_TRUE(frmMediaBrowser->lblPlaybackError->Notice().startsWith(
        "Playback failed: The player could not be started"))
        << frmMediaBrowser->lblPlaybackError->Notice().toStdString();
    EXPECT_TRUE(warnings.empty()) << "the window shows no box of its own for it";
}

TEST_F(FirstRunTest, AWrongPlayerPathWarnsOnceWithTheRightWords) {
    Start(dir / "empty", dir / "no-player-here");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "Failed to find mplayer instance. Check mplayer location.");
}

TEST_F(FirstRunTest, AFileWithSoundOnlySaysSoInTheWindow) {
    Start(dir / "empty");
    PlayScript("tone.mp3",
               "out Playing tone.mp3.\\n\nout Audio only file format detected.\\n\n"
               "out Video: no video\\n\nout Starting playback...\\n\n");
    QWidget* note = frmMain->findChild<AudioOnlyNote*>();
    ASSERT_NE(note, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([note] { return note->isVisible(); }, 10000));
    auto* label = static_cast<QLabel*>(note);
    EXPECT_TRUE(label->text().contains("no picture")) << label->text().toStdString();
    EXPECT_TRUE(label->text().contains("tone.mp3"));
    EXPECT_TRUE(frmMain->rect().contains(note->geometry()));

    frmMain->btnStop->click();
    ASSERT_TRUE(Ended());
    EXPECT_FALSE(note->isVisible());
    EXPECT_FALSE(frmMediaBrowser->lblPlaybackError->isVisible());

    // A file with a picture shows no note.
    PlayScript("video.flv", "out Starting playback...\\n\nsleep 200\nend\n");
    ASSERT_TRUE(Ended());
    EXPECT_FALSE(note->isVisible());
}

}  // namespace
