#pragma once

#include <QSize>
#include <QWidget>

class QTimer;

// The native child window the player draws into. Qt must never paint over the player's
// pixels, so the widget paints on screen with no paint engine of its own: it has no
// backing-store content that a repaint could flush over the video.
class VideoSurface : public QWidget {
    Q_OBJECT
  public:
    explicit VideoSurface(QWidget* parent);

    QPaintEngine* paintEngine() const override { return nullptr; }

  protected:
    void paintEvent(QPaintEvent*) override {}
    bool event(QEvent* event) override;
};

// The area the video takes in the window, in the background colour, with the player's
// window centred in it at the picture's aspect. The player scales the picture to fill
// whatever window it is given (its plain X11 output would otherwise stretch it to the
// window's shape), so the bars beside or above the picture are ours.
class VideoFrame : public QWidget {
    Q_OBJECT
  public:
    VideoFrame(QWidget* parent, QRgb background);

    VideoSurface* Surface() const { return surface; }

    // The picture's size as it is meant to be seen; an empty size (a new file, before the
    // player has said) lets the player's window fill the frame.
    void SetPictureSize(QSize size);

  protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void PlaceSurface();

    QRgb background;
    VideoSurface* surface;
    QSize picture;
    // Wipes the player's window a moment after it was resized: the player may still draw
    // a frame where the picture was before it sees the new size, and it never wipes that
    // spot itself (full screen showed two pictures).
    QTimer* repaint;
};
