// Shows the media browser panel over a folder, for looking at it (screenshots under Xvfb).
// Usage: browser_panel_demo CACHE_DIR [other]
#include <QApplication>
#include <QTimer>
#include <QTreeView>

#include "browser/FormMediaBrowser.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TfrmMediaBrowser panel;
    panel.SetCacheOptions(argc > 1 ? argv[1] : "", 0, true);
    if (argc > 2) {
        panel.SetOtherFile(argv[1], true);
    } else if (!panel.scanner.entries.empty()) {
        panel.selectedFileName = panel.scanner.entries[1 % panel.scanner.entries.size()].fileName;
        panel.RefreshList();
    }
    panel.move(40, 40);
    panel.show();
    panel.FocusFileControl();
    QTimer::singleShot(20000, &app, &QApplication::quit);
    return QApplication::exec();
}
