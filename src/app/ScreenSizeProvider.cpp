#include "app/ScreenSizeProvider.h"

#include <QGuiApplication>
#include <QScreen>

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
