#include "app/FormMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>

#include "about/FormAbout.h"
#include "app/AudioOnlyNote.h"
#include "app/ControlIcons.h"
#include "app/SeekBar.h"
#include "app/VideoSurface.h"
#include "app/WindowDragger.h"
#include "browser/CopyWithProgress.h"
#include "browser/FormMediaBrowser.h"
#include "log/Log.h"
#include "log/LogUnit.h"
#include "platform/NativeWindow.h"
#include "player/Mplayer.h"
#include "player/PlaybackTime.h"
#include "settings/FormSettings.h"

TfrmMain* frmMain = nullptr;

namespace {

constexpr int kControlHeight = 35;
constexpr int kControlRightWidth = 145;
// The controls that only a loaded file has, between Stop and the right-hand group.
constexpr int kNeighbourLeft = 100;
constexpr int kNeighbourWidth = 26;
constexpr int kSeekBarLeft = kNeighbourLeft + 2 * kNeighbourWidth + 4;
// Narrower than this, the bar takes the neighbour buttons' room: the time and a groove
// long enough to aim at are worth more than two buttons whose keys stay.
constexpr int kSeekBarMinWidth = 110;
constexpr int kResumedNoteMs = 4000;

// Qt's key codes for the keys the window acts on; letters arrive upper-case whatever the
// modifiers and Caps Lock, so F and O need no case folding.
bool IsEnter(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// The exact bytes of a dropped local file: decoding the URL into a QString would lose a
// name that is not valid UTF-8.
std::string LocalPathBytes(const QUrl& url) {
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

}  // namespace

TfrmMain::TfrmMain(AppFiles appFiles, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), files(std::move(appFiles)) {
    setObjectName("frmMain");
    setMinimumSize(256, 120);
    setAcceptDrops(true);
    ShowWarning = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
    BuildControls();
    dragger = new WindowDragger(this);
    FormCreate();
}

TfrmMain::~TfrmMain() {
    // The stop notification must never reach a window that is gone.
    mplayer.OnStop = nullptr;
    mplayer.OnAudioOnly = nullptr;
    mplayer.RunPreparation = nullptr;
    CLog::DestroyInstance();
}

QToolButton* TfrmMain::MakeButton(QWidget* parent, const QRect& geometry, const QString& hint,
                                  int glyph, bool checkable) {
    auto* button = new QToolButton(parent);
    button->setGeometry(geometry);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    button->setCheckable(checkable);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(ControlIcons::Make(static_cast<ControlIcons::Glyph>(glyph)));
    button->setIconSize(QSize(20, 20));
    // A press the button ignores (right, middle) must not reach the bar as a press on
    // its free area: a right click on Play would resume a paused file with "osd".
    button->setAttribute(Qt::WA_NoMousePropagation);
    return button;
}

void TfrmMain::BuildControls() {
    pnlVideoFrame = new VideoFrame(this, kBackgroundColor);
    pnlVideoFrame->installEventFilter(this);
    pnlVideoFrame->hide();
    pnlVideo = pnlVideoFrame->Surface();
    pnlVideo->installEventFilter(this);
    lblAudioOnly = new AudioOnlyNote(this);

    // The bar is a native window of its own so that it stays above the player's video.
    pnlControl = new QFrame(this);
    pnlControl->setObjectName("pnlControl");
    pnlControl->setAttribute(Qt::WA_NativeWindow);
    pnlControl->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnlControl->setAutoFillBackground(true);
    pnlControl->installEventFilter(this);

    pnlControlRight = new QFrame(pnlControl);
    pnlControlRight->setObjectName("pnlControlRight");
    // Only the bar's own free area drags the window, not the right-hand group's.
    pnlControlRight->setAttribute(Qt::WA_NoMousePropagation);

    using ControlIcons::Glyph;
    btnPlay = MakeButton(pnlControl, {3, 2, 31, 30}, "Play", int(Glyph::Play), true);
    btnPauseStill =
        MakeButton(pnlControl, {36, 2, 31, 30}, "Pause/Still", int(Glyph::PauseStill), true);
    btnStop = MakeButton(pnlControl, {68, 2, 30, 30}, "Stop", int(Glyph::Stop), false);
    btnSettings =
        MakeButton(pnlControlRight, {14, 2, 30, 30}, "Configuration", int(Glyph::Settings), false);
    btnMinimize =
        MakeButton(pnlControlRight, {46, 2, 30, 30}, "Minimize", int(Glyph::Minimize), false);
    btnFullscreen =
        MakeButton(pnlControlRight, {79, 2, 30, 30}, "Fullscreen", int(Glyph::Fullscreen), true);
    btnClose = MakeButton(pnlControlRight, {112, 2, 30, 30}, "Exit", int(Glyph::Close), false);
    btnPlay->setObjectName("btnPlay");
    btnPauseStill->setObjectName("btnPauseStill");
    btnStop->setObjectName("btnStop");
    btnSettings->setObjectName("btnSettings");
    btnMinimize->setObjectName("btnMinimize");
    btnFullscreen->setObjectName("btnFullscreen");
    btnClose->setObjectName("btnClose");
    btnPrevious = MakeButton(pnlControl, {kNeighbourLeft, 2, kNeighbourWidth, 30},
                             "Previous file (Page Up)", int(Glyph::Previous), false);
    btnNext = MakeButton(pnlControl, {kNeighbourLeft + kNeighbourWidth, 2, kNeighbourWidth, 30},
                         "Next file (Page Down)", int(Glyph::Next), false);
    btnPrevious->setObjectName("btnPrevious");
    btnNext->setObjectName("btnNext");
    seekBar = new SeekBar(pnlControl);
    lblResumed = new QLabel(this);
    lblResumed->setObjectName("lblResumed");
    // Above the player's window, which is native too.
    lblResumed->setAttribute(Qt::WA_NativeWindow);
    lblResumed->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblResumed->setMargin(6);
    lblResumed->setStyleSheet("QLabel { background: #202020; color: #e8e8e8; }");
    lblResumed->hide();
    tmrResumed = new QTimer(this);
    tmrResumed->setSingleShot(true);
    tmrResumed->setInterval(kResumedNoteMs);
    connect(tmrResumed, &QTimer::timeout, lblResumed, &QWidget::hide);
    ShowLoadedControls(false);

    connect(btnPlay, &QToolButton::clicked, this, &TfrmMain::btnPlayClick);
    connect(btnPauseStill, &QToolButton::clicked, this, &TfrmMain::btnPauseStillClick);
    connect(btnStop, &QToolButton::clicked, this, &TfrmMain::btnStopClick);
    connect(btnSettings, &QToolButton::clicked, this, &TfrmMain::btnSettingsClick);
    connect(btnMinimize, &QToolButton::clicked, this, &TfrmMain::btnMinimizeClick);
    connect(btnFullscreen, &QToolButton::clicked, this, &TfrmMain::btnFullscreenClick);
    connect(btnClose, &QToolButton::clicked, this, &TfrmMain::btnCloseClick);
    connect(btnPrevious, &QToolButton::clicked, this, [this] { PlayNeighbour(-1); });
    connect(btnNext, &QToolButton::clicked, this, [this] { PlayNeighbour(1); });

    tmrShowControl = new QTimer(this);
    tmrShowControl->setInterval(500);
    connect(tmrShowControl, &QTimer::timeout, this, &TfrmMain::tmrShowControlTimer);
    tmrCursorHide = new QTimer(this);
    tmrCursorHide->setInterval(3000);
    connect(tmrCursorHide, &QTimer::timeout, this, &TfrmMain::tmrCursorHideTimer);
}

void TfrmMain::LayoutChildren() {
    const int w = width();
    const int h = height();
    pnlVideoFrame->setGeometry(0, 0, w, h);
    pnlControl->setGeometry(0, h - kControlHeight, w, kControlHeight);
    pnlControlRight->setGeometry(w - kControlRightWidth, 0, kControlRightWidth, kControlHeight);
    LayoutLoadedControls();
    if (frmMediaBrowser && frmMediaBrowser->parentWidget() == this) {
        frmMediaBrowser->setGeometry(0, 0, w, std::max(0, h - kControlHeight));
    }
}

// The background is painted rather than put in the palette, which the docked browser and
// the control bar would otherwise inherit.
void TfrmMain::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), QColor::fromRgb(kBackgroundColor));
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutChildren();
}

