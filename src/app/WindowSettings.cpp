#include "app/WindowSettings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "log/Log.h"
#include "platform/ExecutableFiles.h"
#include "platform/Screen.h"

void InstallScreenSizeProvider() {
    platform::SetScreenSizeProvider([] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr) {
            return platform::ScreenSize{};  // no screen: the fallback size
        }
        const QSize size = screen->size();
        return platform::ScreenSize{size.width(), size.height()};
    });
}

void PlaceWindow(QWidget& window, const Settings& settings) {
    window.resize(settings.appWidth, settings.appHeight);
    window.move(settings.appPositionX, settings.appPositionY);
    if (settings.maximized) {
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
    }
}

void StoreWindowBounds(const QWidget& window, Settings& settings) {
    settings.maximized = false;
    if (window.isMaximized()) {
        return;
    }
    settings.appWidth = window.width();
    settings.appHeight = window.height();
    settings.appPositionY = window.y();
    settings.appPositionX = window.x();
}

void ChooseLogFile(const Settings& settings) {
    // A file that cannot be opened is skipped by the logger; nothing to tell the user.
    (void)CLog::Instance()->SetLogFile(settings.logToFile ? platform::LogFilePath()
                                                          : std::string());
}
