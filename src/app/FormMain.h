#pragma once

#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/ReadOnlyFile.h"
#include "player/ResumePoints.h"
#include "settings/Settings.h"

namespace cache {
struct Entry;
}

class AudioOnlyNote;
class QFrame;
class QLabel;
class SeekBar;
class QTimer;
class QToolButton;
class QMouseEvent;
class VideoFrame;
class VideoSurface;
class WindowDragger;

enum PlayState : std::int8_t { psStopped = 0, psPlaying = 1, psPaused = 2 };

// Where the main window keeps its files; the program puts them beside the executable.
struct AppFiles {
    std::string settingsPath;
    std::string logPath;
};

// The borderless main window: the media browser docked above the control bar while
// nothing plays, the player's video filling the client area while a file is loaded.
class TfrmMain : public QWidget {
    Q_OBJECT
  public:
    // Runs FormCreate: reads the settings, places the window, chooses the log file.
    TfrmMain(AppFiles files, QWidget* parent = nullptr);
    // FormDestroy: the logger goes with the main window.
    ~TfrmMain() override;

    static constexpr std::uint32_t kBackgroundColor = 0x010101;

    void ApplySettings();
    void SetPlayState(PlayState state);
    void ShowMediaBrowser(bool show, bool rescan);
    void Play();
    void TogglePause();
    void ToggleFullScreen();
    void OpenFile(std::string path);
    void OnMediaBrowserPlay();
    void OnPlayerStop();
    // Plays the row `step` rows from the playing one in the list's order, straight from
    // the video; nothing happens past either end or while nothing plays.
    void PlayNeighbour(int step);
    // One of the caches found was picked in the media browser while no cache folder was
    // set: it becomes the cache folder as an Apply in the settings dialog would make it.
    void ChooseCacheDir(const std::string& folder);
    void actShowAboutExecute();
    void actShowLogExecute();

    bool IsFullScreen() const { return fullScreen; }
    // Ends the program as a close of the window does, once no first show is under way.
    void Terminate();
    // The file named on the command line, played at the first show.
    void SetCommandLineFile(std::string path) { commandLineFile = std::move(path); }

    Settings settings;
    bool controlBarAutoHide = true;
    PlayState playState = psStopped;

    // Widgets the control bar's handlers and the tests reach by name.
    QFrame* pnlControl = nullptr;
    QFrame* pnlControlRight = nullptr;
    QToolButton* btnPlay = nullptr;
    QToolButton* btnPauseStill = nullptr;
    QToolButton* btnStop = nullptr;
    QToolButton* btnSettings = nullptr;
    QToolButton* btnMinimize = nullptr;
    QToolButton* btnFullscreen = nullptr;
    QToolButton* btnClose = nullptr;
    // While a file is loaded: the previous and next rows, and the time line.
    QToolButton* btnPrevious = nullptr;
    QToolButton* btnNext = nullptr;
    SeekBar* seekBar = nullptr;
    // "Resumed at 1:23" over the video for a moment after a file starts where it was left.
    QLabel* lblResumed = nullptr;
    QTimer* tmrShowControl = nullptr;
    QTimer* tmrCursorHide = nullptr;
    // The video's area, and in it the player's window at the picture's aspect.
    VideoFrame* pnlVideoFrame = nullptr;
    VideoSurface* pnlVideo = nullptr;
    AudioOnlyNote* lblAudioOnly = nullptr;

    // Key and wheel handling, seen before the focused control and never consuming.
    void FormKeyDown(int key);
    void FormMouseWheel(int delta);
    void pnlDragWindow(Qt::MouseButton button, const QPoint& globalPos);
    void pnlVideoMouseMove();
    void pnlControlMouseLeave();
    void tmrShowControlTimer();
    void tmrCursorHideTimer();
    // The control bar zone of a point in client coordinates.
    bool InControlZone(const QPoint& clientPos) const;

    void btnPlayClick();
    void btnPauseStillClick();
    void btnStopClick();
    void btnSettingsClick();
    void btnMinimizeClick();
    void btnFullscreenClick();
    void btnCloseClick();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    QToolButton* MakeButton(QWidget* parent, const QRect& geometry, const QString& hint, int glyph,
                            bool checkable);
    void FormCreate();
    void FormShow();
    void FormCloseQuery();
    void LayoutChildren();
    void SetAlwaysOnTop(bool onTop);
    void EnterFullScreenGeometry();
    void SetVideoCursorHidden(bool hidden);
    void StartEntry(const cache::Entry& entry);
    // Remembers where the file playing was left, or forgets it at its end.
    void LeavePlayingEntry();
    void ShowLoadedControls(bool loaded);
    void LayoutLoadedControls();

    // Shows the warning about a missing player; tests replace it to avoid a modal box.
  public:
    std::function<void(const QString& text)> ShowWarning;

  private:
    AppFiles files;
    std::string commandLineFile;
    std::string playingFile;
    bool wired = false;  // the first show's one-time wiring
    bool fullScreen = false;
    bool alwaysOnTop = false;  // what the window system was asked for
    bool showing = false;      // inside the first show, which may wait for a warning
    bool terminating = false;
    bool cursorHidden = false;
    QRect normalGeometry;
    WindowDragger* dragger = nullptr;
    ResumePoints resumePoints;
    bool resumePointsRead = false;
    bool playingIdentified = false;
    platform::FileIdentity playingIdentity;
    QTimer* tmrResumed = nullptr;
};

extern TfrmMain* frmMain;