void TfrmMain::FormCreate() {
    settings.Read(files.settingsPath);
    normalGeometry =
        QRect(settings.appPositionX, settings.appPositionY, settings.appWidth, settings.appHeight);
    setGeometry(normalGeometry);
    // Before the first show, so that the window is made above the others.
    SetAlwaysOnTop(settings.alwaysOnTop);
    if (settings.maximized) {
        // Started in full screen: the button, the cursor timer and the stored bounds are
        // left alone, so leaving returns to the bounds just read.
        EnterFullScreenGeometry();
    }
    CLog::Instance()->SetLogFile(settings.logToFile ? files.logPath : std::string());
    setWindowTitle(QApplication::applicationDisplayName());
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The window system's own show events (a restore after Minimize) are no new show.
    if (!event->spontaneous()) {
        FormShow();
    }
}

void TfrmMain::FormShow() {
    if (!wired) {
        wired = true;
        showing = true;
        frmLog->maxLines = settings.maxUiLogLines;
        CLog::Instance()->OnLog = [](const char* line) { frmLog->OnLogLine(line); };
        frmMediaBrowser->setParent(this, Qt::Widget);
        // Docked, it would show our dark background beside its tabs.
        frmMediaBrowser->setAutoFillBackground(true);
        frmMediaBrowser->OnPlay = [this] { OnMediaBrowserPlay(); };
        frmMediaBrowser->SetThumbnailView(settings.browserThumbnails);
        mplayer.OnStop = [this] { OnPlayerStop(); };
        // A long stream is joined, or a large pieced file rebuilt, while the window goes on
        // answering; the user can give up on it.
        mplayer.RunPreparation = [this](const MPlayer::Preparation& prepare) {
            const platform::CopyResult result = RunWithProgress(
                this, windowTitle(), QStringLiteral("Putting the video together..."),
                [&prepare](const platform::CopyProgress& progress) {
                    const bool done = prepare([&](std::uint64_t part, std::uint64_t whole) {
                        return progress(static_cast<std::int64_t>(part),
                                        static_cast<std::int64_t>(whole));
                    });
                    return platform::CopyResult{
                        done ? platform::CopyStatus::Copied : platform::CopyStatus::Failed, {}};
                });
            return result.status == platform::CopyStatus::Copied;
        };
        mplayer.OnPictureSize = [this](int width, int height) {
            pnlVideoFrame->SetPictureSize(QSize(width, height));
        };
        mplayer.OnAudioOnly = [this] {
            // Nothing is drawn into the video window: the window's own area shows the note.
            pnlVideo->hide();
            lblAudioOnly->ShowFor(playingFile);
            pnlControl->raise();
        };
        frmMediaBrowser->OnChooseCacheDir = [this](const std::string& folder) {
            ChooseCacheDir(folder);
        };
        // Keys and the wheel are seen here before the focused control gets them.
        for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(pnlVideo),
                           static_cast<QWidget*>(pnlControl)}) {
            if (QWindow* handle = w->windowHandle()) {
                handle->installEventFilter(this);
            }
        }
        LayoutChildren();
        platform::SetNativeWindowBackground(pnlVideo->winId(), kBackgroundColor);
        ApplySettings();
        ShowMediaBrowser(true, false);
        showing = false;
        if (terminating) {
            // Asked to end while the first show was waiting for the missing player's
            // warning: closed once the show is complete, or the window would be shown
            // again after its close.
            QTimer::singleShot(0, this, &QWidget::close);
            return;
        }
        if (!commandLineFile.empty()) {
            OpenFile(commandLineFile);
        }
    }
    CLog::Instance()->Log("Application started");
}

