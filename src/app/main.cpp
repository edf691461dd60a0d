#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <chrono>
#include <clocale>
#include <exception>

#include "about/FormAbout.h"
#include "app/FormMain.h"
#include "app/QtSynchronize.h"
#include "app/ScreenSizeProvider.h"
#include "browser/FormMediaBrowser.h"
#include "log/LogUnit.h"
#include "platform/ExecutableFiles.h"
#include "platform/TerminationSignals.h"
#include "platform/Thread.h"
#include "player/Mplayer.h"
#include "settings/FormSettings.h"

namespace {

// The player draws into an X11 window given by id, so under Wayland we run on XWayland.
void PreferX11UnderWayland() {
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
}

// SIGTERM and SIGINT close the main window the normal way: player stopped, settings
// written. Modal dialogs go first, or the close would wait for them.
void CloseOnTerminationSignals(QObject* owner) {
    const int fd = platform::WatchTerminationSignals();
    if (fd < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [fd] {
        platform::DrainTerminationSignals(fd);
        while (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
        if (frmMain) {
            frmMain->close();
        }
    });
}

void ShowExceptionReport(const QString& text) {
    QMessageBox::critical(nullptr, QApplication::applicationDisplayName(), text);
}

void CreateWindows(int argc, char* argv[]) {
    frmMain = new TfrmMain({platform::SettingsFilePath(), platform::LogFilePath()});
    frmSettings = new TfrmSettings(frmMain);
    frmAbout = new TfrmAbout(frmMain);
    frmLog = new TfrmLog();
    frmSettings->logWindow = frmLog;
    frmMediaBrowser = new TfrmMediaBrowser();
    // Exactly one parameter names a file to play; none or several play nothing.
    if (argc == 2) {
        frmMain->SetCommandLineFile(argv[1]);
    }
}

// After the event loop: no player outlives the program, no worker thread outlives main(),
// and the log window outlives every thread that could still log into it.
void DestroyWindows() {
    using std::chrono::milliseconds;
    mplayer.Shutdown(milliseconds(3000));
    platform::WaitForThreads(milliseconds(2000));
    if (frmMediaBrowser && frmMediaBrowser->parentWidget() == nullptr) {
        delete frmMediaBrowser;  // never docked: the main window does not own it
    }
    delete frmMain;  // takes its children: the docked browser, the dialogs
    delete frmLog;
    frmMain = nullptr;
    frmSettings = nullptr;
    frmAbout = nullptr;
    frmMediaBrowser = nullptr;
    frmLog = nullptr;
}

}  // namespace

int main(int argc, char* argv[]) {
    // The scanner sorts names by the user's collation.
    std::setlocale(LC_ALL, "");
    PreferX11UnderWayland();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Reelvault");
    InstallScreenSizeProvider();
    InstallQtSynchronize();
    try {
        CreateWindows(argc, argv);
        CloseOnTerminationSignals(&app);
        frmMain->show();
        QApplication::exec();
    } catch (const std::exception& e) {
        ShowExceptionReport(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowExceptionReport(QString());
    }
    DestroyWindows();
    return 0;
}
