#include "app/VideoSurface.h"

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