void TfrmMain::Terminate() {
    terminating = true;
    if (!showing) {
        close();
    }
}

void TfrmMain::SetAlwaysOnTop(bool onTop) {
    if (onTop == alwaysOnTop) {
        return;
    }
    alwaysOnTop = onTop;
    if (!testAttribute(Qt::WA_WState_Created)) {
        // No native window yet: it is made with the hint.
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        return;
    }
    // Changing Qt's flag on a native window makes Qt destroy and recreate it at its next
    // show, and with it the child the player draws into: it is changed beside Qt.
    platform::SetNativeWindowAbove(winId(), onTop);
}

void TfrmMain::ApplySettings() {
    SetAlwaysOnTop(settings.alwaysOnTop);
    if (mplayer.Init(pnlVideo->winId(), kBackgroundColor, settings.Mplayer.instance) != 0 &&
        !terminating) {
        ShowWarning(QStringLiteral("Failed to find mplayer instance. Check %1 location.")
                        .arg(QString::fromLatin1(Settings::kDefaultInstance)));
    }
    frmMediaBrowser->SetCacheOptions(settings.Opera.cacheDir, settings.Opera.minimalFileSize,
                                     settings.Opera.useOnlyG_XXXX);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void TfrmMain::FormCloseQuery() {
    LeavePlayingEntry();
    mplayer.Stop(true);
    settings.maximized = false;
    if (frmMediaBrowser) {
        settings.browserThumbnails = frmMediaBrowser->ThumbnailView();
    }
    if (!fullScreen) {
        const QRect frame = frameGeometry();
        settings.appWidth = frame.width();
        settings.appHeight = frame.height();
        settings.appPositionY = frame.top();
        settings.appPositionX = frame.left();
    }
    settings.Write(files.settingsPath);
}

void TfrmMain::actShowAboutExecute() {
    frmAbout->exec();
}

void TfrmMain::actShowLogExecute() {
    if (!frmLog->isVisible()) {
        frmLog->show();
    }
    frmLog->raise();
    frmLog->activateWindow();
}

void TfrmMain::SetPlayState(PlayState state) {
    playState = state;
    // The worker reading media facts would take disk and processor from the player.
    frmMediaBrowser->PauseFacts(state != psStopped);
    switch (state) {
        case psStopped:
            btnPlay->setChecked(false);
            btnPauseStill->setChecked(false);
            ShowMediaBrowser(true, true);
            break;
        case psPlaying:
            btnPlay->setChecked(true);
            btnPauseStill->setChecked(false);
            ShowMediaBrowser(false, false);
            break;
        case psPaused:
            btnPlay->setChecked(false);
            btnPauseStill->setChecked(true);
            break;
    }
}

void TfrmMain::ShowMediaBrowser(bool show, bool rescan) {
    if (show) {
        // The video window is native and would cover the browser; it goes while nothing
        // plays and comes back with the next file.
        pnlVideoFrame->hide();
        lblAudioOnly->hide();
        frmMediaBrowser->show();
        if (rescan) {
            frmMediaBrowser->Rescan();
        }
        controlBarAutoHide = false;
        ShowLoadedControls(false);
        tmrShowControl->stop();
        pnlControl->show();
        pnlControl->raise();
        frmMediaBrowser->FocusFileControl();
    } else {
        // Qt keeps the focus in a hidden panel when nothing else takes it; its list, Other
        // field and "..." button would then act on the keys meant for the player. The
        // window's own focus widget counts, being the one it gets back when activated.
        QWidget* focused = focusWidget();
        frmMediaBrowser->hide();
        if (focused != nullptr && frmMediaBrowser->isAncestorOf(focused)) {
            setFocus(Qt::OtherFocusReason);
        }
        lblAudioOnly->hide();
        pnlVideo->show();
        pnlVideoFrame->show();
        pnlVideoFrame->lower();
        pnlControl->raise();
        ShowLoadedControls(true);
        controlBarAutoHide = true;
    }
}

void TfrmMain::Play() {
    switch (playState) {
        case psStopped: {
            // The entry itself goes on: where its body lies was found by the scan.
            cache::Entry entry;
            if (!frmMediaBrowser->GetSelectedEntry(entry)) {
                btnPlay->setChecked(false);
                return;
            }
            StartEntry(entry);
            break;
        }
        case psPaused:
            mplayer.Pause();
            SetPlayState(psPlaying);
            break;
        case psPlaying:
            break;
    }
}

void TfrmMain::StartEntry(const cache::Entry& entry) {
    // Until the player tells the new picture's size, its window fills the frame.
    pnlVideoFrame->SetPictureSize(QSize());
    // An earlier file's failure says nothing about this one.
    frmMediaBrowser->ShowPlaybackError({});
    SetPlayState(psPlaying);
    playingFile = entry.file;
    if (!resumePointsRead) {
        resumePointsRead = true;
        resumePoints.Load(ResumePoints::DefaultPath());
    }
    playingIdentified = platform::StatFile(entry.file, playingIdentity);
    const double resumeAt = playingIdentified ? resumePoints.Find(playingIdentity) : 0;
    seekBar->Begin(entry, resumeAt);
    lblResumed->hide();
    if (mplayer.Play(entry) != 0 || resumeAt <= 0 || mplayer.SeekTo(resumeAt) != 0) {
        return;
    }
    const std::string at = playback::ClockText(resumeAt, false);
    lblResumed->setText(QStringLiteral("Resumed at %1").arg(QString::fromLatin1(at.c_str())));
    lblResumed->adjustSize();
    lblResumed->move(8, 8);
    lblResumed->show();
    lblResumed->raise();
    tmrResumed->start();
}

void TfrmMain::LeavePlayingEntry() {
    if (!playingIdentified) {
        return;
    }
    playingIdentified = false;
    seekBar->End();
    lblResumed->hide();
    const bool changed =
        mplayer.ReachedEnd()
            ? resumePoints.Forget(playingIdentity)
            : resumePoints.Leave(playingIdentity, seekBar->Position(), seekBar->Length());
    if (changed) {
        resumePoints.Save(ResumePoints::DefaultPath());
    }
}

void TfrmMain::ShowLoadedControls(bool loaded) {
    seekBar->setVisible(loaded);
    LayoutLoadedControls();
}

void TfrmMain::LayoutLoadedControls() {
    const int right = width() - kControlRightWidth - 2;
    const bool neighbours = !seekBar->isHidden() && right - kSeekBarLeft >= kSeekBarMinWidth;
    btnPrevious->setVisible(neighbours);
    btnNext->setVisible(neighbours);
    const int left = neighbours ? kSeekBarLeft : kNeighbourLeft;
    seekBar->setGeometry(left, 2, std::max(0, right - left), 30);
}

void TfrmMain::PlayNeighbour(int step) {
    if (playState == psStopped || !frmMediaBrowser->SelectNeighbour(step)) {
        return;
    }
    cache::Entry entry;
    if (!frmMediaBrowser->GetSelectedEntry(entry)) {
        return;
    }
    LeavePlayingEntry();
    // The list stays where it is: the next file follows straight on.
    mplayer.Stop(false);
    StartEntry(entry);
}

void TfrmMain::TogglePause() {
    SetPlayState(playState == psPlaying ? psPaused : psPlaying);
    mplayer.Pause();
}

void TfrmMain::OpenFile(std::string path) {
    frmMediaBrowser->SetOtherFile(path, true);
    LeavePlayingEntry();
    mplayer.Stop(false);
    SetPlayState(psStopped);
    Play();
}

void TfrmMain::OnMediaBrowserPlay() {
    Play();
}

void TfrmMain::OnPlayerStop() {
    LeavePlayingEntry();
    if (settings.exitFullScreenOnStop && fullScreen) {
        ToggleFullScreen();
    }
    SetPlayState(psStopped);
    // After the rescan, which clears the line of an earlier failure.
    frmMediaBrowser->ShowPlaybackError(mplayer.FailureLine());
}

void TfrmMain::ChooseCacheDir(const std::string& folder) {
    settings.Opera.cacheDir = folder;
    frmMediaBrowser->SetCacheOptions(settings.Opera.cacheDir, settings.Opera.minimalFileSize,
                                     settings.Opera.useOnlyG_XXXX);
    frmMediaBrowser->FocusFileControl();
}

void TfrmMain::EnterFullScreenGeometry() {
    fullScreen = true;
    dragger->SetResizable(false);
    QScreen* target = screen() ? screen() : QGuiApplication::primaryScreen();
    // Covering the screen by geometry works with any window manager, and without one.
    setGeometry(target->geometry());
}

void TfrmMain::ToggleFullScreen() {
    if (fullScreen) {
        fullScreen = false;
        dragger->SetResizable(true);
        setGeometry(normalGeometry);
        tmrCursorHide->stop();
        SetVideoCursorHidden(false);
        btnFullscreen->setChecked(false);
        return;
    }
    const QRect frame = frameGeometry();
    settings.appWidth = frame.width();
    settings.appHeight = frame.height();
    settings.appPositionY = frame.top();
    settings.appPositionX = frame.left();
    normalGeometry = geometry();
    EnterFullScreenGeometry();
    tmrCursorHide->start();
    btnFullscreen->setChecked(true);
}

void TfrmMain::SetVideoCursorHidden(bool hidden) {
    cursorHidden = hidden;
    // Over the video only: the bar and the docked browser keep their cursor.
    if (hidden) {
        pnlVideoFrame->setCursor(Qt::BlankCursor);
    } else {
        pnlVideoFrame->unsetCursor();
    }
}

// ---- control bar, keyboard and mouse ----

bool TfrmMain::InControlZone(const QPoint& clientPos) const {
    const QRect frame = frameGeometry();
    return clientPos.y() >= frame.height() - kControlHeight && clientPos.y() < frame.height() &&
           clientPos.x() >= 0 && clientPos.x() < frame.width();
}

namespace {

// The real player resumes playback on these commands; the window follows it.
void FollowResume(TfrmMain& window, int result) {
    if (result == 0 && window.playState == psPaused) {
        window.SetPlayState(psPlaying);
    }
}

}  // namespace

void TfrmMain::FormKeyDown(int key) {
    if (key == Qt::Key_Escape && playState == psStopped && frmMediaBrowser &&
        frmMediaBrowser->ClearFilter()) {
        return;  // the first Esc in a filled filter field is the field's
    }
    if (key == Qt::Key_Escape) {
        if (fullScreen) {
            ToggleFullScreen();
        } else {
            close();
        }
        return;
    }
    if (key == Qt::Key_F1) {
        // Nothing else in the window leads to the about box. Shown once the key has
        // been delivered, not from inside its delivery.
        QTimer::singleShot(0, this, &TfrmMain::actShowAboutExecute);
        return;
    }
    if (playState == psStopped) {
        return;
    }
    if (IsEnter(key)) {
        mplayer.Stop(true);
        return;
    }
    switch (key) {
        case Qt::Key_PageDown:
            PlayNeighbour(1);
            break;
        case Qt::Key_PageUp:
            PlayNeighbour(-1);
            break;
        case Qt::Key_Space:
            TogglePause();
            break;
        case Qt::Key_Left:
            FollowResume(*this, mplayer.Seek(-3));
            break;
        case Qt::Key_Up:
            FollowResume(*this, mplayer.Seek(60));
            break;
        case Qt::Key_Right:
            FollowResume(*this, mplayer.Seek(3));
            break;
        case Qt::Key_Down:
            FollowResume(*this, mplayer.Seek(-60));
            break;
        case Qt::Key_F:
            ToggleFullScreen();
            break;
        case Qt::Key_O:
            FollowResume(*this, mplayer.Osd());
            break;
        default:
            break;
    }
}

void TfrmMain::FormMouseWheel(int delta) {
    FollowResume(*this, mplayer.ChangeVolume(delta > 0 ? 1 : -1));
}

void TfrmMain::pnlDragWindow(Qt::MouseButton button, const QPoint& globalPos) {
    if (button == Qt::LeftButton) {
        if (!fullScreen) {  // full screen stays where it is
            dragger->BeginMove(globalPos);
        }
    } else if (button == Qt::RightButton) {
        FollowResume(*this, mplayer.Osd());
    }
}

void TfrmMain::pnlVideoMouseMove() {
    const QPoint client = mapFromGlobal(QCursor::pos());
    if (!pnlControl->isVisible() && !InControlZone(client)) {
        tmrShowControl->start();  // restart: a full interval from now
    }
    if (!tmrShowControl->isActive()) {
        tmrShowControl->start();
    }
    if (cursorHidden) {
        tmrCursorHide->start();
        SetVideoCursorHidden(false);
    }
}

void TfrmMain::pnlControlMouseLeave() {
    tmrShowControl->start();
}

void TfrmMain::tmrShowControlTimer() {
    const bool inZone = InControlZone(mapFromGlobal(QCursor::pos()));
    if (!pnlControl->isVisible() && inZone) {
        pnlControl->show();
        pnlControl->raise();
    } else if (pnlControl->isVisible() && !inZone && controlBarAutoHide) {
        pnlControl->hide();
    }
}

void TfrmMain::tmrCursorHideTimer() {
    if (!cursorHidden) {
        SetVideoCursorHidden(true);
    }
}

void TfrmMain::btnPlayClick() {
    if (btnPlay->isChecked()) {
        Play();
    } else {
        btnPlay->setChecked(true);
    }
}

void TfrmMain::btnPauseStillClick() {
    switch (playState) {
        case psPlaying:
            TogglePause();
            break;
        case psPaused:
            mplayer.FrameStep();
            SetPlayState(psPaused);
            break;
        case psStopped:
            btnPauseStill->setChecked(false);
            break;
    }
}

void TfrmMain::btnStopClick() {
    LeavePlayingEntry();
    SetPlayState(psStopped);
    mplayer.Stop(true);
}

void TfrmMain::btnSettingsClick() {
    frmSettings->appSettings = &settings;
    frmSettings->exec();
    ApplySettings();
}

void TfrmMain::btnMinimizeClick() {
    showMinimized();
}

void TfrmMain::btnFullscreenClick() {
    ToggleFullScreen();
}

void TfrmMain::btnCloseClick() {
    close();
}

void TfrmMain::mousePressEvent(QMouseEvent* event) {
    pnlDragWindow(event->button(), event->globalPosition().toPoint());
}

void TfrmMain::mouseMoveEvent(QMouseEvent*) {
    pnlVideoMouseMove();
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            return;
        }
    }
}

