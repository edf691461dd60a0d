#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>

class QWidget;
class QMouseEvent;

// Moves and resizes a borderless top-level window: by the window manager's own move and
// resize where it offers them, and by moving the window ourselves where it does not (no
// window manager at all, for instance).
class WindowDragger : public QObject {
    Q_OBJECT
  public:
    explicit WindowDragger(QWidget* window);

    // Starts moving the window with the left button that is down now.
    void BeginMove(const QPoint& globalPos);

    // A window covering the screen has no edges to pull.
    void SetResizable(bool resizable) { resizable_ = resizable; }

    // How close to the outer edge a press resizes instead of dragging.
    static constexpr int kEdge = 5;

    // The edges under `globalPos`, or none in the window's interior.
    Qt::Edges EdgesAt(const QPoint& globalPos) const;

    // A control that a press at the edge must still reach (a bar button, a scroll bar).
    static bool TakesOwnClicks(QObject* watched);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool BeginResize(Qt::Edges edges, const QPoint& globalPos);
    void Track(const QPoint& globalPos);
    void UpdateEdgeCursor(Qt::Edges edges);
    bool Belongs(QObject* watched) const;
    bool HandToWindowManager(Qt::Edges edges, const QPoint& globalPos);

    QWidget* window_;
    enum class Mode { None, Move, Resize } mode_ = Mode::None;
    Qt::Edges edges_;
    QPoint pressPos_;
    QRect pressGeometry_;
    bool overrideCursor_ = false;
    bool resizable_ = true;
};
