// Shows one of the program's secondary windows with sample content, for looking at them
// on a real display: windows_demo log|settings|about
#include <QApplication>
#include <QTabWidget>
#include <QTimer>

#include <cstring>
#include <string>

#include "about/FormAbout.h"
#include "log/LogUnit.h"
#include "settings/FormSettings.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Reelvault");
    const std::string which = argc > 1 ? argv[1] : "log";
    const int page = argc > 2 ? std::atoi(argv[2]) : 0;

    TfrmLog log;
    log.maxLines = 100;
    for (int n = 1; n <= 120; ++n) {
        log.OnLogLine(("2024-05-17 21:04:" + std::to_string(10 + n % 50) +
                       ".123 A:  12.3 V:  12.3 A-V:  0.000 ct:  0.000 " + std::to_string(n) + "/" +
                       std::to_string(n) + " 12% 3% 0.4% 0 0\n")
                          .c_str());
    }

    Settings settings;
    settings.Mplayer.instance = "/usr/bin/mplayer";
    settings.Opera.cacheDir = "/home/user/.opera/cache";
    settings.maxUiLogLines = 150;
    TfrmSettings dialog;
    dialog.appSettings = &settings;
    dialog.logWindow = &log;

    TfrmAbout about;

    if (which == "log") {
        log.show();
    } else if (which == "settings") {
        dialog.show();
        dialog.pcGeneral->setCurrentIndex(page);
    } else {
        about.show();
    }
    return QApplication::exec();
}
