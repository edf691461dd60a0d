#pragma once

#include <QWidget>

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
