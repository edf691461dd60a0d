#include "app/VideoSurface.h"

#include <QCoreApplication>
#include <QEvent>

VideoSurface::VideoSurface(QWidget* parent) : QWidget(parent) {
    setObjectName("pnlVideo");
    setAttribute(Qt::WA_NativeWindow);
    // Keep the main window itself non-native apart from this one child: a native
    // ancestor chain would give the player a window that Qt repaints.
    setAttribute(Qt::WA_DontCreateNativeAncestors);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

bool VideoSurface::event(QEvent* event) {
    if (event->type() != QEvent::UpdateRequest) {
        return QWidget::event(event);
    }
    // Qt hands the window's one pending update request to a widget that paints on
    // screen, and only a widget that paints through the window's backing store ever
    // clears it again: without passing it on, nothing else in the window (the docked
    // browser, the control bar's buttons) was repainted after the first file played.
    QWidget::event(event);
    if (QWidget* top = window(); top != this) {
        QEvent request(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(top, &request);
    }
    return true;
}
