#include "app/ProgramWindows.h"

#include <QApplication>
#include <chrono>

#include "about/FormAbout.h"
#include "browser/FormMediaBrowser.h"
#include "log/LogUnit.h"
#include "platform/Thread.h"
#include "player/Mplayer.h"
#include "settings/FormSettings.h"

void CreateProgramWindows(const AppFiles& files) {
    // The video window must be a native one for the player; its siblings, the docked
    // media browser above all, must not: made native beside it, the browser's later
    // paints never reached the screen (a click on "Other" left "Opera cache" showing).
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    frmMain = new TfrmMain(files);
    frmSettings = new TfrmSettings(frmMain);
    frmAbout = new TfrmAbout(frmMain);
    frmLog = new TfrmLog();
    frmSettings->logWindow = frmLog;
    frmMediaBrowser = new TfrmMediaBrowser();
}

bool DestroyProgramWindows() {
    using std::chrono::milliseconds;
    mplayer.OnStop = nullptr;
    const bool playersGone = mplayer.Shutdown(milliseconds(3000));
    const bool threadsGone = platform::WaitForThreads(milliseconds(2000));
    if (!playersGone || !threadsGone) {
        // A worker is still stuck (a process the player started may hold its output pipe)
        // and may yet log: the logger and the windows stay for the rest of the process.
        return false;
    }
    if (frmMediaBrowser && frmMediaBrowser->parentWidget() == nullptr) {
        delete frmMediaBrowser;  // never docked: the main window does not own it
    }
    delete frmMain;  // takes its children: the docked browser and both dialogs
    delete frmLog;
    frmMain = nullptr;
    frmSettings = nullptr;
    frmAbout = nullptr;
    frmMediaBrowser = nullptr;
    frmLog = nullptr;
    return true;
}