void TfrmMain::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) {
        return;
    }
    event->acceptProposedAction();
    OpenFile(LocalPathBytes(urls.first()));
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
            if (qobject_cast<QWindow*>(watched)) {
                FormKeyDown(static_cast<QKeyEvent*>(event)->key());
            }
            break;
        case QEvent::Wheel:
            if (qobject_cast<QWindow*>(watched)) {
                auto* wheel = static_cast<QWheelEvent*>(event);
                // Over the time line the wheel moves in time: the bar has it.
                if (watched == pnlControl->windowHandle() && seekBar->isVisible() &&
                    seekBar->geometry().contains(wheel->position().toPoint())) {
                    break;
                }
                // With Alt held the window system reports the turn as a sideways one.
                const QPoint angle = wheel->angleDelta();
                FormMouseWheel(angle.y() != 0 ? angle.y() : angle.x());
            }
            break;
        // Handled here and kept from the children's parent, this window, whose own
        // handlers would otherwise run a second time (two "osd" for one right click).
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (watched == pnlVideo || watched == pnlVideoFrame || watched == pnlControl) {
                pnlDragWindow(mouse->button(), mouse->globalPosition().toPoint());
                return true;
            }
            break;
        }
        case QEvent::MouseMove:
            if (watched == pnlVideo || watched == pnlVideoFrame) {
                pnlVideoMouseMove();
                return true;
            }
            break;
        case QEvent::Leave:
            if (watched == pnlControl) {
                pnlControlMouseLeave();
            }
            break;
        default:
            break;
    }
    return false;
}
