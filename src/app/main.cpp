#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <clocale>
#include <exception>

#include "app/FormMain.h"
#include "app/ProgramWindows.h"
#include "app/QtSynchronize.h"
#include "app/ScreenSizeProvider.h"
#include "cache/Rebuild.h"
#include "platform/ExecutableFiles.h"
#include "platform/TerminationSignals.h"

namespace {

// The player draws into an X11 window given by id, so under Wayland we run on XWayland.
void PreferX11UnderWayland() {
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
}

// SIGTERM, SIGINT and SIGHUP close the main window the normal way: player stopped,
// settings written. Modal dialogs go first, or the close would wait for them.
void CloseOnTerminationSignals(QObject* owner) {
    const int fd = platform::WatchTerminationSignals();
    if (fd < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [fd] {
        platform::DrainTerminationSignals(fd);
        while (QWidget* modal = QApplication::activeModalWidget()) {
            if (!modal->close()) {
                break;  // it refuses: the main window's close below still asks
            }
        }
        if (frmMain) {
            frmMain->Terminate();
        }
    });
}

void ShowExceptionReport(const QString& text) {
    QMessageBox::critical(nullptr, QApplication::applicationDisplayName(), text);
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
    // Bodies rebuilt for a run that crashed are of no use to anyone.
    cache::SweepTemporaryBodies();
    try {
        CreateProgramWindows({platform::SettingsFilePath(), platform::LogFilePath()});
        // Exactly one parameter names a file to play; none or several play nothing.
        if (argc == 2) {
            frmMain->SetCommandLineFile(argv[1]);
        }
        CloseOnTerminationSignals(&app);
        frmMain->show();
        QApplication::exec();
    } catch (const std::exception& e) {
        ShowExceptionReport(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowExceptionReport(QString());
    }
    DestroyProgramWindows();
    return 0;
}
