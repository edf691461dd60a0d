#include "app/VideoSurface.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QTimer>

#include "platform/NativeWindow.h"

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

VideoFrame::VideoFrame(QWidget* parent, QRgb backgroundColor)
    : QWidget(parent),
      background(backgroundColor),
      surface(new VideoSurface(this)),
      repaint(new QTimer(this)) {
    setObjectName("pnlVideoFrame");
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    repaint->setSingleShot(true);
    repaint->setInterval(300);
    connect(repaint, &QTimer::timeout, this,
            [this] { platform::RepaintNativeWindow(surface->winId()); });
}

void VideoFrame::SetPictureSize(QSize size) {
    picture = size;
    PlaceSurface();
}

void VideoFrame::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), QColor::fromRgb(background));
}

void VideoFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceSurface();
}

void VideoFrame::PlaceSurface() {
    QRect place = rect();
    if (!picture.isEmpty() && !place.isEmpty()) {
        // 64-bit products: the sizes are the player's and the screen's, at most 2^16 each.
        const qint64 frameWidth = width(), frameHeight = height();
        if (frameWidth * picture.height() > frameHeight * picture.width()) {
            const int w = static_cast<int>((frameHeight * picture.width() + picture.height() / 2) /
                                           picture.height());
            place = QRect((width() - w) / 2, 0, w, height());
        } else {
            const int h = static_cast<int>((frameWidth * picture.height() + picture.width() / 2) /
                                           picture.width());
            place = QRect(0, (height() - h) / 2, width(), h);
        }
    }
    if (surface->geometry() == place) {
        return;
    }
    const bool resized = surface->size() != place.size();
    surface->setGeometry(place);
    if (resized && surface->isVisible()) {
        repaint->start();
    }
}
