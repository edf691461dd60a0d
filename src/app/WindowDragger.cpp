#include "app/WindowDragger.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

#include "platform/NativeWindow.h"

WindowDragger::WindowDragger(QWidget* window) : QObject(window), window_(window) {
    qApp->installEventFilter(this);
}

Qt::Edges WindowDragger::EdgesAt(const QPoint& globalPos) const {
    Qt::Edges edges;
    if (!resizable_) {
        return edges;
    }
    const QRect frame = window_->frameGeometry();
    if (!frame.contains(globalPos)) {
        return edges;
    }
    if (globalPos.x() < frame.left() + kEdge)
        edges |= Qt::LeftEdge;
    if (globalPos.x() > frame.right() - kEdge)
        edges |= Qt::RightEdge;
    if (globalPos.y() < frame.top() + kEdge)
        edges |= Qt::TopEdge;
    if (globalPos.y() > frame.bottom() - kEdge)
        edges |= Qt::BottomEdge;
    return edges;
}

bool WindowDragger::TakesOwnClicks(QObject* watched) {
    return qobject_cast<QAbstractButton*>(watched) != nullptr ||
           qobject_cast<QAbstractSlider*>(watched) != nullptr;
}

// Qt's own system move and resize tell the window manager a pointer position off by the
// window's position, so the window jumps; the request is made here with the press's own.
bool WindowDragger::HandToWindowManager(Qt::Edges edges, const QPoint& globalPos) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || window_->windowHandle() == nullptr) {
        return false;
    }
    using platform::MoveResize;
    MoveResize what = MoveResize::Move;
    if (edges == (Qt::TopEdge | Qt::LeftEdge)) {
        what = MoveResize::TopLeft;
    } else if (edges == (Qt::TopEdge | Qt::RightEdge)) {
        what = MoveResize::TopRight;
    } else if (edges == (Qt::BottomEdge | Qt::LeftEdge)) {
        what = MoveResize::BottomLeft;
    } else if (edges == (Qt::BottomEdge | Qt::RightEdge)) {
        what = MoveResize::BottomRight;
    } else if (edges == Qt::TopEdge) {
        what = MoveResize::Top;
    } else if (edges == Qt::BottomEdge) {
        what = MoveResize::Bottom;
    } else if (edges == Qt::LeftEdge) {
        what = MoveResize::Left;
    } else if (edges == Qt::RightEdge) {
        what = MoveResize::Right;
    }
    // The window system counts device pixels.
    const qreal ratio = window_->devicePixelRatioF();
    return platform::StartWindowManagerMoveResize(x11->display(), window_->winId(), what,
                                                  qRound(globalPos.x() * ratio),
                                                  qRound(globalPos.y() * ratio));
}

void WindowDragger::BeginMove(const QPoint& globalPos) {
    if (HandToWindowManager({}, globalPos)) {
        return;
    }
    mode_ = Mode::Move;
    pressPos_ = globalPos;
    pressGeometry_ = window_->geometry();
}

bool WindowDragger::BeginResize(Qt::Edges edges, const QPoint& globalPos) {
    if (HandToWindowManager(edges, globalPos)) {
        return true;
    }
    mode_ = Mode::Resize;
    edges_ = edges;
    pressPos_ = globalPos;
    pressGeometry_ = window_->geometry();
    return true;
}

void WindowDragger::Track(const QPoint& globalPos) {
    const QPoint delta = globalPos - pressPos_;
    if (mode_ == Mode::Move) {
        window_->move(pressGeometry_.topLeft() + delta);
        return;
    }
    QRect r = pressGeometry_;
    const QSize min = window_->minimumSize();
    if (edges_ & Qt::LeftEdge)
        r.setLeft(std::min(r.left() + delta.x(), r.right() - min.width()));
    if (edges_ & Qt::RightEdge)
        r.setRight(std::max(r.right() + delta.x(), r.left() + min.width()));
    if (edges_ & Qt::TopEdge)
        r.setTop(std::min(r.top() + delta.y(), r.bottom() - min.height()));
    if (edges_ & Qt::BottomEdge)
        r.setBottom(std::max(r.bottom() + delta.y(), r.top() + min.height()));
    window_->setGeometry(r);
}

void WindowDragger::UpdateEdgeCursor(Qt::Edges edges) {
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge)) {
        shape = Qt::SizeFDiagCursor;
    } else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge)) {
        shape = Qt::SizeBDiagCursor;
    } else if (edges & (Qt::LeftEdge | Qt::RightEdge)) {
        shape = Qt::SizeHorCursor;
    } else if (edges & (Qt::TopEdge | Qt::BottomEdge)) {
        shape = Qt::SizeVerCursor;
    }
    const bool wanted = shape != Qt::ArrowCursor;
    if (wanted && overrideCursor_) {
        QApplication::changeOverrideCursor(shape);
    } else if (wanted) {
        QApplication::setOverrideCursor(shape);
    } else if (overrideCursor_) {
        QApplication::restoreOverrideCursor();
    }
    overrideCursor_ = wanted;
}

bool WindowDragger::Belongs(QObject* watched) const {
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget != nullptr && widget->window() == window_;
}

bool WindowDragger::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton || !Belongs(watched) || TakesOwnClicks(watched)) {
                break;
            }
            const QPoint global = mouse->globalPosition().toPoint();
            const Qt::Edges edges = EdgesAt(global);
            if (edges) {
                return BeginResize(edges, global);
            }
            break;
        }
        case QEvent::MouseMove: {
            if (!Belongs(watched)) {
                break;
            }
            auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint global = mouse->globalPosition().toPoint();
            if (mode_ != Mode::None) {
                Track(global);
                return true;
            }
            if (mouse->buttons() == Qt::NoButton) {
                UpdateEdgeCursor(TakesOwnClicks(watched) ? Qt::Edges() : EdgesAt(global));
            }
            break;
        }
        case QEvent::MouseButtonRelease:
            if (mode_ != Mode::None) {
                mode_ = Mode::None;
                return Belongs(watched);
            }
            break;
        case QEvent::Leave:
            if (watched == window_ && overrideCursor_) {
                UpdateEdgeCursor({});
            }
            break;
        default:
            break;
    }
    return false;
}
